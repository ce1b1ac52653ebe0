#include "platform/files.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "tests/support/result_matchers.h"
#include "tests/support/temp_dir.h"

namespace korvel {
namespace {

namespace fs = std::filesystem;
using testing::IsOk;
using testing::IsOkAndHolds;
using testing::readText;
using testing::TempDir;
using testing::writeText;

// The system's words and the path survive a caller's own sentence, without making two
// refusals with the same sentence differ.
TEST(ErrorTest, SystemDetailSurvivesRephrasing) {
  TempDir temp;
  auto opened = Dir::openRoot(FileSystem::posix(), temp / "missing");
  ASSERT_FALSE(opened.ok());
  const Error& cause = opened.error();
  EXPECT_NE(cause.detail.find((temp / "missing").string()), std::string::npos) << cause.detail;
  EXPECT_NE(cause.detail.find("No such file or directory"), std::string::npos) << cause.detail;
  const Error sentence = rephrased(cause, "The archive could not be opened.");
  EXPECT_EQ(sentence.code, ErrorCode::NotFound);
  EXPECT_EQ(sentence.message, "The archive could not be opened.");
  EXPECT_EQ(sentence.detail, cause.detail);
  EXPECT_EQ(sentence, makeError(ErrorCode::NotFound, "The archive could not be opened."));
  EXPECT_NE(sentence, makeError(ErrorCode::Io, "The archive could not be opened."));
}

TEST(DirTest, RefusesSymbolicLinksAtEveryStep) {
  TempDir temp;
  fs::create_directories(temp / "real/inner");
  writeText(temp / "real/inner/file.json", "{}");
  fs::create_directory_symlink(temp / "real", temp / "link");
  fs::create_symlink(temp / "real/inner/file.json", temp / "real/inner/alias.json");

  ASSERT_OK_AND_ASSIGN(Dir root, Dir::openRoot(FileSystem::posix(), temp.path()));
  EXPECT_EQ(root.openDir("link").error().code, ErrorCode::Denied);
  EXPECT_EQ(root.openPath({"link", "inner"}).error().code, ErrorCode::Denied);
  ASSERT_OK_AND_ASSIGN(Dir inner, root.openPath({"real", "inner"}));
  EXPECT_EQ(inner.readFile("alias.json", 100).error().code, ErrorCode::Denied);
  EXPECT_THAT(inner.readFile("file.json", 100), IsOkAndHolds("{}"));
  // Writing through a link name replaces the link itself; the target stays as it was.
  ASSERT_TRUE(inner.writeAtomic("alias.json", "new").ok());
  EXPECT_EQ(readText(temp / "real/inner/file.json"), "{}");
  EXPECT_FALSE(fs::is_symlink(temp / "real/inner/alias.json"));
  // Appends never go through a link.
  fs::create_symlink(temp / "real/inner/file.json", temp / "real/inner/events.jsonl");
  EXPECT_FALSE(inner.appendLocked("events.jsonl", "x\n").ok());
  EXPECT_EQ(readText(temp / "real/inner/file.json"), "{}");
}

TEST(DirTest, RefusesNamesThatAreNotOneComponent) {
  TempDir temp;
  ASSERT_OK_AND_ASSIGN(Dir root, Dir::openRoot(FileSystem::posix(), temp.path()));
  for (const char* name : {"", ".", "..", "a/b", "../x"}) {
    EXPECT_EQ(root.openDir(name).error().code, ErrorCode::InvalidInput) << name;
    EXPECT_FALSE(root.writeAtomic(name, "x").ok()) << name;
  }
}

TEST(DirTest, SizeCapAndNonRegularFilesAreRefused) {
  TempDir temp;
  writeText(temp / "big", std::string(101, 'x'));
  ::mkfifo((temp / "fifo").c_str(), 0600);
  ASSERT_OK_AND_ASSIGN(Dir root, Dir::openRoot(FileSystem::posix(), temp.path()));
  EXPECT_EQ(root.readFile("big", 100).error().code, ErrorCode::InvalidInput);
  EXPECT_THAT(root.readFile("big", 101), IsOkAndHolds(std::string(101, 'x')));
  EXPECT_EQ(root.readFile("fifo", 100).error().code, ErrorCode::Denied);
  EXPECT_EQ(root.readFile("missing", 100).error().code, ErrorCode::NotFound);
}

TEST(DirTest, AtomicWriteReplacesWholeFileWithModeAndLeavesNoTemporary) {
  TempDir temp;
  ASSERT_OK_AND_ASSIGN(Dir root, Dir::openRoot(FileSystem::posix(), temp.path()));
  ASSERT_TRUE(root.writeAtomic("a.json", "first", 0600).ok());
  ASSERT_TRUE(root.writeAtomic("a.json", "second", 0600).ok());
  EXPECT_EQ(readText(temp / "a.json"), "second");
  ASSERT_OK_AND_ASSIGN(const auto info, root.info("a.json"));
  EXPECT_EQ(info.mode, 0600u);
  EXPECT_EQ(root.writeAtomic("a.json", "third", 0600, Replace::refuseExisting).error().code, ErrorCode::InvalidInput);
  EXPECT_EQ(readText(temp / "a.json"), "second");
  ASSERT_OK_AND_ASSIGN(const auto entries, root.list());
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].name, "a.json");
}

TEST(DirTest, KilledWriterLeavesOldOrNewContentNeverPartial) {
  TempDir temp;
  const std::string oldText(1 << 20, 'o');
  const std::string newText(1 << 20, 'n');
  {
    ASSERT_OK_AND_ASSIGN(Dir root, Dir::openRoot(FileSystem::posix(), temp.path()));
    ASSERT_THAT(root.writeAtomic("f", oldText), IsOk());
  }
  for (int round = 0; round < 5; ++round) {
    pid_t child = ::fork();
    if (child == 0) {
      ASSERT_OK_AND_ASSIGN(Dir root, Dir::openRoot(FileSystem::posix(), temp.path()));
      for (;;) (void)root.writeAtomic("f", (round % 2) ? oldText : newText);
    }
    ::usleep(20000 + round * 7000);
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    const std::string now = readText(temp / "f");
    EXPECT_TRUE(now == oldText || now == newText) << "round " << round;
  }
}

TEST(DirTest, ConcurrentLockedAppendsNeitherLoseNorInterleaveLines) {
  TempDir temp;
  constexpr int kWriters = 4, kLines = 300;
  std::vector<pid_t> children;
  for (int w = 0; w < kWriters; ++w) {
    pid_t child = ::fork();
    if (child == 0) {
      ASSERT_OK_AND_ASSIGN(Dir root, Dir::openRoot(FileSystem::posix(), temp.path()));
      for (int i = 0; i < kLines; ++i) {
        const std::string line = std::to_string(w) + ":" + std::to_string(i) + ":" + std::string(2000, 'a' + w) + "\n";
        if (!root.appendLocked("events.jsonl", line).ok()) ::_exit(1);
      }
      ::_exit(0);
    }
    children.push_back(child);
  }
  for (pid_t child : children) {
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_EQ(WEXITSTATUS(status), 0);
  }
  std::istringstream in(readText(temp / "events.jsonl"));
  std::string line;
  int count = 0;
  while (std::getline(in, line)) {
    ++count;
    const int writer = line[0] - '0';
    EXPECT_EQ(line.substr(line.rfind(':') + 1), std::string(2000, 'a' + writer));
  }
  EXPECT_EQ(count, kWriters * kLines);
}

TEST(DirTest, RemoveTreeDoesNotFollowLinksOutOfTheTree) {
  TempDir temp;
  writeText(temp / "outside/keep.txt", "keep");
  writeText(temp / "tree/a/b.txt", "x");
  fs::create_directory_symlink(temp / "outside", temp / "tree/a/escape");
  ASSERT_OK_AND_ASSIGN(Dir root, Dir::openRoot(FileSystem::posix(), temp.path()));
  ASSERT_TRUE(root.removeTree("tree").ok());
  EXPECT_FALSE(fs::exists(temp / "tree"));
  EXPECT_EQ(readText(temp / "outside/keep.txt"), "keep");
}

TEST(FileTest, IdentityChangesWhenContentIsAppended) {
  TempDir temp;
  writeText(temp / "m.bin", "abc");
  ASSERT_OK_AND_ASSIGN(Dir root, Dir::openRoot(FileSystem::posix(), temp.path()));
  ASSERT_OK_AND_ASSIGN(File file, root.openFile("m.bin"));
  ASSERT_OK_AND_ASSIGN(const FileIdentity before, file.identity());
  writeText(temp / "other", "");
  { std::ofstream out(temp / "m.bin", std::ios::app); out << "d"; }
  ASSERT_OK_AND_ASSIGN(const FileIdentity after, file.identity());
  EXPECT_NE(after, before);
}

}  // namespace
}  // namespace korvel
