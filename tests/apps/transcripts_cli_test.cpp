// `korvel transcripts`: revisions listed in lineage order, shown, and exported byte for byte.

#include <gtest/gtest.h>

#include "core/archive/archive.h"
#include "core/catalog/transcript_document.h"
#include "tests/apps/archive_cli_fixture.h"

namespace korvel::cli {
namespace {

TranscriptDocument revision(const Meeting& meeting, std::string id, double createdAt,
                            std::optional<std::string> parent = std::nullopt) {
  TranscriptDocument document;
  document.id = std::move(id);
  document.meetingID = meeting.id;
  document.sourceID = "app";
  document.model = "small";
  document.language = "en";
  document.createdAt = Date::fromUnix(createdAt);
  document.parentVersionID = parent;
  if (parent) document.revisionOrigin = TranscriptDocument::RevisionOrigin::userCorrection;
  TranscriptUtterance first{"u1", 1.5, 3, "Budget <review> & plan", std::string("Ana"), std::nullopt};
  TranscriptUtterance second{"u2", 3, 4, parent ? "Corrected line" : "Orignal line", std::nullopt, std::nullopt};
  document.utterances = {first, second};
  return document;
}

class TranscriptsCliTest : public ArchiveCliFixture {
 protected:
  void SetUp() override {
    ArchiveCliFixture::SetUp();
    Meeting meeting = Meeting::create("Budget", 0, {{"app", "Meeting audio", "audio"}}, std::nullopt, clock, "UTC");
    meeting.state = SessionState::finalized;
    id = meeting.id;
    folder = *archive.create(meeting);
    // The correction is older on the clock than its parent; lineage still puts the parent first.
    ASSERT_TRUE(TranscriptArtifacts::save(revision(meeting, "machine", 2000), folder));
    ASSERT_TRUE(TranscriptArtifacts::save(revision(meeting, "fixed", 1000, std::string("machine")), folder));
  }

  std::string id;
  std::filesystem::path folder;
};

TEST_F(TranscriptsCliTest, ListsInLineageOrder) {
  auto result = korvel({"transcripts", "list", id, "--json"});
  ASSERT_EQ(result.code, kExitOk) << result.err;
  Json list = *parseJson(result.out);
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[0]["id"], "machine");
  EXPECT_EQ(list[1]["id"], "fixed");
  EXPECT_EQ(list[1]["parentVersionID"], "machine");
  EXPECT_EQ(list[1]["utteranceCount"], 2);
}

TEST_F(TranscriptsCliTest, ShowsAndExportsTheChosenRevision) {
  auto latest = korvel({"transcripts", "show", id});
  ASSERT_EQ(latest.code, kExitOk) << latest.err;
  EXPECT_NE(latest.out.find("Corrected line"), std::string::npos);
  auto named = korvel({"transcripts", "show", id, "--revision", "machine", "--json"});
  EXPECT_EQ((*parseJson(named.out))["utterances"][1]["text"], "Orignal line");

  auto exported = korvel({"transcripts", "export", id, "--format", "vtt", "--revision", "machine"});
  ASSERT_EQ(exported.code, kExitOk) << exported.err;
  EXPECT_EQ(exported.out, korvel::testing::readText(folder / "transcripts" / "machine" / "transcript.vtt"));
  EXPECT_EQ(exported.out,
            "WEBVTT\n\n1\n00:00:01.500 --> 00:00:03.000\n<v Ana>Budget &lt;review&gt; &amp; plan</v>\n\n"
            "2\n00:00:03.000 --> 00:00:04.000\nOrignal line\n");
}

TEST_F(TranscriptsCliTest, RefusesUnknownMeetingsRevisionsAndBrokenLineage) {
  auto unknown = korvel({"transcripts", "list", "NO-SUCH-MEETING"});
  EXPECT_EQ(unknown.code, kExitFailed);
  EXPECT_EQ(unknown.err, "No meeting with this identifier is in the archive.\n");
  auto revision = korvel({"transcripts", "export", id, "--revision", "nope"});
  EXPECT_EQ(revision.code, kExitFailed);
  EXPECT_EQ(revision.err, "This meeting has no transcript revision with that identifier.\n");
  EXPECT_EQ(korvel({"transcripts", "export", id, "--format", "srt"}).code, kExitUsage);

  std::filesystem::rename(folder / "transcripts" / "fixed", folder / "transcripts" / "renamed");
  auto broken = korvel({"transcripts", "list", id});
  EXPECT_EQ(broken.code, kExitFailed);
  EXPECT_EQ(broken.err, "Transcript directory does not match revision ID\n");
  std::filesystem::rename(folder / "transcripts" / "renamed", folder / "transcripts" / "fixed");

  // A revision copied in from another meeting is never shown as this meeting's.
  Meeting other = *archive.read(folder);
  other.id = "OTHER-MEETING";
  ASSERT_TRUE(TranscriptArtifacts::save(cli::revision(other, "copied", 3000), folder));
  for (const char* command : {"list", "show", "export"}) {
    auto foreign = korvel({"transcripts", command, id});
    EXPECT_EQ(foreign.code, kExitFailed) << command;
    EXPECT_EQ(foreign.err, "Transcript belongs to another meeting\n") << command;
    EXPECT_EQ(foreign.out, "") << command;
  }
}

}  // namespace
}  // namespace korvel::cli
