#pragma once
// Typed reading of the current row of a stepped catalog statement.

#include <sqlite3.h>

#include <cstdint>
#include <string>

#include "core/catalog/catalog.h"

namespace korvel {

class Catalog::Row {
 public:
  explicit Row(sqlite3_stmt* statement) : statement_(statement) {}

  bool isNull(int column) const { return sqlite3_column_type(statement_, column) == SQLITE_NULL; }
  // A NULL reads as the empty string.
  std::string text(int column) const {
    const auto* bytes = reinterpret_cast<const char*>(sqlite3_column_text(statement_, column));
    if (!bytes) return {};
    return std::string(bytes, static_cast<size_t>(sqlite3_column_bytes(statement_, column)));
  }
  double number(int column) const { return sqlite3_column_double(statement_, column); }
  int64_t integer(int column) const { return sqlite3_column_int64(statement_, column); }

 private:
  sqlite3_stmt* statement_;
};

}  // namespace korvel
