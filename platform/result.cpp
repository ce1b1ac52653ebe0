// Names of error codes, for --json error output and logs.

#include "platform/result.h"

namespace korvel {

const char* errorCodeName(ErrorCode code) {
  switch (code) {
    case ErrorCode::NotFound: return "notFound";
    case ErrorCode::InvalidInput: return "invalidInput";
    case ErrorCode::Io: return "io";
    case ErrorCode::Corrupt: return "corrupt";
    case ErrorCode::Network: return "network";
    case ErrorCode::Timeout: return "timeout";
    case ErrorCode::Denied: return "denied";
    case ErrorCode::Cancelled: return "cancelled";
  }
  return "io";
}

}  // namespace korvel
