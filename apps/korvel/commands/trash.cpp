// `korvel trash ID`, `korvel trash list` and `korvel restore ENTRY_OR_ID`: moving meetings to
// Korvel's own Trash and back.

#include <CLI/CLI.hpp>

#include <ostream>

#include <fmt/format.h>

#include "apps/korvel/archive_options.h"
#include "apps/korvel/commands.h"
#include "apps/korvel/identifier_prefix.h"
#include "core/archive/trash.h"

namespace korvel::cli {
namespace {

constexpr const char* kNotInTrash = "Choose a meeting in Korvel’s Trash.";
constexpr const char* kSeveralEntries =
    "Several Trash entries hold this meeting; choose one by its entry name (see korvel trash list).";

Json entryJson(const Archive& archive, const TrashedSession& session) {
  Json json = sessionJson(archive, ArchivedSession{session.entry, session.meeting});
  json["entry"] = session.entry.filename().string();
  return json;
}

void trashMeeting(const ArchiveOptions& options, const std::string& meetingID, Context& context) {
  const auto opened = openExistingArchiveOrReport(options, context);
  if (!opened) return;
  const Archive& archive = *opened;
  auto session = findMeetingOrReport(archive, meetingID, context);
  if (!session) return;
  auto entry = moveToTrash(archive, session->folder, meetingID);
  if (!entry) return reportFailure(context, entry.error());
  if (options.json) {
    printJson(context, entryJson(archive, TrashedSession{*entry, session->meeting}));
  } else {
    context.out << fmt::format("Moved “{}” to Trash as {}.\n", session->meeting.title,
                               shortIdentifier(entry->filename().string()));
  }
}

void listTrash(const ArchiveOptions& options, Context& context) {
  const auto opened = openExistingArchiveOrReport(options, context);
  if (!opened) return;
  const Archive& archive = *opened;
  auto sessions = trashedSessions(archive, [&](const std::filesystem::path& item, const Error& error) {
    context.err << fmt::format("Skipped {}: {}\n", item.string(), error.message);
  });
  if (!sessions) return reportFailure(context, sessions.error());
  if (options.json) {
    Json items = Json::array();
    for (const auto& session : *sessions) items.push_back(entryJson(archive, session));
    return printJson(context, items);
  }
  if (sessions->empty()) {
    context.out << "Trash is empty.\n";
    return;
  }
  for (const auto& session : *sessions)
    context.out << fmt::format("{}  {}  {}  {}\n", shortIdentifier(session.entry.filename().string()), session.meeting.id,
                               formatIso8601(session.meeting.startedAt), session.meeting.title);
}

// An argument naming an item in Trash is that entry, checked as an entry; otherwise it names
// the meeting inside one valid entry. Either may be shortened to a unique prefix of at least
// 8 characters.
std::optional<TrashedSession> findTrashed(const Archive& archive, const std::string& entryOrID, Context& context) {
  auto named = findTrashEntry(archive, entryOrID);
  if (!named) {
    reportFailure(context, named.error());
    return std::nullopt;
  }
  if (*named) return std::move(*named);
  auto sessions = trashedSessions(archive);
  if (!sessions) {
    reportFailure(context, sessions.error());
    return std::nullopt;
  }
  std::vector<std::string> names;
  for (const auto& session : *sessions) {
    names.push_back(session.entry.filename().string());
    names.push_back(session.meeting.id);
  }
  const auto chosen = identifiersMatching(entryOrID, names);
  if (chosen.size() > 1) {
    reportFailure(context, ambiguousIdentifier(entryOrID, chosen, "Trash entries and meetings"));
    return std::nullopt;
  }
  std::vector<TrashedSession> matches;
  for (const auto& session : *sessions) {
    if (chosen.empty()) break;
    if (session.entry.filename() == chosen.front()) return session;
    if (session.meeting.id == chosen.front()) matches.push_back(session);
  }
  if (matches.size() == 1) return matches.front();
  reportFailure(context, makeError(matches.empty() ? ErrorCode::NotFound : ErrorCode::InvalidInput,
                                   matches.empty() ? kNotInTrash : kSeveralEntries));
  return std::nullopt;
}

void restoreMeeting(const ArchiveOptions& options, const std::string& entryOrID, Context& context) {
  const auto opened = openExistingArchiveOrReport(options, context);
  if (!opened) return;
  const Archive& archive = *opened;
  auto session = findTrashed(archive, entryOrID, context);
  if (!session) return;
  auto folder = restoreFromTrash(archive, session->entry, session->meeting.id);
  if (!folder) return reportFailure(context, folder.error());
  const std::string relative = archive.relativePath(*folder).value_or(folder->string());
  if (options.json) {
    printJson(context, sessionJson(archive, ArchivedSession{*folder, session->meeting}));
  } else {
    context.out << fmt::format("Restored “{}” to {}.\n", session->meeting.title, relative);
  }
}

void addTrashCommands(CLI::App& app, Context& context) {
  auto* trash = app.add_subcommand("trash", "Move a finished meeting to Korvel's Trash (nothing is deleted).");
  trash->description(
      "Move a finished meeting's folder, whole, into the archive's Trash, remembering where it lived. "
      "`korvel trash list` shows what is in Trash; `korvel restore` moves a meeting back.");
  auto trashOptions = addArchiveOptions(*trash, context);
  auto meetingID = std::make_shared<std::string>();
  trash->add_option("ID", *meetingID, "Identifier of the meeting to move to Trash");

  auto* list = trash->add_subcommand("list", "List the meetings in Trash, newest first.");
  auto listOptions = addArchiveOptions(*list, context);
  list->callback([listOptions, &context] { listTrash(*listOptions, context); });

  trash->callback([list, trashOptions, meetingID, &context] {
    if (list->parsed()) return;
    if (meetingID->empty()) {
      context.err << "Usage: korvel trash ID, or korvel trash list (korvel trash --help tells more).\n";
      context.exitCode = kExitUsage;
      return;
    }
    trashMeeting(*trashOptions, *meetingID, context);
  });

  auto* restore = app.add_subcommand("restore", "Move a meeting from Trash back to where it lived.");
  auto restoreOptions = addArchiveOptions(*restore, context);
  auto entryOrID = std::make_shared<std::string>();
  restore->add_option("ENTRY_OR_ID", *entryOrID, "A Trash entry name or a trashed meeting's identifier, or a unique prefix of either (8 or more characters)")
      ->required();
  restore->callback([restoreOptions, entryOrID, &context] { restoreMeeting(*restoreOptions, *entryOrID, context); });
}

}  // namespace

KORVEL_COMMAND_GROUP(30, addTrashCommands);

}  // namespace korvel::cli
