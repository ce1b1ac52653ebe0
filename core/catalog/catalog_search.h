#pragma once
// How a keyword query becomes the catalog's full-text match expression.

#include <string>
#include <string_view>

namespace korvel {

// Each double-quoted phrase or white-space-separated word with at least one letter, mark or
// digit becomes one quoted FTS5 term (inner quotes doubled); terms are joined with " AND ".
// Only the first 2,000 characters of the query count. Empty when nothing searchable remains.
std::string searchExpression(std::string_view query);

}  // namespace korvel
