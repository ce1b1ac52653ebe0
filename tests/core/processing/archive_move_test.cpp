// Moving a library: refusals that change nothing, a complete move, and moves cut short by a
// failed write, sync or rename at every step or by SIGKILL at random points.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <random>

#include "core/archive/user_settings.h"
#include "core/processing/archive_move.h"
#include "core/processing/processing_location.h"
#include "tests/core/archive/trash_fixtures.h"
#include "tests/support/fault_file_system.h"

namespace korvel {
namespace {

namespace fs = std::filesystem;
using testing::addMeeting;
using testing::FailsWith;
using testing::FaultFileSystem;
using testing::FaultOp;
using testing::IsOk;
using testing::readText;
using testing::treeFingerprint;
using testing::valueOf;
using testing::writeText;
using ::testing::HasSubstr;

// The real file system, with a chosen free space and an optional SIGKILL of the whole process
// just before its n-th change to a file or folder.
class ForwardingFileSystem final : public FileSystem {
 public:
  std::optional<int64_t> available;
  int killBefore = 0;  // 0: never
  mutable std::atomic<int> changes{0};

  int open(const Path& w, int flags, mode_t mode, int& fd) const override { change(); return base().open(w, flags, mode, fd); }
  int openAt(int d, const std::string& n, const Path& w, int flags, mode_t mode, int& fd) const override {
    if (flags & (O_WRONLY | O_RDWR | O_CREAT)) change();
    return base().openAt(d, n, w, flags, mode, fd);
  }
  int close(int fd) const override { return base().close(fd); }
  int write(int fd, const Path& w, std::string_view b) const override { change(); return base().write(fd, w, b); }
  int read(int fd, const Path& w, char* b, size_t s, size_t& g) const override { return base().read(fd, w, b, s, g); }
  int sync(int fd, const Path& w, bool d) const override { change(); return base().sync(fd, w, d); }
  int stat(int fd, struct stat& o) const override { return base().stat(fd, o); }
  int statAt(int d, const std::string& n, const Path& w, struct stat& o) const override { return base().statAt(d, n, w, o); }
  int chmod(int fd, mode_t m) const override { change(); return base().chmod(fd, m); }
  int chmodAt(int d, const std::string& n, const Path& w, mode_t m) const override { change(); return base().chmodAt(d, n, w, m); }
  int mkdirAt(int d, const std::string& n, const Path& w, mode_t m) const override { change(); return base().mkdirAt(d, n, w, m); }
  int renameAt(int fd, const std::string& f, const Path& fw, int td, const std::string& t, const Path& tw, bool nr) const override {
    change();
    return base().renameAt(fd, f, fw, td, t, tw, nr);
  }
  int unlinkAt(int d, const std::string& n, const Path& w, bool dir) const override { change(); return base().unlinkAt(d, n, w, dir); }
  int list(int d, const Path& w, std::vector<DirEntry>& o) const override { return base().list(d, w, o); }
  int lock(int fd, bool e) const override { return base().lock(fd, e); }
  int unlock(int fd) const override { return base().unlock(fd); }
  Result<int64_t> availableBytes(const Path& p) const override {
    if (available) return *available;
    return base().availableBytes(p);
  }
  Result<Path> absolute(const Path& p) const override { return base().absolute(p); }
  Result<Path> canonical(const Path& p) const override { return base().canonical(p); }
  bool isSymlink(const Path& p) const override { return base().isSymlink(p); }
  Status createDirectories(const Path& p, mode_t m) const override { change(); return base().createDirectories(p, m); }
  Result<Path> temporaryDirectory() const override { return base().temporaryDirectory(); }
  Result<Path> makeTemporaryFolder(std::string_view p) const override { return base().makeTemporaryFolder(p); }
  Status removeAll(const Path& p) const override { change(); return base().removeAll(p); }

 private:
  static const FileSystem& base() { return FileSystem::posix(); }
  void change() const {
    if (++changes == killBefore) ::kill(::getpid(), SIGKILL);
  }
};

class ArchiveMoveTest : public testing::ArchiveFixture {
 protected:
  fs::path disk = temp / "disk2";
  fs::path destination = disk / "Korvel";
  fs::path settings = temp / "config" / "settings.json";
  const std::string oldSettings = R"({"archiveRoot": "/previous", "version": 1})";

  void SetUp() override {
    ArchiveFixture::SetUp();
    fs::create_directories(disk);
    addMeeting(archive, clock, "Planning", {"audio one", std::string(70000, 'a')});
    addMeeting(archive, clock, "Review", {"review audio"});
    const auto trashed = addMeeting(archive, clock, "Old", {"old audio"});
    fs::create_directories(root / ".trash");
    fs::rename(trashed.folder, root / ".trash" / "5D1B3D0E-0D3F-4B59-9F3C-7C1E2C0B5A11");
    writeText(settings, oldSettings);
  }

  // The destination is either absent or a complete, marked copy of the archive.
  void expectAbsentOrComplete(const std::string& sourceFingerprint) {
    EXPECT_EQ(treeFingerprint(root), sourceFingerprint) << "the archive itself changed";
    if (!fs::exists(destination)) {
      EXPECT_EQ(readText(settings), oldSettings);
      return;
    }
    const Archive moved(destination, clock, "UTC");
    EXPECT_EQ(moved.sessions().size(), archive.sessions().size());
    auto marker = parseJson(readText(destination / kLibraryMarkerFileName));
    ASSERT_TRUE(marker.ok());
    EXPECT_THAT(LibraryMarker::fromJson(*marker), IsOk());
    for (const auto& session : archive.sessions()) {
      for (const auto& segment : session.meeting.segments) {
        const fs::path copy = destination / *archive.relativePath(session.folder) / segment.file;
        EXPECT_EQ(readText(copy), readText(session.folder / segment.file));
      }
    }
  }

  std::vector<fs::path> stagingFolders() const {
    std::vector<fs::path> found;
    for (const auto& entry : fs::directory_iterator(disk)) {
      if (entry.path().filename().string().starts_with(kMoveStagingPrefix)) found.push_back(entry.path());
    }
    return found;
  }
};

TEST_F(ArchiveMoveTest, MovesVerifiesPublishesAndRecordsTheDefault) {
  const std::string before = treeFingerprint(root);
  std::vector<ArchiveMovePhase> phases;
  const auto outcome = valueOf(moveArchive(archive, destination, settings,
                                           [&](ArchiveMovePhase phase, uint64_t, uint64_t) {
                                             if (phases.empty() || phases.back() != phase) phases.push_back(phase);
                                           }));
  EXPECT_EQ(phases, (std::vector{ArchiveMovePhase::copying, ArchiveMovePhase::verifying,
                                 ArchiveMovePhase::publishing}));
  EXPECT_FALSE(outcome.settingsError);
  EXPECT_EQ(outcome.plan.inventory.mediaFiles, 4u);
  EXPECT_EQ(treeFingerprint(root), before);
  expectAbsentOrComplete(before);
  EXPECT_THAT(readUserSettings(FileSystem::posix(), settings),
              testing::IsOkAndHolds(UserSettings{destination}));
  EXPECT_TRUE(stagingFolders().empty());
  const auto marker = valueOf(LibraryMarker::fromJson(valueOf(parseJson(readText(destination / kLibraryMarkerFileName)))));
  EXPECT_EQ(marker.movedFrom, root.string());
  EXPECT_EQ(marker.movedAt, clock.now());
  // The moved meetings' jobs stay bound to where they were first planned.
  const Archive moved(destination, clock, "UTC");
  for (const auto& session : moved.sessions()) {
    const auto identity = parseJson(readText(session.folder / ".korvel-processing-location.json"));
    ASSERT_TRUE(identity.ok()) << session.meeting.title;
    EXPECT_EQ((*identity)["directory"], session.folder.string());
    EXPECT_EQ((*identity)["identityDirectory"], (root / *moved.relativePath(session.folder)).string());
  }
}

TEST_F(ArchiveMoveTest, RefusalsChangeNothing) {
  ForwardingFileSystem files;
  const Archive source(root, clock, "UTC", files);
  const auto refused = [&](const fs::path& to, const ::testing::Matcher<const std::string&>& message) {
    const std::string before = treeFingerprint(temp.path());
    EXPECT_THAT(moveArchive(source, to, settings), FailsWith(message)) << to;
    EXPECT_EQ(treeFingerprint(temp.path()), before);
  };
  fs::create_directories(disk / "Taken");
  refused(disk / "Taken", "There is already a file or folder at " + (disk / "Taken").string() +
                              "; choose a location that does not exist yet.");
  refused(root, "There is already a file or folder at " + root.string() + "; choose a location that does not exist yet.");
  refused(root / "2020" / "Korvel", "The folder " + (root / "2020").string() +
                                        " does not exist; create it first or choose another location.");
  refused(root / ".trash" / "Korvel", (root / ".trash" / "Korvel").string() +
                                          " is inside the archive; choose a location outside it.");
  fs::create_directory_symlink(root, disk / "through-link");
  refused(disk / "through-link" / "Korvel", (disk / "through-link" / "Korvel").string() +
                                                " is inside the archive; choose a location outside it.");
  EXPECT_THAT(moveArchive(Archive(temp / "missing", clock, "UTC", files), destination, settings),
              FailsWith("No archive at " + (temp / "missing").string() + "."));

  files.available = 1000;
  refused(destination, HasSubstr("There is not enough free space at " + disk.string() + ": the archive needs "));
  files.available.reset();
  addMeeting(archive, clock, "Live call", {"live"}, SessionState::paused);
  refused(destination, "Stop recording “Live call” before moving the archive.");
}

TEST_F(ArchiveMoveTest, AFaultAtAnyStepLeavesNoHalfPublishedDestination) {
  const std::string before = treeFingerprint(root);
  for (int step = 1;; ++step) {
    SCOPED_TRACE(::testing::Message() << "failing change " << step << " and every later one");
    FaultFileSystem files;
    files.failFrom(FaultOp::anyChange, "", step);
    const Archive source(root, clock, "UTC", files);
    auto moved = moveArchive(source, destination, settings);
    const bool reachedEveryStep = files.calls(FaultOp::anyChange) < step;
    if (!moved.ok()) {
      EXPECT_FALSE(fs::exists(destination));
    } else if (moved->settingsError) {
      EXPECT_EQ(readText(settings), oldSettings);
    } else {
      EXPECT_THAT(readUserSettings(FileSystem::posix(), settings), testing::IsOkAndHolds(UserSettings{destination}));
    }
    expectAbsentOrComplete(before);
    if (reachedEveryStep) {
      ASSERT_TRUE(moved.ok());
      break;
    }
    // What a failing removal left behind goes with the next move into the folder.
    fs::remove_all(destination);
    writeText(settings, oldSettings);
    if (step % 25 == 0 && !stagingFolders().empty()) {
      const fs::path other = disk / "Other";
      const auto outcome = valueOf(moveArchive(archive, other, settings));
      EXPECT_GE(outcome.abandonedStagingRemoved, 1u);
      EXPECT_TRUE(stagingFolders().empty());
      fs::remove_all(other);
      writeText(settings, oldSettings);
    }
    for (const auto& folder : stagingFolders()) fs::remove_all(folder);
  }
}

TEST_F(ArchiveMoveTest, SigkillAtRandomPointsLeavesTheOldArchiveInUse) {
  const std::string before = treeFingerprint(root);
  ForwardingFileSystem counting;
  {
    const Archive source(root, clock, "UTC", counting);
    ASSERT_THAT(moveArchive(source, destination, settings), IsOk());
    fs::remove_all(destination);
    writeText(settings, oldSettings);
  }
  const int total = counting.changes;
  std::mt19937 random(20261207);
  std::uniform_int_distribution<int> point(1, total);
  for (int round = 0; round < 8; ++round) {
    const int killAt = round == 0 ? total : point(random);
    SCOPED_TRACE(::testing::Message() << "killed before change " << killAt << " of " << total);
    const pid_t child = ::fork();
    ASSERT_NE(child, -1);
    if (child == 0) {
      ForwardingFileSystem dying;
      dying.killBefore = killAt;
      const Archive source(root, clock, "UTC", dying);
      (void)moveArchive(source, destination, settings);
      ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
    expectAbsentOrComplete(before);
    if (fs::exists(destination) && readText(settings) != oldSettings) {
      EXPECT_THAT(readUserSettings(FileSystem::posix(), settings), testing::IsOkAndHolds(UserSettings{destination}));
    }
    // The next move into the same folder cleans up after the dead one and succeeds.
    fs::remove_all(destination);
    const auto outcome = valueOf(moveArchive(archive, destination, settings));
    EXPECT_TRUE(stagingFolders().empty());
    EXPECT_LE(outcome.abandonedStagingRemoved, 1u);
    expectAbsentOrComplete(before);
    fs::remove_all(destination);
    writeText(settings, oldSettings);
  }
}

}  // namespace
}  // namespace korvel
