// `korvel catalog refresh|rebuild`: bring the search catalog in line with the archive.

#include <CLI/CLI.hpp>

#include <ostream>

#include <fmt/format.h>

#include "apps/korvel/archive_options.h"
#include "apps/korvel/catalog_options.h"
#include "apps/korvel/commands.h"

namespace korvel::cli {
namespace {

enum class Reconciliation { refresh, rebuild };

std::string plural(size_t count, const char* one, const char* many) {
  return fmt::format("{} {}", count, count == 1 ? one : many);
}

Json summaryJson(const CatalogSummary& summary) {
  return Json{{"meetings", summary.meetings},
              {"meetingsIndexed", summary.meetingsIndexed},
              {"meetingsRemoved", summary.meetingsRemoved},
              {"revisionsIndexed", summary.revisionsIndexed},
              {"utterancesIndexed", summary.utterancesIndexed},
              {"transcriptFilesRead", summary.transcriptFilesRead},
              {"problems", summary.problems}};
}

void reconcile(Reconciliation kind, const ArchiveOptions& archiveOptions, const CatalogOptions& catalogOptions,
               Context& context) {
  const auto opened = openExistingArchiveOrReport(archiveOptions, context);
  if (!opened) return;
  const Archive& archive = *opened;
  auto catalog = openCatalogOrReport(catalogOptions, archive, context);
  if (!catalog) return;

  bool progressShown = false;
  CatalogProgress progress;
  if (context.outIsTerminal) {
    progress = [&](CatalogPhase phase, size_t done, size_t total) {
      // Redraw at most a few hundred times however large the archive is.
      if (done != total && done % std::max<size_t>(1, total / 200) != 0) return;
      context.err << fmt::format("\r{} meetings {}/{}", phase == CatalogPhase::reading ? "Reading" : "Indexing", done,
                                 total)
                  << std::flush;
      progressShown = true;
    };
  }
  auto summary = kind == Reconciliation::refresh ? catalog->refresh(archive, progress)
                                                 : catalog->rebuild(archive, progress);
  if (progressShown) context.err << "\n";
  if (!summary) return reportFailure(context, summary.error());

  for (const std::string& problem : summary->problems) context.err << "Skipped " << problem << "\n";
  if (archiveOptions.json) return printJson(context, summaryJson(*summary));
  context.out << fmt::format("Catalog {}: {} in the archive, {} indexed ({}, {}), {} removed, {} read.\n",
                             kind == Reconciliation::refresh ? "refreshed" : "rebuilt",
                             plural(summary->meetings, "meeting", "meetings"), summary->meetingsIndexed,
                             plural(summary->revisionsIndexed, "revision", "revisions"),
                             plural(summary->utterancesIndexed, "utterance", "utterances"), summary->meetingsRemoved,
                             plural(summary->transcriptFilesRead, "transcript file", "transcript files"));
}

void addCatalogCommands(CLI::App& app, Context& context) {
  auto* group = app.add_subcommand("catalog", "Keep the search catalog in line with the archive.");
  group->require_subcommand(1);

  const auto add = [&](const char* name, const char* help, Reconciliation kind) {
    auto* command = group->add_subcommand(name, help);
    auto archiveOptions = addArchiveOptions(*command, context);
    auto catalogOptions = addCatalogOptions(*command);
    command->callback([kind, archiveOptions, catalogOptions, &context] {
      reconcile(kind, *archiveOptions, *catalogOptions, context);
    });
  };
  add("refresh",
      "Index new and changed meetings and drop those no longer in the archive; unchanged meetings are not re-read.",
      Reconciliation::refresh);
  add("rebuild", "Re-read every meeting and replace the catalog's index with it (the job queue is kept).",
      Reconciliation::rebuild);
}

}  // namespace

KORVEL_COMMAND_GROUP(40, addCatalogCommands);

}  // namespace korvel::cli
