// Preparing a copied library for its new location: what it refuses, and the job identities it keeps.

#include <gtest/gtest.h>

#include <filesystem>

#include "core/archive/trash.h"
#include "core/processing/archive_relocation.h"
#include "core/processing/planner.h"
#include "core/processing/processing_location.h"
#include "tests/support/temp_dir.h"

namespace korvel {
namespace {

namespace fs = std::filesystem;
using testing::readText;
using testing::treeFingerprint;
using testing::writeText;

class ArchiveRelocationTest : public ::testing::Test {
 protected:
  void SetUp() override { catalog = std::move(Catalog::open(temp / "catalog.sqlite").value()); }

  // A finished meeting in the old library with one committed microphone segment.
  ArchivedSession addMeeting(const std::string& title) {
    clock.advance(3600);
    Meeting meeting = Meeting::create(title, 0, {{"mic", "Built-in", "microphone"}}, std::string("mic"), clock, "UTC");
    const fs::path folder = legacy.create(meeting).value();
    writeText(folder / "mic-0.wav", "RIFF " + title);
    meeting.segments = {Segment{"mic-0", "mic", "mic-0.wav", 0, 2, 5 + static_cast<int64_t>(title.size()),
                                Archive::hash(folder / "mic-0.wav").value()}};
    meeting.state = SessionState::finalized;
    EXPECT_TRUE(legacy.save(meeting, folder));
    return {folder, meeting};
  }

  // A summary request file, as another process leaves it in the meeting folder.
  void addRequest(const ArchivedSession& session, const std::string& name, std::string directory) {
    ProcessingRequest request;
    request.kind = ProcessingKind::summary;
    request.meetingID = session.meeting.id;
    request.directory = std::move(directory);
    request.sourceID = "speaker:0";
    request.inputFingerprint = "transcripts";
    request.model = "notes";
    request.modelFingerprint = "notes-1";
    request.language = "en";
    fs::create_directories(session.folder / "processing" / "requests");
    writeText(session.folder / "processing" / "requests" / name, encodeCompact(request.toJson()));
  }

  std::vector<std::string> plan(const Archive& archive, const fs::path& folder) {
    std::vector<std::string> issues;
    const auto report = [&](const std::string& line) { issues.push_back(line); };
    const Dir dir = archive.openMeetingFolder(folder).value();
    EXPECT_TRUE(ProcessingPlanner::reconcile(dir, *catalog, RequestSelection::all, clock, report));
    auto ids = ProcessingPlanner::enqueue(archive.read(folder).value(), dir, model, *catalog, clock, report);
    EXPECT_TRUE(issues.empty()) << issues.front();
    return ids;
  }

  void copyToStaging() { fs::copy(legacy.root(), staging.root(), fs::copy_options::recursive | fs::copy_options::copy_symlinks); }

  Status prepare() { return ProcessingArchiveRelocation::prepare(staging, legacy.root(), destinationRoot); }

  // A refused preparation: the sentence, and the copy exactly as it was.
  void expectRefusal(const std::string& message) {
    const std::string before = treeFingerprint(staging.root());
    const Status prepared = prepare();
    ASSERT_FALSE(prepared);
    EXPECT_EQ(prepared.error().message, message);
    EXPECT_EQ(treeFingerprint(staging.root()), before);
  }

  testing::TempDir temp;
  ManualClock clock;
  Archive legacy{temp / "Legacy", clock, "UTC"};
  Archive staging{temp / "Staging", clock, "UTC"};
  fs::path destinationRoot = temp / "Moved";
  Archive destination{destinationRoot, clock, "UTC"};
  std::unique_ptr<Catalog> catalog;
  TranscriptionModel model{"small", "model-1", "en"};
};

TEST_F(ArchiveRelocationTest, MovedMeetingsKeepTheirJobIdentities) {
  const ArchivedSession live = addMeeting("Live");
  addRequest(live, "summary.json", live.folder.string());
  const ArchivedSession trashed = addMeeting("Trashed");
  const ArchivedSession untouched = addMeeting("Transcription off");
  Meeting off = untouched.meeting;
  off.recordingOptions = RecordingOptions{false, true, false, false};
  ASSERT_TRUE(legacy.save(off, untouched.folder));

  const auto liveJobs = plan(legacy, live.folder);
  const auto trashedJobs = plan(legacy, trashed.folder);
  ASSERT_EQ(liveJobs.size(), 1u);
  ASSERT_EQ(trashedJobs.size(), 1u);
  ASSERT_EQ(catalog->processingJobs()->size(), 3u);  // two transcriptions and the summary request
  const fs::path entry = moveToTrash(legacy, trashed.folder, trashed.meeting.id).value();

  copyToStaging();
  ASSERT_TRUE(prepare());
  // Running it again on the prepared copy changes nothing.
  const std::string prepared = treeFingerprint(staging.root());
  ASSERT_TRUE(prepare());
  EXPECT_EQ(treeFingerprint(staging.root()), prepared);
  fs::rename(staging.root(), destinationRoot);

  const fs::path movedLive = destinationRoot / *legacy.relativePath(live.folder);
  const ProcessingLocation written =
      ProcessingLocation::fromJson(*parseJson(readText(movedLive / ProcessingLocation::kFileName))).value();
  EXPECT_EQ(written, (ProcessingLocation{1, live.meeting.id, movedLive.string(), live.folder.string()}));
  EXPECT_FALSE(fs::exists(destinationRoot / *legacy.relativePath(untouched.folder) / ProcessingLocation::kFileName));

  EXPECT_EQ(plan(destination, movedLive), liveJobs);
  const fs::path restored =
      restoreFromTrash(destination, destinationRoot / ".trash" / entry.filename(), trashed.meeting.id).value();
  EXPECT_EQ(plan(destination, restored), trashedJobs);
  EXPECT_EQ(catalog->processingJobs()->size(), 3u);

  // Moved again: the identity stays the one of the first location.
  const Archive again{temp / "StagingAgain", clock, "UTC"};
  fs::copy(destinationRoot, again.root(), fs::copy_options::recursive);
  ASSERT_TRUE(ProcessingArchiveRelocation::prepare(again, destinationRoot, temp / "MovedAgain"));
  fs::rename(again.root(), temp / "MovedAgain");
  const Archive movedAgain{temp / "MovedAgain", clock, "UTC"};
  EXPECT_EQ(plan(movedAgain, temp / "MovedAgain" / *legacy.relativePath(live.folder)), liveJobs);
  EXPECT_EQ(catalog->processingJobs()->size(), 3u);
}

TEST_F(ArchiveRelocationTest, RefusesRootsThatAreNotDistinctAndACopyItCannotRead) {
  addMeeting("Live");
  copyToStaging();
  const std::string before = treeFingerprint(staging.root());
  EXPECT_EQ(ProcessingArchiveRelocation::prepare(staging, staging.root() / "2026" / "..", destinationRoot).error().message,
            "Processing relocation needs separate archive locations");
  EXPECT_EQ(ProcessingArchiveRelocation::prepare(staging, legacy.root(), legacy.root().string() + "/").error().message,
            "Processing relocation needs separate archive locations");
  EXPECT_EQ(treeFingerprint(staging.root()), before);
  const Archive missing{temp / "Nowhere", clock, "UTC"};
  EXPECT_EQ(ProcessingArchiveRelocation::prepare(missing, legacy.root(), destinationRoot).error().message,
            "The copied recording archive could not be read");
}

TEST_F(ArchiveRelocationTest, RefusesLinksAndMeetingsWithoutTheirOwnFolder) {
  const ArchivedSession session = addMeeting("Live");
  copyToStaging();
  const fs::path copied = staging.root() / *legacy.relativePath(session.folder);
  fs::create_directories(copied / "transcripts");
  fs::create_directory_symlink(temp.path(), copied / "transcripts" / "elsewhere");
  expectRefusal("The copied archive contains a symbolic link");
  fs::remove(copied / "transcripts" / "elsewhere");

  writeText(copied / "transcripts" / "manifest.json", readText(copied / "manifest.json"));
  expectRefusal("A meeting must have its own archive folder");
  fs::remove(copied / "transcripts" / "manifest.json");
  writeText(staging.root() / "manifest.json", readText(copied / "manifest.json"));
  expectRefusal("A meeting must have its own archive folder");
}

TEST_F(ArchiveRelocationTest, RefusesTrashedMeetingsWithoutAPlaceToReturnTo) {
  const ArchivedSession session = addMeeting("Trashed");
  const fs::path entry = moveToTrash(legacy, session.folder, session.meeting.id).value();
  copyToStaging();
  const fs::path copied = staging.root() / ".trash" / entry.filename();
  for (const std::string path : {"\"../2026/x\"", "\".trash/x\"", "\"\"", "[]"}) {
    writeText(copied / ".korvel-restore.json", path);
    expectRefusal("A trashed recording has an invalid restoration path");
  }
  fs::remove(copied / ".korvel-restore.json");
  ASSERT_TRUE(prepare());  // the date-based default is a place to return to

  fs::create_directories(staging.root() / ".trash" / "EMPTY");
  expectRefusal("A trashed meeting has an invalid archive location");
}

TEST_F(ArchiveRelocationTest, RefusesARequestForAnotherRecordingLocation) {
  const ArchivedSession session = addMeeting("Live");
  addRequest(session, "moved.json", "/elsewhere/meeting");
  copyToStaging();
  expectRefusal("A processing request belongs to a different recording location");

  const fs::path requests = staging.root() / *legacy.relativePath(session.folder) / "processing" / "requests";
  ProcessingRequest bound = ProcessingRequest::fromJson(*parseJson(readText(requests / "moved.json"))).value();
  fs::remove(requests / "moved.json");
  bound.directory = session.folder.string();
  bound.identityDirectory = "/first/location";  // an identity this recording does not have
  writeText(requests / "bound.json", encodeCompact(bound.toJson()));
  expectRefusal("A processing request belongs to a different recording location");
}

}  // namespace
}  // namespace korvel
