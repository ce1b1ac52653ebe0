// `korvel transcripts`: revisions listed in lineage order, shown, and exported byte for byte.

#include <gtest/gtest.h>

#include "core/archive/archive.h"
#include "core/catalog/transcript_document.h"
#include "tests/apps/archive_cli_fixture.h"
#include "tests/support/result_matchers.h"

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
    ASSERT_OK_AND_ASSIGN(folder, archive.create(meeting));
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
  ASSERT_OK_AND_ASSIGN(const Json list, parseJson(result.out));
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
  ASSERT_OK_AND_ASSIGN(const Json machine, parseJson(named.out));
  EXPECT_EQ(machine["utterances"][1]["text"], "Orignal line");

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

// A meeting with two transcribed tracks: both are shown, interleaved by time, each line naming
// its track; revisions are taken by unique prefixes of 8 or more characters.
class TwoTrackTranscriptsCliTest : public ArchiveCliFixture {
 protected:
  void SetUp() override {
    ArchiveCliFixture::SetUp();
    Meeting meeting = Meeting::create("Pricing", 0, {{"app", "Meeting audio", "audio"}, {"mic", "Microphone", "microphone"}},
                                      "mic", clock, "UTC");
    meeting.state = SessionState::finalized;
    id = meeting.id;
    ASSERT_OK_AND_ASSIGN(const auto folder, archive.create(meeting));
    TranscriptDocument app = revision(meeting, kAppRevision, 1000);
    app.utterances = {{"a1", 1.5, 3, "They asked about pricing", std::string("Ana"), std::nullopt},
                      {"a2", 4, 5, "Friday works", std::nullopt, std::nullopt}};
    TranscriptDocument mic = revision(meeting, kMicRevision, 1000);
    mic.sourceID = "mic";
    mic.utterances = {{"m1", 0.5, 1, "Hello everyone", std::nullopt, std::nullopt},
                      {"m2", 3.5, 4, "We send the proposal", std::string("Me"), std::nullopt}};
    ASSERT_TRUE(TranscriptArtifacts::save(app, folder));
    ASSERT_TRUE(TranscriptArtifacts::save(mic, folder));
  }

  static constexpr const char* kAppRevision = "3f2a9c1b-7e44-4d1e-9a55-0c8f2b7d6e10";
  static constexpr const char* kMicRevision = "3f2a9c1b-1d0e-4f22-8b71-5e6a7c8d9f01";
  std::string id;
};

TEST_F(TwoTrackTranscriptsCliTest, ShowsEveryTrackInterleavedByTime) {
  const auto shown = korvel({"transcripts", "show", id});
  ASSERT_EQ(shown.code, kExitOk) << shown.err;
  const auto at = [&](const std::string& text) { return shown.out.find(text); };
  EXPECT_NE(at("Revision 3f2a9c1b-7e4 of track app"), std::string::npos) << shown.out;
  EXPECT_NE(at("Revision 3f2a9c1b-1d0 of track mic"), std::string::npos) << shown.out;
  ASSERT_NE(at("mic  Hello everyone"), std::string::npos) << shown.out;
  ASSERT_NE(at("app  Ana: They asked about pricing"), std::string::npos) << shown.out;
  ASSERT_NE(at("mic  Me: We send the proposal"), std::string::npos) << shown.out;
  ASSERT_NE(at("app  Friday works"), std::string::npos) << shown.out;
  EXPECT_LT(at("Hello everyone"), at("They asked about pricing"));
  EXPECT_LT(at("They asked about pricing"), at("We send the proposal"));
  EXPECT_LT(at("We send the proposal"), at("Friday works"));

  ASSERT_OK_AND_ASSIGN(const Json both, parseJson(korvel({"transcripts", "show", id, "--json"}).out));
  ASSERT_EQ(both.size(), 2u);
  const auto one = korvel({"transcripts", "show", id, "--source", "mic"});
  EXPECT_EQ(one.out.find("pricing"), std::string::npos);
  EXPECT_NE(one.out.find("Hello everyone"), std::string::npos);

  const auto unknown = korvel({"transcripts", "show", id, "--source", "speaker"});
  EXPECT_EQ(unknown.code, kExitFailed);
  EXPECT_EQ(unknown.err, "This meeting has no track “speaker”; its tracks are app (audio), mic (microphone).\n");
  // Export needs one track; it prints WebVTT only, never under --json.
  EXPECT_EQ(korvel({"transcripts", "export", id}).code, kExitFailed);
  const auto json = korvel({"transcripts", "export", id, "--source", "app", "--json"});
  EXPECT_EQ(json.code, kExitUsage);
  EXPECT_EQ(json.out, "");
  EXPECT_EQ(korvel({"transcripts", "export", id, "--source", "app"}).out.rfind("WEBVTT", 0), 0u);
}

TEST_F(TwoTrackTranscriptsCliTest, TakesUniqueRevisionPrefixesAndPrintsTheShortForm) {
  const auto listed = korvel({"transcripts", "list", id});
  EXPECT_NE(listed.out.find("3f2a9c1b-7e4  app"), std::string::npos) << listed.out;
  EXPECT_EQ(listed.out.find(kAppRevision), std::string::npos) << listed.out;

  const auto unique = korvel({"transcripts", "show", id, "--revision", "3f2a9c1b-7", "--json"});
  ASSERT_EQ(unique.code, kExitOk) << unique.err;
  ASSERT_OK_AND_ASSIGN(const Json document, parseJson(unique.out));
  EXPECT_EQ(document["id"], kAppRevision);

  expectRefusal({"transcripts", "show", id, "--revision", "3f2a9c1b"},
                std::string("“3f2a9c1b” begins several revisions (") + kMicRevision + ", " + kAppRevision +
                    "); give more of it.");
  expectRefusal({"transcripts", "show", id, "--revision", "3f2a9c1"},
                "This meeting has no transcript revision with that identifier.");
  // Within one track, the shared prefix is no longer ambiguous.
  EXPECT_EQ(korvel({"transcripts", "export", id, "--source", "mic", "--revision", "3f2a9c1b"}).code, kExitOk);
}

}  // namespace
}  // namespace korvel::cli
