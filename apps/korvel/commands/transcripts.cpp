// `korvel transcripts list|show|export`: a meeting's transcript revisions, read from its folder.

#include <CLI/CLI.hpp>

#include <ostream>

#include <fmt/format.h>

#include "apps/korvel/archive_options.h"
#include "apps/korvel/commands.h"
#include "core/catalog/transcript_document.h"
#include "platform/timecode.h"

namespace korvel::cli {
namespace {

struct RevisionChoice {
  std::string meetingID;
  std::string revision;  // empty: the latest
  std::string source;    // empty: any track
  std::string format = "vtt";
};

// The revision of the meeting the options choose: a named one, or the latest of a track.
std::optional<TranscriptDocument> chooseRevision(const std::vector<TranscriptDocument>& lineage,
                                                 const RevisionChoice& choice, Context& context) {
  for (auto it = lineage.rbegin(); it != lineage.rend(); ++it) {
    if (!choice.revision.empty() && it->id != choice.revision) continue;
    if (!choice.source.empty() && it->sourceID != choice.source) continue;
    return *it;
  }
  const char* message = choice.revision.empty() ? "This meeting has no transcript for that track yet."
                                                : "This meeting has no transcript revision with that identifier.";
  reportFailure(context, makeError(ErrorCode::NotFound, message));
  return std::nullopt;
}

// The meeting's opened folder and its revisions in lineage order.
struct Revisions {
  Dir folder;
  std::vector<TranscriptDocument> lineage;
};

std::optional<Revisions> loadLineage(const ArchiveOptions& options, const std::string& meetingID, Context& context) {
  const Archive archive = openArchive(options, context);
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
  return Revisions{std::move(*folder), std::move(*lineage)};
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
    context.out << fmt::format("{}  {}  {}  {}  {} utterances{}\n", document.id, document.sourceID,
                               formatIso8601(document.createdAt), document.language, document.utterances.size(),
                               document.parentVersionID ? "  from " + *document.parentVersionID : "");
  }
}

void showRevision(const ArchiveOptions& options, const RevisionChoice& choice, Context& context) {
  auto revisions = loadLineage(options, choice.meetingID, context);
  if (!revisions) return;
  auto document = chooseRevision(revisions->lineage, choice, context);
  if (!document) return;
  if (options.json) return printJson(context, document->toJson());
  context.out << fmt::format("Revision {} of track {} ({}, {})\n", document->id, document->sourceID,
                             document->language, document->model);
  for (const auto& utterance : document->utterances) {
    context.out << fmt::format("[{}] {}{}\n", paddedTimecode(utterance.start),
                               utterance.speaker ? *utterance.speaker + ": " : "", utterance.text);
  }
}

void exportRevision(const ArchiveOptions& options, const RevisionChoice& choice, Context& context) {
  auto revisions = loadLineage(options, choice.meetingID, context);
  if (!revisions) return;
  auto document = chooseRevision(revisions->lineage, choice, context);
  if (!document) return;
  // The stored rendering is the published one; printing it, not a fresh rendering, keeps
  // exports byte-identical to what other readers of the folder see.
  auto revision = revisions->folder.openPath({TranscriptArtifacts::kFolderName, document->id});
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

  auto* show = group->add_subcommand("show", "Print a revision's utterances (the latest revision by default).");
  auto showOptions = addArchiveOptions(*show, context);
  auto showChoice = std::make_shared<RevisionChoice>();
  show->add_option("ID", showChoice->meetingID, "The meeting's identifier.")->required();
  show->add_option("--revision", showChoice->revision, "A revision identifier (see transcripts list).");
  show->add_option("--source", showChoice->source, "The track whose latest revision to show.");
  show->callback([showOptions, showChoice, &context] { showRevision(*showOptions, *showChoice, context); });

  auto* exported = group->add_subcommand("export", "Print a revision's stored rendering, byte for byte.");
  auto exportOptions = addArchiveOptions(*exported, context);
  auto exportChoice = std::make_shared<RevisionChoice>();
  exported->add_option("ID", exportChoice->meetingID, "The meeting's identifier.")->required();
  exported->add_option("--format", exportChoice->format, "The rendering: vtt (WebVTT).")
      ->check(CLI::IsMember({"vtt"}));
  exported->add_option("--revision", exportChoice->revision, "A revision identifier (see transcripts list).");
  exported->add_option("--source", exportChoice->source, "The track whose latest revision to export.");
  exported->callback([exportOptions, exportChoice, &context] { exportRevision(*exportOptions, *exportChoice, context); });
}

}  // namespace

KORVEL_COMMAND_GROUP(50, addTranscriptCommands);

}  // namespace korvel::cli
