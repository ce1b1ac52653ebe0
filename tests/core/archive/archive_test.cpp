// Archive layout, creation, listing and the no-follow rules of every folder-level access.

#include "core/archive/archive.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/crypto.h"
#include "tests/core/archive/archive_test_support.h"
#include "tests/support/temp_dir.h"

namespace korvel {
namespace {

namespace fs = std::filesystem;
using testing::ArchiveSandbox;
using testing::readText;
using testing::treeFingerprint;
using testing::writeText;

TEST(ArchiveLayoutTest, LocalDayFolderAndUtcName) {
  ManualClock clock;
  Archive archive("/archive", clock, "America/New_York");
  Meeting meeting;
  meeting.id = "X";
  meeting.startedAt = parseIso8601("2026-03-05T04:30:00Z").value();  // 23:30 on the 4th at UTC−5
  EXPECT_EQ(*archive.folderComponents(meeting), (std::vector<std::string>{"2026", "03", "04", "20260305T043000Z_X"}));
  Archive lisbon("/archive", clock, "Europe/Lisbon");
  meeting.startedAt = parseIso8601("2026-03-04T14:15:00Z").value();
  EXPECT_EQ(*lisbon.folderComponents(meeting), (std::vector<std::string>{"2026", "03", "04", "20260304T141500Z_X"}));
  EXPECT_EQ(lisbon.trashRoot(), fs::path("/archive/.trash"));
  EXPECT_EQ(lisbon.relativePath("/archive/2026/03/04/f"), "2026/03/04/f");
  EXPECT_FALSE(lisbon.relativePath("/archive").has_value());
  EXPECT_FALSE(lisbon.relativePath("/elsewhere/2026").has_value());
  EXPECT_FALSE(lisbon.relativePath("/archive/2026/../../etc").has_value());
}

TEST(ArchiveLayoutTest, AStartTimeWithNoCalendarDayIsRefusedNotFiledUnderYearZero) {
  testing::TempDir temp;
  ManualClock clock;
  Archive archive(temp / "Archive", clock, "UTC");
  Meeting meeting = Meeting::create("Far future", 0, {Source{"mic", "Mic", "microphone"}}, "mic", clock, "UTC");
  for (double seconds : {1e15, -1e15}) {
    meeting.startedAt = Date::fromUnix(seconds);
    auto components = archive.folderComponents(meeting);
    ASSERT_FALSE(components.ok());
    EXPECT_EQ(components.error().message, "The meeting's start time cannot be placed on a calendar day.");
    auto created = archive.create(meeting);
    ASSERT_FALSE(created.ok());
    EXPECT_EQ(created.error().code, ErrorCode::InvalidInput);
  }
  EXPECT_FALSE(fs::exists(temp / "Archive" / "0000"));
  EXPECT_FALSE(fs::exists(temp / "Archive"));  // nothing is created for a refused meeting
}

TEST(ArchiveLayoutTest, WellKnownRoots) {
  PlatformFolders folders;
  folders.applicationSupport = "/home/u/.local/share/korvel";
  folders.archiveRoot = "/home/u/Videos/Korvel";
  EXPECT_EQ(Archive::legacyRoot(folders), fs::path("/home/u/.local/share/korvel/Archive"));
  EXPECT_EQ(Archive::supportRoot("/home/u/Videos/Korvel/", folders), folders.applicationSupport);
  EXPECT_EQ(Archive::supportRoot("/home/u/.local/share/korvel/Archive", folders), folders.applicationSupport);
  EXPECT_EQ(Archive::supportRoot("/mnt/disk/Meetings", folders), fs::path("/mnt/disk"));
}

TEST(ArchiveTest, CreateWritesManifestAndCreatedEvent) {
  ArchiveSandbox f;
  Meeting meeting = Meeting::create("Standup", 3, {{"mic", "Mic", "microphone"}}, std::nullopt, f.clock, "Europe/Lisbon");
  const fs::path folder = f.archive.create(meeting).value();
  EXPECT_EQ(folder, f.temp / "Archive/2026/03/04" / ("20260304T141500Z_" + meeting.id));
  EXPECT_EQ(f.archive.read(folder).value(), meeting);
  const std::string manifest = readText(folder / "manifest.json");
  EXPECT_EQ(manifest, encodePretty(meeting.toJson()));
  const std::string events = readText(folder / "events.jsonl");
  ASSERT_EQ(events.back(), '\n');
  const MeetingEvent created = decodeEventLine(events.substr(0, events.size() - 1)).value();
  EXPECT_EQ(created.kind, "created");
  EXPECT_EQ(created.detail, meeting.captureDescription());
  EXPECT_EQ(created.utc, f.clock.now());

  // The same meeting cannot be created twice, and a bad identifier never becomes a folder name.
  const std::string before = treeFingerprint(f.temp.path());
  EXPECT_EQ(f.archive.create(meeting).error().message, "A meeting folder with this name already exists.");
  meeting.id = "../escape";
  EXPECT_FALSE(f.archive.create(meeting).ok());
  EXPECT_EQ(treeFingerprint(f.temp.path()), before);
}

TEST(ArchiveTest, SessionsNewestFirstSkippingTrashAndReportingBrokenManifests) {
  ArchiveSandbox f;
  const fs::path older = f.addMeeting("Older", SessionState::finalized, 1772000000);
  const fs::path newer = f.addMeeting("Newer", SessionState::finalized, 1772900000);
  const fs::path trashed = f.addMeeting("Trashed", SessionState::finalized, 1773000000);
  fs::create_directories(f.temp / "Archive/.trash");
  fs::rename(trashed, f.temp / "Archive/.trash/ENTRY");
  writeText(f.temp / "Archive/2026/03/01/broken/manifest.json", "{\"schemaVersion\":");
  // A link to a real meeting elsewhere is not entered.
  const fs::path outside = f.temp / "outside";
  fs::copy(newer, outside, fs::copy_options::recursive);
  fs::create_directory_symlink(outside, f.temp / "Archive/2026/03/01/linked");

  std::vector<fs::path> reported;
  const auto sessions = f.archive.sessions([&](const fs::path& url, const Error&) { reported.push_back(url); });
  ASSERT_EQ(sessions.size(), 2u);
  EXPECT_EQ(sessions[0].meeting.title, "Newer");
  EXPECT_EQ(sessions[0].folder, newer);
  EXPECT_EQ(sessions[1].folder, older);
  EXPECT_EQ(reported, std::vector<fs::path>{f.temp / "Archive/2026/03/01/broken/manifest.json"});
  EXPECT_EQ(f.archive.find(sessions[1].meeting.id).value().folder, older);
  EXPECT_EQ(f.archive.find("nobody").error().message, "No meeting with this identifier is in the archive.");
  EXPECT_TRUE(Archive(f.temp / "missing", f.clock, "UTC").sessions().empty());
}

TEST(ArchiveTest, SymbolicLinksAreRefusedAtEveryLevel) {
  ArchiveSandbox f;
  const fs::path folder = f.addMeeting("Real");
  const Meeting meeting = f.archive.read(folder).value();
  const fs::path real = f.temp / "real";
  fs::copy(folder, real, fs::copy_options::recursive);

  // Day folder, meeting folder, manifest and event log, each replaced by a link in turn.
  fs::create_directory_symlink(folder.parent_path(), f.temp / "Archive/2026/03/05");
  const fs::path viaDay = f.temp / "Archive/2026/03/05" / folder.filename();
  fs::create_directory_symlink(real, folder.parent_path() / "linked");
  const fs::path viaFolder = folder.parent_path() / "linked";
  fs::create_directories(folder.parent_path() / "manifestlink");
  fs::create_symlink(real / "manifest.json", folder.parent_path() / "manifestlink/manifest.json");
  fs::create_symlink(real / "events.jsonl", folder.parent_path() / "manifestlink/events.jsonl");
  const fs::path viaManifest = folder.parent_path() / "manifestlink";

  const std::string before = treeFingerprint(f.temp.path());
  for (const fs::path& target : {viaDay, viaFolder}) {
    EXPECT_EQ(f.archive.read(target).error().message,
              "The meeting folder and its archive parents cannot be symbolic links.");
    EXPECT_FALSE(f.archive.save(meeting, target).ok());
    EXPECT_FALSE(f.archive.event("note", "x", target).ok());
    EXPECT_FALSE(f.archive.recover(target).ok());
  }
  EXPECT_EQ(f.archive.read(viaManifest).error().message,
            "The meeting manifest must be a regular file, not a symbolic link.");
  EXPECT_EQ(f.archive.save(meeting, viaManifest).error().message,
            "The meeting manifest must be a regular file, not a symbolic link.");
  EXPECT_EQ(f.archive.event("note", "x", viaManifest).error().message,
            "The meeting's event log must be a regular file, not a symbolic link.");
  EXPECT_EQ(f.archive.read(f.temp / "elsewhere").error().message, "The meeting folder must be inside the archive.");
  EXPECT_EQ(treeFingerprint(f.temp.path()), before);
}

TEST(ArchiveTest, SaveRefusesWhatReadingWouldRefuse) {
  ArchiveSandbox f;
  const fs::path folder = f.addMeeting("Valid");
  Meeting meeting = f.archive.read(folder).value();
  meeting.segments.push_back(Segment{"s1", "nobody", "a.wav", 0, 30, 1, std::string(64, 'a')});
  const std::string before = treeFingerprint(f.temp.path());
  EXPECT_EQ(f.archive.save(meeting, folder).error().code, ErrorCode::Corrupt);
  meeting.segments.back() = Segment{"s1", "mic", "a.wav", 0, -5, 1, std::string(64, 'a')};
  EXPECT_EQ(f.archive.save(meeting, folder).error().code, ErrorCode::Corrupt);
  EXPECT_EQ(treeFingerprint(f.temp.path()), before);
}

TEST(ArchiveTest, OversizedManifestIsRefused) {
  ArchiveSandbox f;
  const fs::path folder = f.addMeeting("Big");
  writeText(folder / "manifest.json", std::string(kMaximumManifestBytes + 1, ' '));
  EXPECT_EQ(f.archive.read(folder).error().message, "The meeting manifest is larger than the archive allows.");
}

TEST(ArchiveTest, SafeMediaURLAndHash) {
  ArchiveSandbox f;
  const fs::path folder = f.addMeeting("Media");
  writeText(folder / "a.wav", "audio bytes");
  fs::create_symlink(folder / "a.wav", folder / "alias.wav");
  EXPECT_EQ(Archive::safeMediaURL("a.wav", folder), folder / "a.wav");
  EXPECT_EQ(Archive::safeMediaURL("not-yet.wav", folder), folder / "not-yet.wav");
  for (const char* bad : {"", ".", "..", "../a.wav", "sub/a.wav", "a\\b", "alias.wav"})
    EXPECT_FALSE(Archive::safeMediaURL(bad, folder).has_value()) << bad;

  EXPECT_EQ(Archive::hash(folder / "a.wav").value(), sha256Hex("audio bytes"));
  EXPECT_EQ(Archive::hash(folder / "alias.wav").error().message,
            "The media file must be a regular file, not a symbolic link.");
  EXPECT_EQ(Archive::hash(folder / "none.wav").error().code, ErrorCode::NotFound);
  EXPECT_GT(Archive::availableBytes(folder).value(), 0);
}

TEST(ArchiveTest, JsonReaderAndWriter) {
  ArchiveSandbox f;
  const fs::path file = f.temp / "settings.json";
  ASSERT_TRUE(Archive::encode(Json{{"b", 1}, {"a", "x/y"}}, file).ok());
  EXPECT_EQ(readText(file), "{\n  \"a\" : \"x\\/y\",\n  \"b\" : 1\n}");
  EXPECT_EQ(Archive::decode(file).value()["a"], "x/y");
  writeText(file, "[1,");
  EXPECT_EQ(Archive::decode(file).error().code, ErrorCode::Corrupt);
}

}  // namespace
}  // namespace korvel
