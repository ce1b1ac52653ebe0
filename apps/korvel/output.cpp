// Printing records and refusals.

#include "apps/korvel/output.h"

#include <ostream>

namespace korvel::cli {

void printJson(Context& context, const Json& value) { context.out << encodePretty(value) << "\n"; }

void reportFailure(Context& context, const Error& error) {
  context.err << error.message << "\n";
  // The operating system's own words and the path, when the sentence above replaced them.
  if (!error.detail.empty() && error.detail != error.message) context.err << error.detail << "\n";
  context.exitCode = kExitFailed;
}

}  // namespace korvel::cli
