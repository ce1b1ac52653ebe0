#pragma once
// How every command prints: records as JSON on standard output, refusals as one sentence on
// standard error.

#include "apps/korvel/cli.h"
#include "platform/json.h"
#include "platform/result.h"

namespace korvel::cli {

// Pretty JSON in the canonical encoding ("/" written "\/") and a trailing line feed.
void printJson(Context& context, const Json& value);

// Prints the error's sentence on standard error, then the operating system's cause and path on
// a second line when the sentence does not already say them, and sets exit code 1.
void reportFailure(Context& context, const Error& error);

}  // namespace korvel::cli
