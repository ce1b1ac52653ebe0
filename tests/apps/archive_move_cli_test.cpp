// `korvel archive move DEST` on a real archive under KORVEL_HOME: dry run, the move with its
// default archive and catalog, progress, and the refusals that change nothing.

#include <gtest/gtest.h>

#include <filesystem>

#include "apps/korvel/catalog_options.h"
#include "core/archive/library_move.h"
#include "tests/apps/archive_cli_fixture.h"

namespace korvel::cli {
namespace {

namespace fs = std::filesystem;
using korvel::testing::addMeeting;
using korvel::testing::readText;
using korvel::testing::treeFingerprint;
using ::testing::HasSubstr;
using ::testing::Not;

class ArchiveMoveCliTest : public ArchiveCliFixture {
 protected:
  fs::path disk = temp / "disk2";
  fs::path destination = disk / "Korvel";
  void SetUp() override {
    ArchiveCliFixture::SetUp();
    fs::create_directories(disk);
    addMeeting(archive, clock, "Planning", {"audio one", "audio two"});
    addMeeting(archive, clock, "Review", {"review audio"});
  }
};

TEST_F(ArchiveMoveCliTest, DryRunCountsAndChangesNothing) {
  const std::string before = treeFingerprint(temp.path());
  const auto text = korvel({"archive", "move", destination.string(), "--dry-run"});
  ASSERT_EQ(text.code, kExitOk) << text.err;
  EXPECT_THAT(text.out, HasSubstr("Would copy "));
  EXPECT_THAT(text.out, HasSubstr("(3 media)"));
  EXPECT_THAT(text.out, HasSubstr("Nothing was changed."));
  const auto json = korvel({"archive", "move", destination.string(), "--dry-run", "--json"});
  ASSERT_EQ(json.code, kExitOk) << json.err;
  const auto parsed = parseJson(json.out);
  ASSERT_TRUE(parsed.ok());
  EXPECT_EQ((*parsed)["mediaFiles"], 3);
  EXPECT_EQ((*parsed)["dryRun"], true);
  EXPECT_EQ((*parsed)["destination"], destination.string());
  EXPECT_EQ(treeFingerprint(temp.path()), before);
}

TEST_F(ArchiveMoveCliTest, MoveMakesTheNewLocationTheDefaultWithItsCatalog) {
  const std::string sourceBefore = treeFingerprint(root);
  const auto moved = korvel({"archive", "move", destination.string()});
  ASSERT_EQ(moved.code, kExitOk) << moved.err;
  EXPECT_THAT(moved.out, HasSubstr("Moved the archive to " + destination.string()));
  EXPECT_THAT(moved.out, HasSubstr(destination.string() + " is now your default archive."));
  EXPECT_THAT(moved.out, HasSubstr("Catalog built: 2 meetings."));
  EXPECT_THAT(moved.out, HasSubstr("The old archive at " + root.string() + " was left untouched"));
  EXPECT_THAT(moved.err, HasSubstr("Copying "));  // plain lines, not a bar, off a terminal
  EXPECT_THAT(moved.err, Not(HasSubstr("\r")));
  EXPECT_EQ(treeFingerprint(root), sourceBefore);
  EXPECT_TRUE(fs::is_regular_file(destination / kLibraryMarkerFileName));
  EXPECT_TRUE(fs::is_regular_file(temp / "data" / "catalogs" / (archiveCatalogKey(destination) + ".sqlite")));

  // Without --archive the tool now opens the new location; --archive and KORVEL_ARCHIVE still win.
  fs::remove_all(root);
  const auto listed = korvel({"list"});
  ASSERT_EQ(listed.code, kExitOk) << listed.err;
  EXPECT_THAT(listed.out, HasSubstr("Planning"));
  const auto pinned = invokeCli({"list", "--json"},
                                {{"KORVEL_HOME", temp.path().string()}, {"KORVEL_ARCHIVE", (temp / "none").string()}});
  EXPECT_THAT(pinned.out, Not(HasSubstr("Planning")));
  EXPECT_THAT(korvel({"list", "--json", "--archive", (temp / "none").string()}).out, Not(HasSubstr("Planning")));
}

TEST_F(ArchiveMoveCliTest, ProgressBarOnATerminalAndJsonSummary) {
  const auto moved = korvel({"archive", "move", destination.string(), "--json"}, Terminal::yes);
  ASSERT_EQ(moved.code, kExitOk) << moved.err;
  EXPECT_THAT(moved.err, HasSubstr("\rCopying    ["));
  EXPECT_THAT(moved.err, HasSubstr("100%"));
  const auto parsed = parseJson(moved.out);
  ASSERT_TRUE(parsed.ok()) << moved.out;
  EXPECT_EQ((*parsed)["defaultArchive"], true);
  EXPECT_EQ((*parsed)["catalogMeetings"], 2);
  EXPECT_EQ((*parsed)["source"], root.string());
}

TEST_F(ArchiveMoveCliTest, RefusalsAreOneSentenceAndChangeNothing) {
  fs::create_directories(disk / "Taken");
  expectRefusal({"archive", "move", (disk / "Taken").string()},
                "There is already a file or folder at " + (disk / "Taken").string() +
                    "; choose a location that does not exist yet.");
  expectRefusal({"archive", "move", (root / "2026-copy").string()},
                (root / "2026-copy").string() + " is inside the archive; choose a location outside it.");
  fs::create_directory_symlink(temp / "disk2", root / "elsewhere");
  expectRefusal({"archive", "move", destination.string()},
                "The archive contains a symbolic link at elsewhere; move or remove it before moving the archive.");
  fs::remove(root / "elsewhere");
  addMeeting(archive, clock, "Live", {"x"}, SessionState::recording);
  expectRefusal({"archive", "move", destination.string()}, "Stop recording “Live” before moving the archive.");
  expectRefusal({"archive", "move", destination.string(), "--archive", (temp / "nothing").string()},
                "No archive at " + (temp / "nothing").string() + ".");
}

}  // namespace
}  // namespace korvel::cli
