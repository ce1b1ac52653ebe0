// `korvel list`, `korvel show ID`, `korvel rename ID TITLE` and `korvel recover ID`: reading and
// editing the meetings of the archive.

#include <CLI/CLI.hpp>

#include <ostream>

#include <fmt/format.h>

#include "apps/korvel/archive_options.h"
#include "apps/korvel/commands.h"

namespace korvel::cli {
namespace {

void listMeetings(const ArchiveOptions& options, Context& context) {
  const auto opened = openExistingArchiveOrReport(options, context);
  if (!opened) return;
  const Archive& archive = *opened;
  const auto sessions = archive.sessions([&](const std::filesystem::path& manifest, const Error& error) {
    context.err << fmt::format("Skipped {}: {}\n", manifest.string(), error.message);
  });
  if (options.json) {
    Json items = Json::array();
    for (const auto& session : sessions) items.push_back(sessionJson(archive, session));
    return printJson(context, items);
  }
  if (sessions.empty()) {
    context.out << "The archive has no meetings.\n";
    return;
  }
  for (const auto& session : sessions)
    context.out << fmt::format("{}  {:<10}  {}  {}\n", formatIso8601(session.meeting.startedAt),
                               toString(session.meeting.state), session.meeting.id, session.meeting.title);
}

void showMeeting(const ArchiveOptions& options, const std::string& meetingID, Context& context) {
  const auto opened = openExistingArchiveOrReport(options, context);
  if (!opened) return;
  const Archive& archive = *opened;
  auto session = findMeetingOrReport(archive, meetingID, context);
  if (!session) return;
  const Meeting& meeting = session->meeting;
  if (options.json) {
    Json json = meeting.toJson();
    json["folder"] = archive.relativePath(session->folder).value_or(session->folder.string());
    return printJson(context, json);
  }
  auto& out = context.out;
  out << fmt::format("Title:    {}\n", meeting.title);
  out << fmt::format("ID:       {}\n", meeting.id);
  out << fmt::format("Started:  {} ({})\n", formatIso8601(meeting.startedAt), meeting.timezone);
  out << fmt::format("State:    {}\n", toString(meeting.state));
  out << fmt::format("Duration: {:.1f} s\n", meeting.duration());
  out << fmt::format("Folder:   {}\n", archive.relativePath(session->folder).value_or(session->folder.string()));
  out << "Sources:\n";
  for (const auto& source : meeting.sources) out << fmt::format("  {}  {}  {}\n", source.id, source.kind, source.name);
  out << fmt::format("Segments: {}\n", meeting.segments.size());
  for (const auto& segment : meeting.segments)
    out << fmt::format("  {}  {}  {:.1f}+{:.1f} s  {} bytes\n", segment.file, segment.sourceID, segment.start,
                       segment.duration, segment.bytes);
  if (!meeting.warnings.empty()) {
    out << "Warnings:\n";
    for (const auto& warning : meeting.warnings) out << "  " << warning << "\n";
  }
}

struct RenameArguments {
  std::string meetingID;
  std::string title;
  std::optional<std::string> expectedTitle;
};

void renameMeeting(const ArchiveOptions& options, const RenameArguments& arguments, Context& context) {
  const auto opened = openExistingArchiveOrReport(options, context);
  if (!opened) return;
  const Archive& archive = *opened;
  auto session = findMeetingOrReport(archive, arguments.meetingID, context);
  if (!session) return;
  // Without --expected-title, the title this read shows is the one the user is replacing.
  const std::string expected = arguments.expectedTitle.value_or(session->meeting.title);
  auto renamed = archive.renameMeeting(session->folder, arguments.meetingID, expected, arguments.title);
  if (!renamed) return reportFailure(context, renamed.error());
  if (options.json) return printJson(context, sessionJson(archive, ArchivedSession{session->folder, *renamed}));
  if (renamed->title == session->meeting.title) context.out << fmt::format("The title is already “{}”.\n", renamed->title);
  else context.out << fmt::format("Renamed {} to “{}”.\n", renamed->id, renamed->title);
}

void recoverMeeting(const ArchiveOptions& options, const std::string& meetingID, Context& context) {
  const auto opened = openExistingArchiveOrReport(options, context);
  if (!opened) return;
  const Archive& archive = *opened;
  auto session = findMeetingOrReport(archive, meetingID, context);
  if (!session) return;
  const SessionState before = session->meeting.state;
  auto recovered = archive.recover(session->folder);
  if (!recovered) return reportFailure(context, recovered.error());
  if (options.json) return printJson(context, sessionJson(archive, ArchivedSession{session->folder, *recovered}));
  if (!isActive(before)) {
    context.out << fmt::format("The meeting is already {}; nothing to recover.\n", toString(before));
    return;
  }
  const size_t added = recovered->segments.size() - session->meeting.segments.size();
  context.out << fmt::format("Marked “{}” incomplete with {} segments ({} recovered from segment records).\n",
                             recovered->title, recovered->segments.size(), added);
}

void addArchiveCommands(CLI::App& app, Context& context) {
  auto* list = app.add_subcommand("list", "List the archive's meetings, newest first");
  auto listOptions = addArchiveOptions(*list, context);
  list->callback([listOptions, &context] { listMeetings(*listOptions, context); });

  auto* show = app.add_subcommand("show", "Show one meeting's manifest");
  auto showOptions = addArchiveOptions(*show, context);
  auto showID = std::make_shared<std::string>();
  show->add_option("ID", *showID, "Meeting identifier")->required();
  show->callback([showOptions, showID, &context] { showMeeting(*showOptions, *showID, context); });

  auto* rename = app.add_subcommand("rename", "Change a finished meeting's title");
  auto renameOptions = addArchiveOptions(*rename, context);
  auto renameArguments = std::make_shared<RenameArguments>();
  rename->add_option("ID", renameArguments->meetingID, "Meeting identifier")->required();
  rename->add_option("TITLE", renameArguments->title, "New title (1–300 characters, one line)")->required();
  rename->add_option("--expected-title", renameArguments->expectedTitle,
                     "Refuse unless the stored title is still this one (default: the title just read)");
  rename->callback([renameOptions, renameArguments, &context] {
    renameMeeting(*renameOptions, *renameArguments, context);
  });

  auto* recover = app.add_subcommand("recover", "Mark a meeting left recording by a crash incomplete, keeping its committed segments");
  auto recoverOptions = addArchiveOptions(*recover, context);
  auto recoverID = std::make_shared<std::string>();
  recover->add_option("ID", *recoverID, "Meeting identifier")->required();
  recover->callback([recoverOptions, recoverID, &context] { recoverMeeting(*recoverOptions, *recoverID, context); });
}

}  // namespace

KORVEL_COMMAND_GROUP(20, addArchiveCommands);

}  // namespace korvel::cli
