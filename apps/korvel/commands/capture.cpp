// `korvel capture simulate`: a stand-in for the capture process, so that a machine without capture
// devices can make real meetings (generated audio, segment records, events, a finalized manifest)
// or leave one behind as a crash would.

#include <CLI/CLI.hpp>

#include <cmath>
#include <ostream>
#include <set>

#include <fmt/format.h>

#include "apps/korvel/archive_options.h"
#include "apps/korvel/commands.h"
#include "platform/interrupts.h"
#include "platform/meeting_identifier.h"
#include "platform/process.h"

namespace korvel::cli {
namespace {

namespace fs = std::filesystem;

constexpr const char* kSourcesHelp = "Choose sources among microphone, audio and video, separated by commas.";

struct SimulateArguments {
  std::string title;
  std::string id;  // empty: a fresh identifier, as the recorder gives
  double seconds = 6;
  double segmentSeconds = 2;
  std::string sources = "microphone";
  std::optional<int64_t> crashAfter;
};

Result<std::vector<Source>> parseSources(const std::string& list) {
  std::vector<Source> sources;
  std::set<std::string> seen;
  size_t start = 0;
  while (start <= list.size()) {
    const size_t comma = std::min(list.find(',', start), list.size());
    const std::string kind = list.substr(start, comma - start);
    start = comma + 1;
    if (!seen.insert(kind).second) return makeError(ErrorCode::InvalidInput, kSourcesHelp);
    if (kind == "microphone") sources.push_back({"microphone-1", "Simulated microphone", "microphone"});
    else if (kind == "audio") sources.push_back({"audio-1", "Meeting audio", "audio"});
    else if (kind == "video") sources.push_back({"video-1", "Meeting window", "video"});
    else return makeError(ErrorCode::InvalidInput, kSourcesHelp);
  }
  return sources;
}

// A private scratch folder for the generator's output, removed on scope exit; the media then
// enters the meeting folder through the archive's own no-follow atomic write.
class Scratch {
 public:
  explicit Scratch(const FileSystem& files) : files_(files) {
    auto made = files.makeTemporaryFolder("korvel-capture-");
    if (made) path_ = std::move(*made);
  }
  ~Scratch() {
    if (!path_.empty()) (void)files_.removeAll(path_);
  }
  const fs::path& path() const { return path_; }
  const FileSystem& files() const { return files_; }

 private:
  const FileSystem& files_;
  fs::path path_;
};

// Generated media for one segment: a tone per audio track, noise standing in for video frames.
Result<std::string> generateMedia(const Scratch& scratch, const Source& source, int index, double seconds,
                                  const InterruptWatch& interrupts) {
  const fs::path output = scratch.path() / (source.kind == "video" ? "segment.raw" : "segment.wav");
  const std::string length = fmt::format("{}", seconds);
  std::vector<std::string> arguments;
  if (source.kind == "video") {
    arguments = {"-n", "-r", "8000", "-c", "1", "-b", "8", "-e", "unsigned-integer", "-t", "raw", output.string(),
                 "synth", length, "whitenoise"};
  } else {
    const int frequency = (source.kind == "audio" ? 330 : 440) + 20 * (index % 10);
    arguments = {"-n", "-r", "16000", "-c", "1", "-b", "16", output.string(), "synth", length, "sine",
                 std::to_string(frequency)};
  }
  auto outcome = runProgram("sox", arguments, &interrupts);
  if (!outcome && outcome.error().code == ErrorCode::Cancelled) return std::move(outcome).error();
  if (!outcome || outcome->exitCode != 0)
    return makeError(ErrorCode::Io, "Generating audio with sox failed; install sox and try again.");
  auto scratchDir = Dir::openRoot(scratch.files(), scratch.path());
  if (!scratchDir) return std::move(scratchDir).error();
  return scratchDir->readFile(output.filename().string(), 64ull << 20);
}

// The capture process names its segments and their media; the archive commits them.
Segment plannedSegment(const Source& source, int index, double start, double duration) {
  Segment segment;
  segment.id = fmt::format("{}-{:04}", source.id, index);
  segment.sourceID = source.id;
  segment.file = segment.id + (source.kind == "video" ? ".raw" : ".wav");
  segment.start = start;
  segment.duration = duration;
  return segment;
}

void simulate(const ArchiveOptions& options, const SimulateArguments& arguments, Context& context) {
  auto title = MeetingTitle::validated(arguments.title);
  if (!title) return reportFailure(context, title.error());
  auto sources = parseSources(arguments.sources);
  if (!sources) {
    context.err << sources.error().message << "\n";
    context.exitCode = kExitUsage;
    return;
  }
  if (!arguments.id.empty() && !isValidMeetingID(arguments.id)) {
    context.err << "A meeting identifier is 1 to 128 letters, digits, hyphens, dots or underscores.\n";
    context.exitCode = kExitUsage;
    return;
  }
  const Archive archive = openArchive(options, context);
  Meeting meeting = Meeting::create(*title, context.clock.monotonicSeconds(), *sources, std::nullopt, context.clock,
                                    archive.timeZone());
  if (!arguments.id.empty()) {
    if (archive.find(arguments.id)) {
      return reportFailure(context, makeError(ErrorCode::InvalidInput, "The archive already has a meeting with this identifier."));
    }
    meeting.id = arguments.id;
  }
  RecordingOptions inputs;
  for (const auto& source : meeting.sources) {
    inputs.video = inputs.video || source.kind == "video";
    inputs.microphone = inputs.microphone || source.kind == "microphone";
    inputs.applicationAudio = inputs.applicationAudio || source.kind == "audio";
    if (source.kind == "microphone") meeting.primaryMic = source.id;
  }
  inputs.transcription = inputs.hasAudio();
  meeting.recordingOptions = inputs;
  meeting.automaticMicrophones = false;
  RecordingQuality quality = RecordingQuality::standard();
  quality.recordsVideo = inputs.video;
  meeting.quality = quality;

  auto created = archive.create(meeting);
  if (!created) return reportFailure(context, created.error());
  auto folder = archive.openMeetingFolder(*created);
  if (!folder) return reportFailure(context, folder.error());
  // Declared before the scratch folder, so that the handlers stay until it is removed.
  const InterruptWatch interrupts;
  Scratch scratch(*context.fileSystem);
  if (scratch.path().empty()) return reportFailure(context, makeError(ErrorCode::Io, "A scratch folder could not be made."));

  const int count = static_cast<int>(std::ceil(arguments.seconds / arguments.segmentSeconds - 1e-9));
  int64_t committed = 0;
  // Stopped by the user: the session stays as a crash would leave it, the scratch folder goes.
  const auto stopped = [&] {
    context.err << fmt::format("Stopped after {} segments of {} “{}”; run korvel recover {}.\n", committed,
                               meeting.id, meeting.title, meeting.id);
    context.exitCode = interrupts.exitCode();
  };
  for (int index = 0; index < count; ++index) {
    const double start = index * arguments.segmentSeconds;
    const double duration = std::min(arguments.segmentSeconds, arguments.seconds - start);
    for (const auto& source : meeting.sources) {
      if (interrupts.interrupted()) return stopped();
      auto media = generateMedia(scratch, source, index, duration, interrupts);
      if (interrupts.interrupted()) return stopped();
      if (!media) return reportFailure(context, media.error());
      if (arguments.crashAfter && committed == *arguments.crashAfter) {
        // The crash comes while this segment is being written: its media stays, unrecorded.
        (void)folder->writeAtomic(fmt::format("{}-{:04}.partial", source.id, index), media->substr(0, media->size() / 2));
        context.out << fmt::format("Simulated a crash after {} segments of {} “{}”; run korvel recover {}.\n",
                                   committed, meeting.id, meeting.title, meeting.id);
        return;
      }
      auto segment = Archive::commitSegment(*folder, plannedSegment(source, index, start, duration), *media);
      if (!segment) return reportFailure(context, segment.error());
      (void)archive.appendEvent("segment", fmt::format("Committed {} ({} bytes)", segment->file, segment->bytes), *folder);
      ++committed;
    }
  }
  if (arguments.crashAfter) {
    context.out << fmt::format("Simulated a crash after {} segments of {} “{}”; run korvel recover {}.\n", committed,
                               meeting.id, meeting.title, meeting.id);
    return;
  }
  auto listed = Archive::readManifest(*folder);
  if (!listed) return reportFailure(context, listed.error());
  meeting = std::move(*listed);
  meeting.state = SessionState::finalized;
  if (auto saved = Archive::saveManifest(meeting, *folder); !saved) return reportFailure(context, saved.error());
  if (auto logged = archive.appendEvent("stopped", fmt::format("Capture finished with {} segments", committed), *folder);
      !logged)
    return reportFailure(context, logged.error());
  if (options.json) return printJson(context, sessionJson(archive, ArchivedSession{*created, meeting}));
  context.out << fmt::format("Recorded {} “{}”: {} segments, {:.1f} s, in {}.\n", meeting.id, meeting.title, committed,
                             meeting.duration(), archive.relativePath(*created).value_or(created->string()));
}

void addCaptureCommands(CLI::App& app, Context& context) {
  auto* capture = app.add_subcommand("capture", "Capture tools");
  capture->require_subcommand(1);
  auto* simulate = capture->add_subcommand(
      "simulate", "Record a meeting with generated audio, as the capture process would (needs sox)");
  auto options = addArchiveOptions(*simulate, context);
  auto arguments = std::make_shared<SimulateArguments>();
  simulate->add_option("--title", arguments->title, "Meeting title")->required();
  simulate->add_option("--id", arguments->id,
                       "The meeting's identifier, for sample archives whose ids are known (default: a fresh UUID)");
  simulate->add_option("--seconds", arguments->seconds, "Length of the recording in seconds")
      ->check(CLI::Range(0.1, 3600.0))
      ->capture_default_str();
  simulate->add_option("--segment-seconds", arguments->segmentSeconds, "Length of each committed segment in seconds")
      ->check(CLI::Range(0.5, 30.0))
      ->capture_default_str();
  simulate->add_option("--sources", arguments->sources, "Tracks: microphone, audio, video (comma-separated)")
      ->capture_default_str();
  simulate->add_option("--crash-after", arguments->crashAfter,
                       "Stop dead after this many committed segments, leaving the session for korvel recover (default: never)")
      ->check(CLI::NonNegativeNumber);
  simulate->callback([options, arguments, &context] { korvel::cli::simulate(*options, *arguments, context); });
}

}  // namespace

KORVEL_COMMAND_GROUP(21, addCaptureCommands);

}  // namespace korvel::cli
