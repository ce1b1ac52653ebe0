// Names of error codes, for --json error output and logs.

#include "platform/result.h"

#include "platform/enum_names.h"

namespace korvel {

namespace {

constexpr auto kErrorCodeNames = enumNames<ErrorCode>("notFound", "invalidInput", "io", "corrupt", "network",
                                                      "timeout", "denied", "cancelled");

}  // namespace

const char* errorCodeName(ErrorCode code) { return kErrorCodeNames.name(code); }

}  // namespace korvel
