// `korvel archive move DEST`: copy the archive to a new location, verify and publish it there,
// make it the default archive and build its catalog; the old archive is left for the user.

#include <CLI/CLI.hpp>

#include <algorithm>
#include <ostream>

#include <fmt/format.h>

#include "apps/korvel/archive_options.h"
#include "apps/korvel/catalog_options.h"
#include "apps/korvel/commands.h"
#include "core/archive/user_settings.h"
#include "core/processing/archive_move.h"

namespace korvel::cli {
namespace {

constexpr int kBarWidth = 30;

struct MoveArguments {
  std::string destination;
  bool dryRun = false;
};

const char* phaseName(ArchiveMovePhase phase) {
  switch (phase) {
    case ArchiveMovePhase::copying: return "Copying";
    case ArchiveMovePhase::verifying: return "Verifying";
    case ArchiveMovePhase::publishing: return "Publishing";
  }
  return "";
}

// On a terminal one redrawn bar per phase on standard error; otherwise one plain line per phase.
class MoveProgressPrinter {
 public:
  explicit MoveProgressPrinter(Context& context) : context_(context) {}
  ~MoveProgressPrinter() { finishLine(); }

  void operator()(ArchiveMovePhase phase, uint64_t done, uint64_t total) {
    const bool newPhase = !phase_ || *phase_ != phase;
    if (!context_.outIsTerminal) {
      if (!newPhase) return;
      phase_ = phase;
      if (phase == ArchiveMovePhase::publishing) context_.err << "Publishing the copy.\n";
      else context_.err << fmt::format("{} {}.\n", phaseName(phase), describeByteCount(total));
      return;
    }
    if (newPhase) finishLine();
    phase_ = phase;
    const int percent = total == 0 ? 100 : static_cast<int>(std::min<uint64_t>(100, done * 100 / total));
    if (!newPhase && percent == lastPercent_) return;  // a few hundred redraws at most
    lastPercent_ = percent;
    const int filled = percent * kBarWidth / 100;
    context_.err << fmt::format("\r{:<10} [{}{}] {:3d}%  {} of {}", phaseName(phase),
                                std::string(static_cast<size_t>(filled), '#'),
                                std::string(static_cast<size_t>(kBarWidth - filled), '-'), percent,
                                describeByteCount(done), describeByteCount(total))
                 << std::flush;
    lineOpen_ = true;
  }

 private:
  void finishLine() {
    if (lineOpen_) context_.err << "\n";
    lineOpen_ = false;
    lastPercent_ = -1;
  }

  Context& context_;
  std::optional<ArchiveMovePhase> phase_;
  int lastPercent_ = -1;
  bool lineOpen_ = false;
};

Json planJson(const ArchiveMovePlan& plan) {
  return Json{{"source", plan.source.string()},
              {"destination", plan.destination.string()},
              {"files", plan.inventory.files},
              {"folders", plan.inventory.folders},
              {"mediaFiles", plan.inventory.mediaFiles},
              {"bytes", plan.inventory.bytes},
              {"availableBytes", plan.availableBytes}};
}

std::string planText(const ArchiveMovePlan& plan) {
  return fmt::format("{} files ({} media) in {} folders, {}", plan.inventory.files, plan.inventory.mediaFiles,
                     plan.inventory.folders, describeByteCount(plan.inventory.bytes));
}

void moveArchiveCommand(const ArchiveOptions& options, const MoveArguments& arguments, Context& context) {
  const Archive archive = openArchive(options, context);
  if (arguments.dryRun) {
    auto plan = planArchiveMove(archive, arguments.destination);
    if (!plan) return reportFailure(context, plan.error());
    if (options.json) {
      Json json = planJson(*plan);
      json["dryRun"] = true;
      return printJson(context, json);
    }
    context.out << fmt::format("Would copy {} from {} to {}. Nothing was changed.\n", planText(*plan),
                               plan->source.string(), plan->destination.string());
    return;
  }

  std::optional<ArchiveMoveOutcome> outcome;
  {
    MoveProgressPrinter printer(context);
    auto moved = moveArchive(archive, arguments.destination, userSettingsFile(context.folders),
                             [&printer](ArchiveMovePhase phase, uint64_t done, uint64_t total) {
                               printer(phase, done, total);
                             });
    if (!moved) return reportFailure(context, moved.error());
    outcome = std::move(*moved);
  }
  const ArchiveMovePlan& plan = outcome->plan;

  // The catalog is derived from the archive, so the new location gets its own, built afresh.
  const Archive moved = archive.withRoot(plan.destination);
  std::optional<CatalogSummary> summary;
  std::optional<Error> catalogError;
  auto catalog = Catalog::open(defaultCatalogFile(moved.root(), context), *context.fileSystem);
  if (catalog) {
    auto rebuilt = (*catalog)->rebuild(moved);
    if (rebuilt) summary = std::move(*rebuilt);
    else catalogError = rebuilt.error();
  } else {
    catalogError = catalog.error();
  }
  const bool overridden = context.environment && context.environment("KORVEL_ARCHIVE").has_value();

  if (outcome->settingsError) {
    context.err << fmt::format(
        "The archive was moved to {}, but it could not be made your default archive; use --archive {} until "
        "this is fixed.\n{}\n",
        plan.destination.string(), plan.destination.string(), outcome->settingsError->message);
    context.exitCode = kExitFailed;
  }
  if (catalogError)
    context.err << fmt::format("The catalog of the new location could not be built; run korvel catalog rebuild.\n{}\n",
                               catalogError->message);

  if (options.json) {
    Json json = planJson(plan);
    json["abandonedStagingRemoved"] = outcome->abandonedStagingRemoved;
    json["defaultArchive"] = !outcome->settingsError.has_value();
    json["catalogMeetings"] = summary ? Json(summary->meetings) : Json(nullptr);
    return printJson(context, json);
  }
  context.out << fmt::format("Moved the archive to {}: {}, every file verified.\n", plan.destination.string(),
                             planText(plan));
  if (!outcome->settingsError) {
    context.out << fmt::format("{} is now your default archive.\n", plan.destination.string());
    if (overridden)
      context.out << "KORVEL_ARCHIVE is set and still wins over it; change or unset it to use the new location.\n";
  }
  if (summary)
    context.out << fmt::format("Catalog built: {} {}.\n", summary->meetings, summary->meetings == 1 ? "meeting" : "meetings");
  if (outcome->abandonedStagingRemoved > 0)
    context.out << fmt::format("Removed {} unfinished {} left by an interrupted move.\n",
                               outcome->abandonedStagingRemoved, outcome->abandonedStagingRemoved == 1 ? "copy" : "copies");
  context.out << fmt::format(
      "The old archive at {} was left untouched; remove it yourself once you have checked the new one.\n",
      plan.source.string());
}

void addArchiveMoveCommand(CLI::App& app, Context& context) {
  auto* group = app.add_subcommand("archive", "Manage the archive as a whole.");
  group->require_subcommand(1);
  auto* move = group->add_subcommand(
      "move", "Copy the archive to DEST, verify every file, make DEST the default archive; the old one is kept.");
  auto options = addArchiveOptions(*move, context);
  auto arguments = std::make_shared<MoveArguments>();
  move->add_option("DEST", arguments->destination, "New archive folder; must not exist yet (its parent must)")
      ->required();
  move->add_flag("--dry-run", arguments->dryRun, "Print what would be copied and change nothing");
  move->callback([options, arguments, &context] { moveArchiveCommand(*options, *arguments, context); });
}

}  // namespace

KORVEL_COMMAND_GROUP(25, addArchiveMoveCommand);

}  // namespace korvel::cli
