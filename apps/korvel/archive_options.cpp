// Shared handling of --archive and --json, meeting lookup and output for the archive commands.

#include "apps/korvel/archive_options.h"

#include <CLI/CLI.hpp>

#include <ostream>

#include <fmt/format.h>

#include "core/archive/user_settings.h"
#include "platform/timezone.h"

namespace korvel::cli {

std::shared_ptr<ArchiveOptions> addArchiveOptions(CLI::App& command, Context& context) {
  auto options = std::make_shared<ArchiveOptions>();
  command.add_option("--archive", options->archive, "Archive folder")
      ->type_name("DIR")
      ->default_str(context.folders.archiveRoot.string());
  command.add_flag("--json", options->json, "Print JSON for scripts instead of text");
  return options;
}

Archive openArchive(const ArchiveOptions& options, const Context& context) {
  const std::filesystem::path root =
      options.archive.empty()
          ? defaultArchiveRoot(*context.fileSystem, context.folders, context.environment).valueOr(context.folders.archiveRoot)
          : std::filesystem::path(options.archive);
  std::string zone = currentTimeZoneIdentifier();
  // The tool's own environment decides, so a script (or a test) can pin the date folders.
  if (context.environment) {
    if (auto tz = context.environment("TZ"); tz && !tz->empty()) zone = tz->front() == ':' ? tz->substr(1) : *tz;
  }
  return Archive(root, context.clock, zone, *context.fileSystem);
}

std::optional<Archive> openExistingArchiveOrReport(const ArchiveOptions& options, Context& context) {
  Archive archive = openArchive(options, context);
  auto root = archive.openRoot();
  if (root) return archive;
  if (root.error().code == ErrorCode::NotFound) {
    reportFailure(context, makeError(ErrorCode::NotFound, fmt::format("No archive at {}.", archive.root().string())));
  } else {
    reportFailure(context, root.error());
  }
  return std::nullopt;
}

std::optional<ArchivedSession> findMeetingOrReport(const Archive& archive, const std::string& meetingID,
                                                   Context& context) {
  auto session = archive.find(meetingID);
  if (!session) {
    reportFailure(context, session.error());
    return std::nullopt;
  }
  return std::move(*session);
}

Json sessionJson(const Archive& archive, const ArchivedSession& session) {
  const Meeting& meeting = session.meeting;
  Json json{{"id", meeting.id},
            {"title", meeting.title},
            {"startedAt", formatIso8601(meeting.startedAt)},
            {"state", toString(meeting.state)},
            {"timezone", meeting.timezone},
            {"duration", meeting.duration()},
            {"segmentCount", meeting.segments.size()},
            {"warnings", meeting.warnings}};
  json["folder"] = archive.relativePath(session.folder).value_or(session.folder.string());
  Json sources = Json::array();
  for (const auto& source : meeting.sources) sources.push_back(source.toJson());
  json["sources"] = std::move(sources);
  if (meeting.titleEditedByUser) json["titleEditedByUser"] = *meeting.titleEditedByUser;
  return json;
}

}  // namespace korvel::cli
