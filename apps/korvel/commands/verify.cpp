// `korvel verify ID`: re-reads a finished meeting's original media and reports each file.

#include <CLI/CLI.hpp>

#include <algorithm>
#include <ostream>

#include <fmt/format.h>

#include "apps/korvel/archive_options.h"
#include "apps/korvel/commands.h"
#include "core/archive/verification.h"

namespace korvel::cli {
namespace {

constexpr const char* kNothingToVerify = "This meeting has no committed media to check.";
constexpr const char* kNotAllVerified = "Some original files are not exactly what the recorder committed.";
constexpr int kBarWidth = 30;

// One redrawn line on standard error: bar, percentage, files done, current file.
void drawProgress(std::ostream& err, const OriginalMediaVerificationProgress& progress) {
  double fraction = 0;
  if (progress.totalBytes && *progress.totalBytes > 0) {
    fraction = static_cast<double>(progress.bytesRead) / static_cast<double>(*progress.totalBytes);
  } else if (progress.totalFiles > 0) {
    fraction = static_cast<double>(progress.completedFiles) / static_cast<double>(progress.totalFiles);
  }
  fraction = std::clamp(fraction, 0.0, 1.0);
  const int filled = static_cast<int>(fraction * kBarWidth);
  err << fmt::format("\r[{}{}] {:3d}%  {}/{} files  {:<40.40}", std::string(static_cast<size_t>(filled), '#'),
                     std::string(static_cast<size_t>(kBarWidth - filled), '-'), static_cast<int>(fraction * 100),
                     progress.completedFiles, progress.totalFiles, progress.currentFile.value_or(""))
      << std::flush;
}

void printReport(Context& context, const OriginalMediaVerificationReport& report) {
  size_t verified = 0;
  for (const auto& result : report.results) {
    if (result.status == OriginalMediaVerificationStatus::verified) ++verified;
    std::string line = fmt::format("{:<18} {}  {}", toString(result.status), result.segmentID, result.file);
    if (result.detail) line += "  " + *result.detail;
    if (result.status == OriginalMediaVerificationStatus::sizeMismatch && result.actualBytes)
      line += fmt::format(" (saved {} bytes, found {})", result.expectedBytes, *result.actualBytes);
    context.out << line << "\n";
  }
  context.out << fmt::format("{} of {} original files verified.\n", verified, report.results.size());
}

void verifyMeeting(const ArchiveOptions& options, const std::string& meetingID, Context& context) {
  const auto opened = openExistingArchiveOrReport(options, context);
  if (!opened) return;
  const Archive& archive = *opened;
  auto session = findMeetingOrReport(archive, meetingID, context);
  if (!session) return;
  OriginalMediaVerifier verifier(context.clock);
  OriginalMediaVerifier::ProgressHandler progress;
  if (context.outIsTerminal)
    progress = [&context](const OriginalMediaVerificationProgress& value) { drawProgress(context.err, value); };
  auto report = verifier.verify(session->folder, archive.root(), session->meeting.id, session->meeting.startedAt,
                                progress);
  if (context.outIsTerminal) context.err << "\n";
  if (!report) return reportFailure(context, report.error());

  if (options.json) {
    Json files = Json::array();
    for (const auto& result : report->results) files.push_back(result.toJson());
    printJson(context, {{"meetingID", report->meetingID},
                        {"completedAt", formatIso8601(report->completedAt)},
                        {"allVerified", report->allVerified()},
                        {"files", files}});
  } else {
    printReport(context, *report);
  }
  if (report->results.empty()) return reportFailure(context, makeError(ErrorCode::NotFound, kNothingToVerify));
  if (!report->allVerified()) reportFailure(context, makeError(ErrorCode::Corrupt, kNotAllVerified));
}

void addVerifyCommands(CLI::App& app, Context& context) {
  auto* verify = app.add_subcommand("verify", "Check that a meeting's original media is exactly what was recorded.");
  verify->description(
      "Re-read every committed media file of a finished meeting and compare its size and SHA-256 with "
      "the manifest. Nothing is changed. Exit code 0 only when every file verified.");
  auto options = addArchiveOptions(*verify, context);
  auto meetingID = std::make_shared<std::string>();
  verify->add_option("ID", *meetingID, "Identifier of the meeting to check")->required();
  verify->callback([options, meetingID, &context] { verifyMeeting(*options, *meetingID, context); });
}

}  // namespace

KORVEL_COMMAND_GROUP(31, addVerifyCommands);

}  // namespace korvel::cli
