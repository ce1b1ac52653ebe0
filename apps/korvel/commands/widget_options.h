#pragma once
// Options shared by the status, widget and intent commands: where the status file is and what
// "now" is.

#include <CLI/CLI.hpp>

#include <optional>
#include <ostream>
#include <string>

#include <fmt/format.h>

#include "apps/korvel/cli.h"
#include "apps/korvel/output.h"
#include "platform/date.h"
#include "platform/json.h"
#include "widgets/snapshot_storage.h"

namespace korvel::cli {

struct StatusFileOptions {
  std::string statusFile;  // empty: the shared container's file
  std::string now;         // empty: the clock
};

// Accepts the ISO 8601 dates the tool takes, e.g. 2026-03-04T14:15:00Z.
inline CLI::Validator isoDateValidator() {
  return CLI::Validator(
      [](std::string& text) -> std::string {
        if (parseIso8601(text)) return {};
        return fmt::format("\"{}\" is not an ISO 8601 date such as 2026-03-04T14:15:00Z.", text);
      },
      "ISO8601", "ISO8601");
}

inline void addStatusFileOptions(CLI::App* command, StatusFileOptions& options) {
  command->add_option("--status-file", options.statusFile,
                      "The status file to use (default: recorder-status.json in the shared container)");
  command->add_option("--now", options.now, "The moment to act at, in ISO 8601 (default: the clock)")
      ->check(isoDateValidator());
}

inline widgets::WidgetSnapshotStorage statusStorage(const StatusFileOptions& options, const Context& context) {
  if (!options.statusFile.empty()) return widgets::WidgetSnapshotStorage{options.statusFile};
  return widgets::WidgetSnapshotStorage::inContainer(context.folders.sharedContainer);
}

// The validator already refused anything unparsable.
inline Date statusNow(const StatusFileOptions& options, const Context& context) {
  if (options.now.empty()) return context.clock.now();
  return parseIso8601(options.now).valueOr(context.clock.now());
}

}  // namespace korvel::cli
