// `korvel trash`, `korvel trash list` and `korvel restore` on a real archive under KORVEL_HOME.

#include <gtest/gtest.h>

#include <filesystem>

#include "core/archive/restore_record.h"
#include "tests/apps/archive_cli_fixture.h"

namespace korvel::cli {
namespace {

namespace fs = std::filesystem;
using korvel::testing::addMeeting;
using korvel::testing::treeFingerprint;
using korvel::testing::writeText;

using TrashCliTest = ArchiveCliFixture;

TEST_F(TrashCliTest, TrashListAndRestoreByEntryOrIdentifier) {
  auto session = addMeeting(archive, clock, "Weekly sync", {"audio"});
  const std::string id = session.meeting.id;
  auto trashed = korvel({"trash", id});
  ASSERT_EQ(trashed.code, kExitOk) << trashed.err;
  EXPECT_NE(trashed.out.find("Weekly sync"), std::string::npos);
  EXPECT_FALSE(fs::exists(session.folder));

  auto listed = korvel({"trash", "list", "--json"});
  ASSERT_EQ(listed.code, kExitOk) << listed.err;
  auto items = parseJson(listed.out);
  ASSERT_TRUE(items.ok());
  ASSERT_EQ(items->size(), 1u);
  const std::string entry = (*items)[0]["entry"].get<std::string>();
  EXPECT_EQ((*items)[0]["id"], id);
  EXPECT_EQ((*items)[0]["title"], "Weekly sync");
  EXPECT_TRUE(fs::is_directory(archive.trashRoot() / entry));
  EXPECT_EQ(korvel({"list", "--json"}).out.find(id), std::string::npos);

  const auto text = korvel({"trash", "list"});
  EXPECT_NE(text.out.find(entry + "  " + id), std::string::npos);

  auto restored = korvel({"restore", entry});
  ASSERT_EQ(restored.code, kExitOk) << restored.err;
  EXPECT_NE(restored.out.find(*archive.relativePath(session.folder)), std::string::npos);
  EXPECT_TRUE(fs::is_directory(session.folder));
  EXPECT_EQ(korvel({"trash", "list"}).out, "Trash is empty.\n");

  ASSERT_EQ(korvel({"trash", id, "--json"}).code, kExitOk);
  restored = korvel({"restore", id, "--json"});
  ASSERT_EQ(restored.code, kExitOk) << restored.err;
  auto json = parseJson(restored.out);
  ASSERT_TRUE(json.ok());
  EXPECT_EQ((*json)["folder"], *archive.relativePath(session.folder));
}

TEST_F(TrashCliTest, RefusalsPrintTheSentenceAndChangeNothing) {
  auto recording = addMeeting(archive, clock, "Live", {"x"}, SessionState::recording);
  auto session = addMeeting(archive, clock, "Done", {"x"});
  expectRefusal({"trash", recording.meeting.id}, "Stop recording before moving this meeting to Trash.");
  expectRefusal({"restore", "NOT-THERE"}, "Choose a meeting in Korvel’s Trash.");
  expectRefusal({"restore", "../2026"}, "Choose a meeting in Korvel’s Trash.");

  ASSERT_EQ(korvel({"trash", session.meeting.id}).code, kExitOk);
  writeText(session.folder / "manifest.json", "{}");  // someone else's folder at the old path
  expectRefusal({"restore", session.meeting.id},
                "The restoration destination is occupied or outside the archive. The recording remains in Trash.");
  fs::remove_all(session.folder);

  // Trash replaced by a link to a folder inside the archive.
  fs::rename(archive.trashRoot(), root / "decoy");
  fs::create_directory_symlink(root / "decoy", archive.trashRoot());
  expectRefusal({"trash", "list"}, "Trash must be a folder inside this archive.");
  expectRefusal({"restore", session.meeting.id}, "Trash must be a folder inside this archive.");
  auto other = addMeeting(archive, clock, "Other", {"y"});
  expectRefusal({"trash", other.meeting.id}, "The app Trash folder cannot be a symbolic link.");
}

TEST_F(TrashCliTest, RestoringANamedEntryAppliesTheEntryCheck) {
  auto session = addMeeting(archive, clock, "Done", {"x"});
  auto trashed = korvel({"trash", session.meeting.id, "--json"});
  ASSERT_EQ(trashed.code, kExitOk) << trashed.err;
  const std::string entry = (*parseJson(trashed.out))["entry"].get<std::string>();
  // The recorder reopened the meeting inside Trash: it is left out of listings, yet naming its
  // entry must still give the reason it cannot come back.
  Meeting reopened = session.meeting;
  reopened.state = SessionState::paused;
  writeText(archive.trashRoot() / entry / "manifest.json", encodeManifest(reopened));
  expectRefusal({"restore", entry}, "An active or paused meeting cannot be restored.");
  expectRefusal({"restore", session.meeting.id}, "Choose a meeting in Korvel’s Trash.");

  writeText(archive.trashRoot() / "notes.txt", "stray");
  expectRefusal({"restore", "notes.txt"}, "The Trash entry must have its own valid meeting folder and manifest.");
}

TEST_F(TrashCliTest, ListingReportsStrayItemsAndGoesOn) {
  auto session = addMeeting(archive, clock, "Done", {"x"});
  ASSERT_EQ(korvel({"trash", session.meeting.id}).code, kExitOk);
  writeText(archive.trashRoot() / "notes.txt", "stray");
  const auto listed = korvel({"trash", "list", "--json"});
  EXPECT_EQ(listed.code, kExitOk);
  EXPECT_NE(listed.err.find("notes.txt"), std::string::npos);
  EXPECT_NE(listed.err.find("The Trash entry must have its own valid meeting folder and manifest."), std::string::npos);
  EXPECT_EQ(parseJson(listed.out)->size(), 1u);
}

TEST_F(TrashCliTest, TrashWithoutAnIdentifierIsAUsageError) {
  const auto result = korvel({"trash"});
  EXPECT_EQ(result.code, kExitUsage);
  EXPECT_NE(result.err.find("list"), std::string::npos);
}

}  // namespace
}  // namespace korvel::cli
