// `korvel trash`, `korvel trash list` and `korvel restore` on a real archive under KORVEL_HOME.

#include <gtest/gtest.h>

#include <filesystem>

#include "core/archive/restore_record.h"
#include "tests/apps/archive_cli_fixture.h"
#include "tests/support/result_matchers.h"

namespace korvel::cli {
namespace {

namespace fs = std::filesystem;
using ::testing::SizeIs;
using korvel::testing::addMeeting;
using korvel::testing::IsOkAndHolds;
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
  EXPECT_NE(text.out.find(entry.substr(0, 12) + "  " + id), std::string::npos);

  auto restored = korvel({"restore", entry});
  ASSERT_EQ(restored.code, kExitOk) << restored.err;
  const auto relativeFolder = archive.relativePath(session.folder);
  ASSERT_TRUE(relativeFolder.has_value());
  EXPECT_NE(restored.out.find(*relativeFolder), std::string::npos);
  EXPECT_TRUE(fs::is_directory(session.folder));
  EXPECT_EQ(korvel({"trash", "list"}).out, "Trash is empty.\n");

  ASSERT_EQ(korvel({"trash", id, "--json"}).code, kExitOk);
  restored = korvel({"restore", id, "--json"});
  ASSERT_EQ(restored.code, kExitOk) << restored.err;
  auto json = parseJson(restored.out);
  ASSERT_TRUE(json.ok());
  EXPECT_EQ((*json)["folder"], *relativeFolder);
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
  EXPECT_THAT(parseJson(listed.out), IsOkAndHolds(SizeIs(1)));
}

TEST_F(TrashCliTest, TrashWithoutAnIdentifierPrintsOneLineOfUsage) {
  const auto result = korvel({"trash"});
  EXPECT_EQ(result.code, kExitUsage);
  EXPECT_EQ(result.err, "Usage: korvel trash ID, or korvel trash list (korvel trash --help tells more).\n");
  EXPECT_EQ(result.out, "");
}

// Meetings whose identifiers share their first 8 characters, as shortened ones might.
TEST_F(TrashCliTest, RestoresByAUniquePrefixAndRefusesAnAmbiguousOne) {
  for (const char* id : {"AAAAAAAA-1111", "AAAAAAAA-2222", "BBBBBBBB-3333"}) {
    clock.advance(60);
    Meeting meeting = Meeting::create(std::string("Meeting ") + id, 0, {{"mic", "Microphone", "microphone"}}, "mic",
                                      clock, "UTC");
    meeting.id = id;
    meeting.state = SessionState::finalized;
    ASSERT_THAT(archive.create(meeting), korvel::testing::IsOk());
    ASSERT_EQ(korvel({"trash", id}).code, kExitOk);
  }
  const auto moved = korvel({"trash", "list", "--json"});
  ASSERT_OK_AND_ASSIGN(const Json entries, parseJson(moved.out));
  ASSERT_EQ(entries.size(), 3u);

  expectRefusal({"restore", "AAAAAAAA"},
                "“AAAAAAAA” begins several Trash entries and meetings (AAAAAAAA-1111, AAAAAAAA-2222); give more of it.");
  expectRefusal({"restore", "BBBBBBB"}, "Choose a meeting in Korvel’s Trash.");  // 7 characters are too few

  const auto byMeeting = korvel({"restore", "BBBBBBBB"});
  ASSERT_EQ(byMeeting.code, kExitOk) << byMeeting.err;
  EXPECT_NE(byMeeting.out.find("Meeting BBBBBBBB-3333"), std::string::npos);

  // An entry prefix works as well, and text listings print the 12-character form of entries.
  const std::string entry = entries[entries[0]["id"] == "BBBBBBBB-3333" ? 1 : 0]["entry"].get<std::string>();
  const auto listed = korvel({"trash", "list"});
  EXPECT_NE(listed.out.find(entry.substr(0, 12) + "  "), std::string::npos);
  EXPECT_EQ(listed.out.find(entry), std::string::npos);
  const auto byEntry = korvel({"restore", entry.substr(0, 8)});
  EXPECT_EQ(byEntry.code, kExitOk) << byEntry.err;
}

}  // namespace
}  // namespace korvel::cli
