// `korvel transcripts list|show|export`: a meeting's transcript revisions, read from its folder.

#include <CLI/CLI.hpp>

#include <algorithm>
#include <ostream>

#include <fmt/format.h>

#include "apps/korvel/archive_options.h"
#include "apps/korvel/commands.h"
#include "apps/korvel/identifier_prefix.h"
#include "core/catalog/transcript_document.h"
#include "platform/timecode.h"

namespace korvel::cli {
namespace {

struct RevisionChoice {
  std::string meetingID;
  std::string revision;  // empty: each track's latest; otherwise the id or a unique prefix of it
  std::string source;    // empty: every track
  std::string format = "vtt";
};

// The meeting's opened folder, its tracks and its revisions in lineage order.
struct Revisions {
  Dir folder;
  Meeting meeting;
  std::vector<TranscriptDocument> lineage;
};

std::optional<Revisions> loadLineage(const ArchiveOptions& options, const std::string& meetingID, Context& context) {
  const auto opened = openExistingArchiveOrReport(options, context);
  if (!opened) return std::nullopt;
  const Archive& archive = *opened;
  auto session = findMeetingOrReport(archive, meetingID, context);
  if (!session) return std::nullopt;
  auto folder = archive.openMeetingFolder(session->folder);
  if (!folder) {
    reportFailure(context, folder.error());
    return std::nullopt;
  }
  auto lineage = TranscriptArtifacts::loadAll(*folder, session->meeting.id);
  if (!lineage) {
    reportFailure(context, lineage.error());
    return std::nullopt;
  }
  return Revisions{std::move(*folder), std::move(session->meeting), std::move(*lineage)};
}

// A --source that is none of the meeting's tracks is refused with the tracks it has.
bool sourceIsKnownOrReport(const Revisions& revisions, const std::string& source, Context& context) {
  if (source.empty()) return true;
  std::vector<std::string> tracks;
  for (const auto& track : revisions.meeting.sources) tracks.push_back(fmt::format("{} ({})", track.id, track.kind));
  for (const auto& document : revisions.lineage) {
    if (document.sourceID == source) return true;
  }
  for (const auto& track : revisions.meeting.sources) {
    if (track.id == source) return true;
  }
  std::string listed;
  for (const auto& track : tracks) listed += (listed.empty() ? "" : ", ") + track;
  reportFailure(context, makeError(ErrorCode::NotFound,
                                   tracks.empty() ? fmt::format("This meeting has no track “{}”.", source)
                                                  : fmt::format("This meeting has no track “{}”; its tracks are {}.",
                                                                source, listed)));
  return false;
}

// The revisions the options choose: the named one, or the latest of each chosen track (every
// track unless --source names one), in the order the tracks first appear in the lineage.
std::optional<std::vector<TranscriptDocument>> chooseRevisions(const Revisions& revisions, const RevisionChoice& choice,
                                                               Context& context) {
  const auto& lineage = revisions.lineage;
  if (!sourceIsKnownOrReport(revisions, choice.source, context)) return std::nullopt;
  if (!choice.revision.empty()) {
    std::vector<std::string> ids;
    for (const auto& document : lineage) {
      if (choice.source.empty() || document.sourceID == choice.source) ids.push_back(document.id);
    }
    const auto matches = identifiersMatching(choice.revision, ids);
    if (matches.size() > 1) {
      reportFailure(context, ambiguousIdentifier(choice.revision, matches, "revisions"));
      return std::nullopt;
    }
    for (const auto& document : lineage) {
      if (!matches.empty() && document.id == matches.front()) return std::vector<TranscriptDocument>{document};
    }
    reportFailure(context,
                  makeError(ErrorCode::NotFound, "This meeting has no transcript revision with that identifier."));
    return std::nullopt;
  }
  std::vector<TranscriptDocument> latest;
  for (const auto& document : lineage) {
    if (!choice.source.empty() && document.sourceID != choice.source) continue;
    auto same = std::find_if(latest.begin(), latest.end(),
                             [&](const TranscriptDocument& kept) { return kept.sourceID == document.sourceID; });
    if (same == latest.end()) latest.push_back(document);
    else *same = document;  // lineage order: a later revision of the track replaces its parent
  }
  if (latest.empty()) {
    reportFailure(context, makeError(ErrorCode::NotFound, choice.source.empty()
                                                              ? "This meeting has no transcripts yet."
                                                              : "This meeting has no transcript for that track yet."));
    return std::nullopt;
  }
  return latest;
}

Json summaryJson(const TranscriptDocument& document) {
  Json json = document.toJson();
  json.erase("utterances");
  json["utteranceCount"] = document.utterances.size();
  return json;
}

void listRevisions(const ArchiveOptions& options, const std::string& meetingID, Context& context) {
  auto revisions = loadLineage(options, meetingID, context);
  if (!revisions) return;
  if (options.json) {
    Json items = Json::array();
    for (const auto& document : revisions->lineage) items.push_back(summaryJson(document));
    return printJson(context, items);
  }
  if (revisions->lineage.empty()) {
    context.out << "This meeting has no transcripts yet.\n";
    return;
  }
  for (const auto& document : revisions->lineage) {
    context.out << fmt::format("{}  {}  {}  {}  {} utterances{}\n", shortIdentifier(document.id), document.sourceID,
                               formatIso8601(document.createdAt), document.language, document.utterances.size(),
                               document.parentVersionID ? "  from " + shortIdentifier(*document.parentVersionID) : "");
  }
}

// Every chosen revision's utterances merged by start time (ties keep track order), each line
// naming its track and speaker.
void showRevision(const ArchiveOptions& options, const RevisionChoice& choice, Context& context) {
  auto revisions = loadLineage(options, choice.meetingID, context);
  if (!revisions) return;
  auto documents = chooseRevisions(*revisions, choice, context);
  if (!documents) return;
  if (options.json) {
    // One revision asked for is printed alone; every track's current revision, as a list.
    if (!choice.revision.empty() || !choice.source.empty()) return printJson(context, documents->front().toJson());
    Json items = Json::array();
    for (const auto& document : *documents) items.push_back(document.toJson());
    return printJson(context, items);
  }
  struct Line {
    double start;
    size_t track;
    const TranscriptUtterance* utterance;
  };
  std::vector<Line> lines;
  for (size_t track = 0; track < documents->size(); ++track) {
    const auto& document = (*documents)[track];
    context.out << fmt::format("Revision {} of track {} ({}, {})\n", shortIdentifier(document.id), document.sourceID,
                               document.language, document.model);
    for (const auto& utterance : document.utterances) lines.push_back({utterance.start, track, &utterance});
  }
  std::stable_sort(lines.begin(), lines.end(), [](const Line& a, const Line& b) { return a.start < b.start; });
  for (const auto& line : lines) {
    context.out << fmt::format("[{}] {}  {}{}\n", paddedTimecode(line.start), (*documents)[line.track].sourceID,
                               line.utterance->speaker ? *line.utterance->speaker + ": " : "", line.utterance->text);
  }
}

void exportRevision(const ArchiveOptions& options, const RevisionChoice& choice, Context& context) {
  if (options.json) {
    context.err << "export prints the stored WebVTT; for JSON use korvel transcripts show ID --json.\n";
    context.exitCode = kExitUsage;
    return;
  }
  auto revisions = loadLineage(options, choice.meetingID, context);
  if (!revisions) return;
  auto documents = chooseRevisions(*revisions, choice, context);
  if (!documents) return;
  if (documents->size() > 1) {
    std::string tracks;
    for (const auto& document : *documents) tracks += (tracks.empty() ? "" : ", ") + document.sourceID;
    return reportFailure(context, makeError(ErrorCode::InvalidInput,
                                            fmt::format("This meeting has several tracks ({}); choose one with "
                                                        "--source or --revision.",
                                                        tracks)));
  }
  const TranscriptDocument& document = documents->front();
  // The stored rendering is the published one; printing it, not a fresh rendering, keeps
  // exports byte-identical to what other readers of the folder see.
  auto revision = revisions->folder.openPath({TranscriptArtifacts::kFolderName, document.id});
  if (!revision) return reportFailure(context, revision.error());
  auto vtt = revision->readFile(TranscriptArtifacts::kRenditionName, TranscriptDocument::kMaximumDocumentBytes);
  if (!vtt) return reportFailure(context, vtt.error());
  context.out << *vtt;
}

void addTranscriptCommands(CLI::App& app, Context& context) {
  auto* group = app.add_subcommand("transcripts", "Read a meeting's transcript revisions.");
  group->require_subcommand(1);

  auto* list = group->add_subcommand("list", "List a meeting's revisions in lineage order (parents first).");
  auto listOptions = addArchiveOptions(*list, context);
  auto listID = std::make_shared<std::string>();
  list->add_option("ID", *listID, "The meeting's identifier.")->required();
  list->callback([listOptions, listID, &context] { listRevisions(*listOptions, *listID, context); });

  auto* show = group->add_subcommand("show", "Print the current revision of every track, interleaved by time, or one chosen revision.");
  auto showOptions = addArchiveOptions(*show, context);
  auto showChoice = std::make_shared<RevisionChoice>();
  show->add_option("ID", showChoice->meetingID, "The meeting's identifier.")->required();
  show->add_option("--revision", showChoice->revision,
                   "A revision identifier or a unique prefix of 8 or more characters (default: each track's latest).");
  show->add_option("--source", showChoice->source, "Only this track (default: every track).");
  show->callback([showOptions, showChoice, &context] { showRevision(*showOptions, *showChoice, context); });

  auto* exported = group->add_subcommand("export", "Print a revision's stored rendering, byte for byte.");
  auto exportOptions = addArchiveOptions(*exported, context);
  auto exportChoice = std::make_shared<RevisionChoice>();
  exported->add_option("ID", exportChoice->meetingID, "The meeting's identifier.")->required();
  exported->add_option("--format", exportChoice->format, "The rendering: vtt (WebVTT), the only one and the default.")
      ->check(CLI::IsMember({"vtt"}));
  exported->add_option("--revision", exportChoice->revision,
                       "A revision identifier or a unique prefix of 8 or more characters (default: the track's latest).");
  exported->add_option("--source", exportChoice->source,
                       "The track whose latest revision to export (default: the only track with a transcript).");
  exported->callback([exportOptions, exportChoice, &context] { exportRevision(*exportOptions, *exportChoice, context); });
}

}  // namespace

KORVEL_COMMAND_GROUP(50, addTranscriptCommands);

}  // namespace korvel::cli
