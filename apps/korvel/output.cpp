// Printing records and refusals.

#include "apps/korvel/output.h"

#include <ostream>

namespace korvel::cli {

void printJson(Context& context, const Json& value) { context.out << encodePretty(value) << "\n"; }

void reportFailure(Context& context, const Error& error) {
  context.err << error.message << "\n";
  context.exitCode = kExitFailed;
}

}  // namespace korvel::cli
