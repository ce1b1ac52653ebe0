// Planning a finished meeting into jobs, reconciling request files, and a worker publishing
// each track's first revision through the queue into the catalog.

#include <gtest/gtest.h>

#include <fstream>

#include "core/processing/planner.h"
#include "core/processing/post_recording.h"
#include "core/processing/processing_location.h"
#include "core/processing/progress.h"
#include "core/processing/transcription_worker.h"
#include "tests/core/catalog/catalog_fixtures.h"
#include "tests/support/result_matchers.h"
#include "tests/support/temp_dir.h"

namespace korvel {
namespace {

using ::testing::Eq;
using ::testing::IsEmpty;
using ::testing::SizeIs;
using testing::IsOkAndHolds;
using testing::TempDir;
using testing::valueOf;
using testing::writeText;

const auto kNoJobRun = IsOkAndHolds(Eq(std::nullopt));

// Hands out prepared results and counts what it was asked for.
class ScriptedEngine final : public TranscriptionEngine {
 public:
  Result<std::string> transcribe(const EngineInput& input) override {
    inputs.push_back(input);
    if (failWith) return makeError(ErrorCode::Io, *failWith);
    return std::string(R"({"result":{"language":"pt"},"transcription":[{"offsets":{"from":0,"to":1000},"text":"Revisão do orçamento )") +
           input.sourceID + " " + std::to_string(input.segmentIndex) + R"("}]})";
  }
  std::vector<EngineInput> inputs;
  std::optional<std::string> failWith;
};

class TranscriptionPipelineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    auto opened = Catalog::open(databaseFile);
    ASSERT_TRUE(opened) << opened.error().message;
    catalog = std::move(*opened);
  }

  // A finished meeting with application audio and a microphone, two segments each, real files.
  std::filesystem::path finishedMeeting(const std::string& title) {
    Meeting meeting = Meeting::create(title, 0, {{"app", "Meeting audio", "audio"}, {"mic", "Built-in", "microphone"}},
                                      std::string("mic"), clock, "UTC");
    const std::filesystem::path folder = valueOf(archive.create(meeting));
    for (const char* source : {"app", "mic"}) {
      for (int i = 0; i < 2; ++i) {
        const std::string name = std::string(source) + "-" + std::to_string(i) + ".wav";
        const std::string bytes = "RIFF" + name;
        writeText(folder / name, bytes);
        meeting.segments.push_back(
            Segment{std::string(source) + "-" + std::to_string(i), source, name, i * 2.0, 2.0,
                    static_cast<int64_t>(bytes.size()), valueOf(Archive::hash(folder / name))});
      }
    }
    meeting.state = SessionState::finalized;
    testing::requireOk(archive.save(meeting, folder));
    return folder;
  }

  Dir open(const std::filesystem::path& folder) { return valueOf(archive.openMeetingFolder(folder)); }

  TempDir temp;
  std::filesystem::path databaseFile = temp.path() / "catalog" / "catalog.sqlite";
  ManualClock clock;
  Archive archive{temp.path() / "Archive", clock, "UTC"};
  std::unique_ptr<Catalog> catalog;
  TranscriptionModel model{"small", "model-fingerprint", "pt"};
};

TEST_F(TranscriptionPipelineTest, PlansOneJobPerTrackOnceAndPublishesSearchableRevisions) {
  const auto folder = finishedMeeting("Revisão trimestral");
  std::vector<std::string> issues;
  const auto report = [&](const std::string& line) { issues.push_back(line); };
  ASSERT_OK_AND_ASSIGN(const Meeting meeting, archive.read(folder));
  const auto first = ProcessingPlanner::enqueue(meeting, open(folder), model, *catalog, clock, report);
  const auto again = ProcessingPlanner::enqueue(meeting, open(folder), model, *catalog, clock, report);
  EXPECT_EQ(first.size(), 2u);
  EXPECT_EQ(first, again);
  EXPECT_TRUE(issues.empty());
  ASSERT_THAT(catalog->processingJobs(), IsOkAndHolds(SizeIs(2)));

  ScriptedEngine engine;
  TranscriptionWorker worker(*catalog, archive, clock);
  for (int i = 0; i < 2; ++i) {
    auto outcome = worker.runNext(engine);
    ASSERT_TRUE(outcome && *outcome) << (outcome ? "no job" : outcome.error().message);
    EXPECT_EQ((*outcome)->result, TranscriptionJobOutcome::Result::published) << (*outcome)->detail;
  }
  EXPECT_THAT(worker.runNext(engine), kNoJobRun);
  EXPECT_EQ(engine.inputs.size(), 4u);
  EXPECT_EQ(engine.inputs[1].segmentIndex, 1u);

  auto revisions = TranscriptArtifacts::loadAll(open(folder), archive.read(folder)->id);
  ASSERT_TRUE(revisions);
  ASSERT_EQ(revisions->size(), 2u);
  EXPECT_EQ(revisions->front().utterances.size(), 2u);
  EXPECT_DOUBLE_EQ(revisions->front().utterances[1].start, 2.0);
  ASSERT_OK_AND_ASSIGN(const auto jobs, catalog->processingJobs());
  for (const auto& job : jobs) EXPECT_EQ(job.state, ProcessingJobState::succeeded);

  auto hits = catalog->search({.text = "orcamento mic"});
  ASSERT_TRUE(hits) << hits.error().message;
  EXPECT_EQ(hits->size(), 2u);
}

TEST_F(TranscriptionPipelineTest, APublishedRevisionIsCataloguedAsARebuildIndexesIt) {
  const auto folder = finishedMeeting("Segundos");
  ASSERT_EQ(ProcessingPlanner::enqueue(*archive.read(folder), open(folder), model, *catalog, clock).size(), 2u);
  clock.advance(0.75);  // a worker's clock is rarely on a whole second
  ScriptedEngine engine;
  TranscriptionWorker worker(*catalog, archive, clock);
  for (int i = 0; i < 2; ++i) {
    auto outcome = worker.runNext(engine);
    ASSERT_TRUE(outcome && *outcome);
    ASSERT_EQ((*outcome)->result, TranscriptionJobOutcome::Result::published) << (*outcome)->detail;
  }
  const std::string published = testing::dumpCatalog(databaseFile);
  auto rebuilt = catalog->rebuild(archive);
  ASSERT_TRUE(rebuilt) << rebuilt.error().message;
  EXPECT_EQ(testing::dumpCatalog(databaseFile), published);
}

TEST_F(TranscriptionPipelineTest, EngineFailuresAreRetriedUntilTheAttemptsRunOut) {
  const auto folder = finishedMeeting("Falha");
  ASSERT_OK_AND_ASSIGN(Meeting meeting, archive.read(folder));
  meeting.primaryMic = std::nullopt;  // only the application audio
  ASSERT_TRUE(archive.save(meeting, folder));
  ASSERT_EQ(ProcessingPlanner::enqueue(meeting, open(folder), model, *catalog, clock).size(), 1u);

  ScriptedEngine engine;
  engine.failWith = "The model file is missing.";
  TranscriptionWorker worker(*catalog, archive, clock, WorkerSettings{300, 60, std::nullopt});
  for (int attempt = 0; attempt < 3; ++attempt) {
    auto outcome = worker.runNext(engine);
    ASSERT_TRUE(outcome && *outcome);
    EXPECT_EQ((*outcome)->result, TranscriptionJobOutcome::Result::failed);
    EXPECT_THAT(worker.runNext(engine), kNoJobRun);  // not due until the retry delay has passed
    clock.advance(61);
  }
  ASSERT_OK_AND_ASSIGN(const auto jobs, catalog->processingJobs());
  ASSERT_EQ(jobs.size(), 1u);
  EXPECT_EQ(jobs[0].state, ProcessingJobState::failed);
  EXPECT_EQ(jobs[0].lastError, "The model file is missing.");
  EXPECT_THAT(TranscriptArtifacts::loadAll(open(folder), meeting.id), IsOkAndHolds(IsEmpty()));
  EXPECT_TRUE(std::holds_alternative<PostRecordingProcessing::Failed>(
      PostRecordingProcessing::progress(jobs, meeting.id)));
}

TEST_F(TranscriptionPipelineTest, AChangedSegmentAfterPlanningFailsTheJob) {
  const auto folder = finishedMeeting("Mudança");
  ASSERT_OK_AND_ASSIGN(Meeting meeting, archive.read(folder));
  ASSERT_EQ(ProcessingPlanner::enqueue(meeting, open(folder), model, *catalog, clock).size(), 2u);
  for (Segment& segment : meeting.segments) segment.duration = 1.5;
  ASSERT_TRUE(archive.save(meeting, folder));
  ScriptedEngine engine;
  TranscriptionWorker worker(*catalog, archive, clock);
  auto outcome = worker.runNext(engine);
  ASSERT_TRUE(outcome && *outcome);
  EXPECT_EQ((*outcome)->result, TranscriptionJobOutcome::Result::failed);
  EXPECT_EQ((*outcome)->detail, "The committed audio changed after this job was planned; plan the meeting again.");
  EXPECT_TRUE(engine.inputs.empty());
}

TEST_F(TranscriptionPipelineTest, ReconcilesRequestFilesOnceAndRefusesForeignOnes) {
  const auto folder = finishedMeeting("Pedidos");
  ASSERT_OK_AND_ASSIGN(const Meeting meeting, archive.read(folder));
  std::filesystem::create_directories(folder / "processing" / "requests");
  ProcessingRequest request;
  request.kind = ProcessingKind::summary;
  request.meetingID = meeting.id;
  request.directory = folder.string() + "/";
  request.sourceID = "speaker:0";
  request.inputFingerprint = "transcripts";
  request.model = "notes";
  request.modelFingerprint = "notes-1";
  request.language = "pt";
  writeText(folder / "processing" / "requests" / "summary.json", encodeCompact(request.toJson()));
  ProcessingRequest foreign = request;
  foreign.meetingID = "ANOTHER";
  writeText(folder / "processing" / "requests" / "foreign.json", encodeCompact(foreign.toJson()));
  ProcessingRequest moved = request;
  moved.directory = "/elsewhere/meeting";
  writeText(folder / "processing" / "requests" / "moved.json", encodeCompact(moved.toJson()));
  ProcessingRequest bound = request;
  bound.sourceID = "speaker:1";
  bound.identityDirectory = "/first/location";
  writeText(folder / "processing" / "requests" / "bound.json", encodeCompact(bound.toJson()));
  writeText(folder / "processing" / "requests" / "notes.txt", "not a request");

  std::vector<std::string> issues;
  const auto report = [&](const std::string& line) { issues.push_back(line); };
  ASSERT_TRUE(ProcessingPlanner::reconcile(open(folder), *catalog, RequestSelection::all, clock, report));
  ASSERT_TRUE(ProcessingPlanner::reconcile(open(folder), *catalog, RequestSelection::all, clock, report));
  EXPECT_THAT(catalog->processingJobs(), IsOkAndHolds(SizeIs(1)));
  ASSERT_EQ(issues.size(), 6u);
  EXPECT_EQ(issues[0], "bound.json: Processing relocation identity does not match this recording");
  EXPECT_EQ(issues[1], "foreign.json: Processing request belongs to another archive");
  EXPECT_EQ(issues[2], "moved.json: Processing request belongs to another archive");

  // Once the folder carries the identity the request names, the bound request is entered too.
  ProcessingLocation location{1, meeting.id, folder.string(), "/first/location"};
  writeText(folder / ProcessingLocation::kFileName, encodePretty(location.toJson()));
  issues.clear();
  ASSERT_TRUE(ProcessingPlanner::reconcile(open(folder), *catalog, RequestSelection::speakerSummariesOnly, clock,
                                           report));
  EXPECT_THAT(catalog->processingJobs(), IsOkAndHolds(SizeIs(2)));

  // A relocation identity file that is a symbolic link is refused, not followed.
  std::filesystem::remove(folder / ProcessingLocation::kFileName);
  writeText(temp.path() / "planted.json", encodePretty(location.toJson()));
  std::filesystem::create_symlink(temp.path() / "planted.json", folder / ProcessingLocation::kFileName);
  issues.clear();
  EXPECT_TRUE(ProcessingPlanner::enqueue(meeting, open(folder), model, *catalog, clock, report).empty());
  ASSERT_EQ(issues.size(), 2u);
  EXPECT_EQ(issues[0], "Source app: Invalid processing relocation metadata");
}

TEST_F(TranscriptionPipelineTest, PlansEachSessionWithItsOwnJobsAndIssues) {
  const auto first = finishedMeeting("Primeira");
  const auto second = finishedMeeting("Segunda");
  std::filesystem::create_directories(second / "processing" / "requests");
  ProcessingRequest foreign;
  foreign.kind = ProcessingKind::summary;
  foreign.meetingID = "ANOTHER";
  foreign.directory = second.string();
  foreign.sourceID = "speaker:0";
  foreign.inputFingerprint = foreign.model = foreign.modelFingerprint = "x";
  writeText(second / "processing" / "requests" / "foreign.json", encodeCompact(foreign.toJson()));
  std::vector<ArchivedSession> sessions = archive.sessions();
  ArchivedSession gone{archive.root() / "2026" / "gone", sessions.front().meeting};
  gone.meeting.id = "GONE";
  sessions.push_back(gone);

  const auto plans = ProcessingPlanner::plan(archive, sessions, model, *catalog, clock);
  ASSERT_EQ(plans.size(), 3u);
  for (size_t i = 0; i < plans.size(); ++i) EXPECT_EQ(plans[i].meetingID, sessions[i].meeting.id);
  const auto& planOf = [&](const std::filesystem::path& folder) {
    return sessions[0].folder == folder ? plans[0] : plans[1];
  };
  EXPECT_EQ(planOf(first).jobIDs.size(), 2u);
  EXPECT_TRUE(planOf(first).issues.empty());
  EXPECT_EQ(planOf(second).jobIDs.size(), 2u);
  EXPECT_EQ(planOf(second).issues,
            std::vector<std::string>{"foreign.json: Processing request belongs to another archive"});
  EXPECT_TRUE(plans[2].jobIDs.empty());
  EXPECT_EQ(plans[2].issues, std::vector<std::string>{"The meeting folder does not exist."});
  EXPECT_EQ(ProcessingPlanner::plan(archive, sessions, model, *catalog, clock), plans);
  EXPECT_EQ(catalog->processingJobs()->size(), 4u);
}

TEST_F(TranscriptionPipelineTest, TranscriptionOffPlansNothingUntilRequested) {
  const auto folder = finishedMeeting("Sem transcrição");
  ASSERT_OK_AND_ASSIGN(Meeting meeting, archive.read(folder));
  meeting.recordingOptions = RecordingOptions{false, true, true, false};
  ASSERT_TRUE(archive.save(meeting, folder));
  EXPECT_TRUE(ProcessingPlanner::enqueue(meeting, open(folder), model, *catalog, clock).empty());
  auto requested = requestPostRecordingProcessing(archive, folder, meeting.id, clock.now(), std::nullopt);
  ASSERT_TRUE(requested) << requested.error().message;
  EXPECT_EQ(ProcessingPlanner::enqueue(*requested, open(folder), model, *catalog, clock).size(), 2u);
}

TEST_F(TranscriptionPipelineTest, AStoppedWorkerHandsTheJobBackWithoutCountingTheAttempt) {
  const auto folder = finishedMeeting("Interrupted");
  ASSERT_OK_AND_ASSIGN(const Meeting meeting, archive.read(folder));
  ASSERT_THAT(ProcessingPlanner::enqueue(meeting, open(folder), model, *catalog, clock), SizeIs(2));
  ScriptedEngine engine;
  // Asked before each segment and after the engine returns: stop before the second segment, as
  // the first result comes back, and before the first segment.
  for (const size_t allowed : {2u, 1u, 0u}) {
    size_t asked = 0;
    WorkerSettings settings;
    settings.cancelled = [&] { return asked++ >= allowed; };
    TranscriptionWorker worker(*catalog, archive, clock, settings);
    engine.inputs.clear();
    ASSERT_OK_AND_ASSIGN(const auto outcome, worker.runNext(engine));
    ASSERT_TRUE(outcome.has_value());
    EXPECT_EQ(outcome->result, TranscriptionJobOutcome::Result::interrupted);
    EXPECT_EQ(engine.inputs.size(), allowed == 0 ? 0u : 1u);
    ASSERT_OK_AND_ASSIGN(const auto jobs, catalog->processingJobs());
    for (const auto& job : jobs) {
      EXPECT_EQ(job.state, ProcessingJobState::queued);
      EXPECT_EQ(job.attempts, 0);
      EXPECT_FALSE(job.leaseToken.has_value());
    }
  }
  EXPECT_FALSE(std::filesystem::exists(folder / "transcripts"));
}

}  // namespace
}  // namespace korvel
