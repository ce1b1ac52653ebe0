#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fmt/format.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "core/catalog/transcript_document.h"
#include "tests/support/temp_dir.h"

namespace korvel {
namespace {

namespace fs = std::filesystem;
using testing::readText;
using testing::TempDir;
using testing::treeFingerprint;
using testing::writeText;

TranscriptDocument revision(std::string id, double createdAt, std::optional<std::string> parent = {},
                            std::string source = "mic") {
  TranscriptDocument document;
  document.id = std::move(id);
  document.meetingID = "M1";
  document.sourceID = std::move(source);
  document.model = "base.en";
  document.language = "en";
  document.createdAt = Date::fromUnix(createdAt);
  document.parentVersionID = std::move(parent);
  if (document.parentVersionID) document.revisionOrigin = TranscriptDocument::RevisionOrigin::userCorrection;
  document.utterances = {{"u1", 0.25, 2, "Good morning & welcome <all>.", "Ana", {}}};
  return document;
}

std::vector<std::string> ids(const std::vector<TranscriptDocument>& documents) {
  std::vector<std::string> out;
  for (const auto& d : documents) out.push_back(d.id);
  return out;
}

class TranscriptArtifactsTest : public ::testing::Test {
 protected:
  TempDir temp;
  fs::path meeting = temp / "meeting";
  Dir folder = (fs::create_directory(meeting), *Dir::openRoot(FileSystem::posix(), meeting));

  void publish(const TranscriptDocument& document) {
    const Status saved = TranscriptArtifacts::save(document, folder);
    ASSERT_TRUE(saved.ok()) << saved.error().message;
  }
  std::string loadAllError() {
    auto all = TranscriptArtifacts::loadAll(folder, "M1");
    return all.ok() ? "ok" : all.error().message;
  }
};

TEST_F(TranscriptArtifactsTest, PublishesDocumentAndRenditionThenLoadsThem) {
  const TranscriptDocument document = revision("rev-1", 100);
  publish(document);
  EXPECT_EQ(readText(meeting / "transcripts/rev-1/transcript.json"), document.encoded());
  EXPECT_EQ(readText(meeting / "transcripts/rev-1/transcript.vtt"), TranscriptArtifacts::vtt(document));
  // Nothing of the publication is left behind besides the revision itself.
  EXPECT_EQ(std::distance(fs::directory_iterator(meeting / "transcripts"), fs::directory_iterator()), 1);

  auto loaded = TranscriptArtifacts::loadRevision("rev-1", folder, "M1");
  ASSERT_TRUE(loaded.ok() && loaded->has_value());
  EXPECT_EQ(**loaded, document);
  EXPECT_FALSE(TranscriptArtifacts::loadRevision("rev-2", folder, "M1")->has_value());
  EXPECT_EQ(ids(*TranscriptArtifacts::loadAll(meeting, "M1")), std::vector<std::string>{"rev-1"});
}

TEST_F(TranscriptArtifactsTest, RefusedPublicationsChangeNothing) {
  publish(revision("rev-1", 100));
  const std::string before = treeFingerprint(temp.path());

  TranscriptDocument other = revision("rev-1", 200);
  other.utterances[0].text = "different";
  EXPECT_EQ(TranscriptArtifacts::save(other, folder).error().message, "Transcript revision already exists");

  TranscriptDocument broken = revision("rev-2", 200);
  broken.utterances[0].end = 315'576'001;
  EXPECT_EQ(TranscriptArtifacts::save(broken, folder).error().message,
            "Invalid, duplicate or unordered transcript utterance");
  EXPECT_EQ(treeFingerprint(temp.path()), before);
}

TEST_F(TranscriptArtifactsTest, LineageOrdersByDateThenIdWithParentsFirst) {
  publish(revision("b", 100));
  publish(revision("a", 100));
  // Created earlier than its parent (a skewed clock): the parent is pulled forward before it.
  publish(revision("child", 50, "c"));
  publish(revision("c", 300));
  publish(revision("grandchild", 400, "child"));
  EXPECT_EQ(ids(*TranscriptArtifacts::loadAll(folder, "M1")),
            (std::vector<std::string>{"c", "child", "a", "b", "grandchild"}));
}

TEST_F(TranscriptArtifactsTest, BrokenLineageFailsTheWholeLoad) {
  publish(revision("app-1", 100, {}, "app"));
  publish(revision("fix", 200, "app-1", "mic"));
  EXPECT_EQ(loadAllError(), "Transcript correction parent is missing or belongs to another source");

  TempDir other;
  Dir cycle = *Dir::openRoot(FileSystem::posix(), other.path());
  ASSERT_TRUE(TranscriptArtifacts::save(revision("x", 1, "y"), cycle).ok());
  ASSERT_TRUE(TranscriptArtifacts::save(revision("y", 2, "x"), cycle).ok());
  EXPECT_EQ(TranscriptArtifacts::loadAll(cycle, "M1").error().message, "Transcript correction lineage contains a cycle");
}

TEST_F(TranscriptArtifactsTest, FolderNameMustMatchTheDocument) {
  publish(revision("rev-1", 100));
  fs::rename(meeting / "transcripts/rev-1", meeting / "transcripts/rev-9");
  EXPECT_EQ(loadAllError(), "Transcript directory does not match revision ID");
  EXPECT_EQ(TranscriptArtifacts::loadRevision("rev-9", folder, "M1").error().message,
            "Transcript directory does not match revision ID");
}

TEST_F(TranscriptArtifactsTest, ARevisionOfAnotherMeetingIsNeverLoadedAsThisMeetings) {
  publish(revision("rev-1", 100));
  TranscriptDocument copied = revision("rev-2", 200);
  copied.meetingID = "M2";  // copied in from another meeting's folder
  publish(copied);
  EXPECT_EQ(loadAllError(), "Transcript belongs to another meeting");
  EXPECT_EQ(TranscriptArtifacts::loadRevision("rev-2", folder, "M1").error().message,
            "Transcript belongs to another meeting");
  EXPECT_TRUE(TranscriptArtifacts::loadRevision("rev-1", folder, "M1")->has_value());
  EXPECT_EQ(TranscriptArtifacts::loadRevision("rev-1", folder, "M2").error().message,
            "Transcript belongs to another meeting");
}

TEST_F(TranscriptArtifactsTest, EveryLimitIsCheckedAgainOnRead) {
  publish(revision("rev-1", 100));
  Json json = revision("rev-1", 100).toJson();
  json["utterances"][0]["start"] = -1;
  writeText(meeting / "transcripts/rev-1/transcript.json", encodePretty(json));
  EXPECT_EQ(loadAllError(), "Invalid, duplicate or unordered transcript utterance");
  fs::remove(meeting / "transcripts/rev-1/transcript.json");
  EXPECT_EQ(TranscriptArtifacts::loadRevision("rev-1", folder, "M1").error().message,
            "Published transcript revision is missing its document");
  EXPECT_EQ(TranscriptArtifacts::loadRevision("../rev", folder, "M1").error().message,
            "Invalid transcript revision location");
  EXPECT_EQ(TranscriptArtifacts::loadRevision("rev-1", fs::path("relative/folder"), "M1").error().message,
            "Invalid transcript revision location");
}

TEST_F(TranscriptArtifactsTest, IgnoresStagingAndSkipsLinksButRefusesToFollowThem) {
  publish(revision("rev-1", 100));
  fs::create_directories(meeting / "transcripts/.staging-ABC");
  writeText(meeting / "transcripts/.staging-ABC/transcript.json", "{half");
  TempDir elsewhere;
  ASSERT_TRUE(TranscriptArtifacts::save(revision("outside", 100), *Dir::openRoot(FileSystem::posix(), elsewhere.path())).ok());
  fs::create_directory_symlink(elsewhere / "transcripts/outside", meeting / "transcripts/outside");

  EXPECT_EQ(ids(*TranscriptArtifacts::loadAll(folder, "M1")), std::vector<std::string>{"rev-1"});
  EXPECT_EQ(TranscriptArtifacts::loadRevision("outside", folder, "M1").error().message,
            "Transcript artifact has an unexpected file type or symbolic link");

  fs::remove(meeting / "transcripts/rev-1/transcript.json");
  fs::create_symlink(elsewhere / "transcripts/outside/transcript.json", meeting / "transcripts/rev-1/transcript.json");
  EXPECT_EQ(loadAllError(), "Transcript artifact has an unexpected file type or symbolic link");
}

TEST_F(TranscriptArtifactsTest, TranscriptsFolderThatIsALinkIsRefused) {
  TempDir elsewhere;
  fs::create_directory(elsewhere / "transcripts");
  fs::create_directory_symlink(elsewhere / "transcripts", meeting / "transcripts");
  const std::string before = treeFingerprint(elsewhere.path());
  EXPECT_EQ(TranscriptArtifacts::save(revision("rev-1", 1), folder).error().message,
            "Transcript artifact has an unexpected file type or symbolic link");
  EXPECT_EQ(loadAllError(), "Transcript artifact has an unexpected file type or symbolic link");
  EXPECT_EQ(treeFingerprint(elsewhere.path()), before);
}

TEST_F(TranscriptArtifactsTest, RemovesOnlyAbandonedStagingFolders) {
  publish(revision("rev-1", 100));
  fs::create_directories(meeting / "transcripts/.staging-OLD");
  writeText(meeting / "transcripts/.staging-OLD/transcript.json", "{}");
  const Date now{static_cast<double>(::time(nullptr))};
  EXPECT_EQ(*TranscriptArtifacts::removeAbandonedStaging(folder, now, 3600), 0u);
  EXPECT_TRUE(fs::exists(meeting / "transcripts/.staging-OLD"));
  EXPECT_EQ(*TranscriptArtifacts::removeAbandonedStaging(folder, now.adding(3601), 3600), 1u);
  EXPECT_FALSE(fs::exists(meeting / "transcripts/.staging-OLD"));
  EXPECT_TRUE(fs::exists(meeting / "transcripts/rev-1/transcript.vtt"));
}

// A publisher killed at any step leaves either nothing visible or the whole revision.
TEST_F(TranscriptArtifactsTest, PublisherKilledMidwayLeavesNoPartialRevision) {
  for (PublishStep step : {PublishStep::stagingCreated, PublishStep::documentWritten, PublishStep::renditionWritten}) {
    const std::string id = fmt::format("killed-{}", static_cast<int>(step));
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      (void)TranscriptArtifacts::save(revision(id, 100), folder, [step](PublishStep reached) {
        if (reached == step) ::kill(::getpid(), SIGKILL);
      });
      ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status));
    EXPECT_FALSE(TranscriptArtifacts::loadRevision(id, folder, "M1")->has_value());
  }
  EXPECT_TRUE(TranscriptArtifacts::loadAll(folder, "M1")->empty());
  EXPECT_EQ(*TranscriptArtifacts::removeAbandonedStaging(folder, Date{static_cast<double>(::time(nullptr)) + 10}, 5), 3u);

  // Killed at an arbitrary moment of a stream of publications: every visible revision is whole.
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    for (int i = 0;; ++i) (void)TranscriptArtifacts::save(revision(fmt::format("r{}", i), i), folder);
  }
  ::usleep(200'000);
  ::kill(child, SIGKILL);
  ::waitpid(child, nullptr, 0);
  auto all = TranscriptArtifacts::loadAll(folder, "M1");
  ASSERT_TRUE(all.ok()) << all.error().message;
  EXPECT_FALSE(all->empty());
  for (const auto& document : *all) {
    EXPECT_EQ(readText(meeting / "transcripts" / document.id / "transcript.vtt"), TranscriptArtifacts::vtt(document));
  }
}

}  // namespace
}  // namespace korvel
