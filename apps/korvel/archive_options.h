#pragma once
// The options every archive command shares (--archive DIR, --json) and the few steps they all
// take with them: open the archive and find a meeting by id.

#include <memory>
#include <string>

#include "apps/korvel/cli.h"
#include "apps/korvel/output.h"
#include "core/archive/archive.h"
#include "platform/json.h"
#include "platform/result.h"

namespace CLI {
class App;
}

namespace korvel::cli {

struct ArchiveOptions {
  std::string archive;  // empty: the platform's archive root
  bool json = false;
};

// Adds --archive and --json to `command`. The options live as long as the callbacks that
// capture the returned pointer.
std::shared_ptr<ArchiveOptions> addArchiveOptions(CLI::App& command, Context& context);

// The archive the options name, with the context's clock and the computer's time zone.
Archive openArchive(const ArchiveOptions& options, const Context& context);

// For commands that only read or edit what is there: the archive, or nothing after reporting
// "No archive at DIR." (exit 1) when its root is missing or not a folder, so a mistyped path is
// never shown as an empty archive. Only commands that create meetings may use openArchive alone.
std::optional<Archive> openExistingArchiveOrReport(const ArchiveOptions& options, Context& context);

// The live meeting with this id, or the refusal already reported (exit code 1).
std::optional<ArchivedSession> findMeetingOrReport(const Archive& archive, const std::string& meetingID,
                                                   Context& context);

// The listing fields of a meeting: id, title, startedAt, state, folder (relative, "/"-separated)
// and the other manifest members a script may want.
Json sessionJson(const Archive& archive, const ArchivedSession& session);

}  // namespace korvel::cli
