// Transcript publication and catalog reconciliation when the disk fails them.

#include <gtest/gtest.h>

#include <filesystem>

#include "tests/core/catalog/catalog_fixtures.h"
#include "tests/support/fault_file_system.h"

namespace korvel::testing {
namespace {

namespace fs = std::filesystem;

struct CatalogFaultsTest : ::testing::Test {
  TempDir temp;
  ManualClock clock{Date::fromUnix(1772633700)};
  FaultFileSystem files;
  Archive archive{temp / "Archive", clock, "UTC", files};
  fs::path databaseFile = temp / "catalog.sqlite";

  fs::path addMeeting(const std::string& title, double startedAt) {
    clock.set(Date::fromUnix(startedAt));
    Meeting meeting = Meeting::create(title, 1, {{"mic", "Mic", "microphone"}}, std::string("mic"), clock, "UTC");
    const auto folder = orThrow(archive.create(meeting));
    meeting.state = SessionState::finalized;
    orThrow(archive.save(meeting, folder));
    orThrow(TranscriptArtifacts::save(makeRevision("rev-" + title, meeting.id, "mic", startedAt, {title + " words"}),
                                      folder, files));
    return folder;
  }
};

TEST_F(CatalogFaultsTest, AFailedPublicationLeavesNoRevisionAndNoStagingFolder) {
  const auto folder = addMeeting("Planning", 1772633700);
  const Meeting meeting = orThrow(archive.read(folder));
  files.failNth(FaultOp::rename, "rev-2");
  auto saved = TranscriptArtifacts::save(makeRevision("rev-2", meeting.id, "mic", 1772633800, {"x"}), folder, files);
  ASSERT_FALSE(saved.ok());
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder / TranscriptArtifacts::kFolderName))
    names.push_back(entry.path().filename().string());
  EXPECT_EQ(names, std::vector<std::string>{"rev-Planning"});
}

TEST_F(CatalogFaultsTest, APublicationWhoseFolderSyncFailsIsPublishedAndAReSaveFindsIt) {
  const auto folder = addMeeting("Planning", 1772633700);
  const Meeting meeting = orThrow(archive.read(folder));
  const auto revision = makeRevision("rev-2", meeting.id, "mic", 1772633800, {"x"});
  // The transcripts folder is synced once for the new staging folder, then once for the move.
  files.failNthExactly(FaultOp::sync, folder / TranscriptArtifacts::kFolderName, 2);
  auto saved = TranscriptArtifacts::save(revision, folder, files);
  ASSERT_TRUE(saved.ok()) << saved.error().message;
  EXPECT_EQ(files.calls(FaultOp::sync, "rev-2"), 0);
  auto loaded = TranscriptArtifacts::loadRevision("rev-2", folder, meeting.id, files);
  ASSERT_TRUE(loaded.ok() && loaded->has_value());
  EXPECT_EQ(TranscriptArtifacts::save(revision, folder, files).error().message, "Transcript revision already exists");
}

TEST_F(CatalogFaultsTest, AnArchiveFolderThatCannotBeListedChangesNothingInTheCatalog) {
  addMeeting("Planning", 1772633700);
  const auto other = addMeeting("Retro", 1772720100);  // another day, another folder
  auto catalog = orThrow(Catalog::open(databaseFile, files));
  orThrow(catalog->rebuild(archive));
  const std::string before = dumpCatalog(databaseFile);
  ASSERT_NE(before.find("Retro"), std::string::npos);

  const std::string day = other.parent_path().string();
  files.failNth(FaultOp::list, day);
  EXPECT_FALSE(catalog->refresh(archive).ok());
  EXPECT_EQ(dumpCatalog(databaseFile), before);
  files.failNth(FaultOp::list, day);
  EXPECT_FALSE(catalog->rebuild(archive).ok());
  EXPECT_EQ(dumpCatalog(databaseFile), before);

  auto refreshed = catalog->refresh(archive);
  ASSERT_TRUE(refreshed.ok()) << refreshed.error().message;
  EXPECT_EQ(refreshed->meetingsRemoved, 0u);
}

}  // namespace
}  // namespace korvel::testing
