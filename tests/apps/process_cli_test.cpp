// `korvel process`: planning, the job table, importing engine results and the worker loop.

#include <gtest/gtest.h>

#include <sys/stat.h>

#include "core/archive/archive.h"
#include "tests/apps/archive_cli_fixture.h"

namespace korvel::cli {
namespace {

using korvel::testing::writeText;

std::string engineOutput(const std::string& text) {
  return R"({"result":{"language":"en"},"transcription":[{"offsets":{"from":100,"to":1900},"text":")" + text +
         R"("}]})";
}

class ProcessCliTest : public ArchiveCliFixture {
 protected:
  void SetUp() override {
    ArchiveCliFixture::SetUp();
    Meeting meeting = Meeting::create("Launch review", 0,
                                      {{"app", "Meeting audio", "audio"}, {"mic", "Built-in", "microphone"}},
                                      std::string("mic"), clock, "UTC");
    id = meeting.id;
    folder = *archive.create(meeting);
    for (const char* source : {"app", "mic"}) {
      for (int i = 0; i < 2; ++i) {
        const std::string name = std::string(source) + "-" + std::to_string(i) + ".wav";
        writeText(folder / name, "RIFF " + name);
        meeting.segments.push_back(Segment{std::string(source) + "-" + std::to_string(i), source, name, i * 2.0, 2.0,
                                           static_cast<int64_t>(6 + name.size()), *Archive::hash(folder / name)});
      }
    }
    meeting.state = SessionState::finalized;
    ASSERT_TRUE(archive.save(meeting, folder));
  }

  std::string id;
  std::filesystem::path folder;
};

TEST_F(ProcessCliTest, PlansImportsAndWorksThroughTheQueue) {
  auto planned = korvel({"process", "plan", "--json"});
  ASSERT_EQ(planned.code, kExitOk) << planned.err;
  ASSERT_TRUE(parseJson(planned.out)) << planned.out;
  const Json plan = *parseJson(planned.out);
  ASSERT_EQ(plan[0]["jobIDs"].size(), 2u);
  EXPECT_EQ(*parseJson(korvel({"process", "plan", id, "--json"}).out), plan);  // planning again adds nothing

  writeText(temp.path() / "0.json", engineOutput("Search is what customers asked for"));
  writeText(temp.path() / "1.json", engineOutput("Ship it on Friday"));
  auto imported = korvel({"process", "import", id, "app", (temp.path() / "0.json").string(),
                          (temp.path() / "1.json").string()});
  ASSERT_EQ(imported.code, kExitOk) << imported.err;
  EXPECT_NE(imported.out.find("Published revision"), std::string::npos);
  auto again = korvel({"process", "import", id, "app", (temp.path() / "0.json").string(),
                       (temp.path() / "1.json").string()});
  EXPECT_EQ(again.code, kExitFailed);
  EXPECT_EQ(again.err, "No transcription job of this track is waiting; run korvel process plan for the meeting first.\n");

  // A stand-in engine program for the microphone track.
  const auto engine = temp.path() / "engine";
  writeText(engine, "#!/bin/sh\nwhile [ $# -gt 0 ]; do [ \"$1\" = --output ] && out=\"$2\"; shift; done\n"
                    "printf '%s' '" + engineOutput("Microphone words") + "' > \"$out\"\n");
  ::chmod(engine.c_str(), 0755);
  auto worked = korvel({"process", "work", "--engine", engine.string()});
  ASSERT_EQ(worked.code, kExitOk) << worked.err;
  EXPECT_NE(worked.out.find("1 job run, 1 published."), std::string::npos);

  auto status = korvel({"process", "status", "--json"});
  ASSERT_TRUE(parseJson(status.out)) << status.out << status.err;
  const Json jobs = *parseJson(status.out);
  ASSERT_EQ(jobs.size(), 2u);
  for (const auto& job : jobs) {
    EXPECT_EQ(job["state"], "succeeded");
    EXPECT_EQ(job["attempts"], 1);
    EXPECT_EQ(job["request"]["meetingID"], id);
  }
  auto listed = korvel({"transcripts", "list", id, "--json"});
  ASSERT_TRUE(parseJson(listed.out)) << listed.out << listed.err;
  const Json revisions = *parseJson(listed.out);
  ASSERT_EQ(revisions.size(), 2u);
  auto vtt = korvel({"transcripts", "export", id, "--source", "app"});
  EXPECT_NE(vtt.out.find("00:00:02.100 --> 00:00:03.900\nShip it on Friday"), std::string::npos);
}

TEST_F(ProcessCliTest, BadEngineOutputFailsTheJobAndPublishesNothing) {
  ASSERT_EQ(korvel({"process", "plan"}).code, kExitOk);
  writeText(temp.path() / "late.json", R"({"result":{"language":"en"},"transcription":[{"offsets":{"from":2500,"to":2600},"text":"x"}]})");
  auto imported = korvel({"process", "import", id, "app", (temp.path() / "late.json").string(),
                          (temp.path() / "late.json").string()});
  EXPECT_EQ(imported.code, kExitFailed);
  EXPECT_NE(imported.err.find("Whisper returned timestamps outside the committed segment"), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(folder / "transcripts"));

  const auto engine = temp.path() / "broken-engine";
  writeText(engine, "#!/bin/sh\necho 'model not found' >&2\nexit 3\n");
  ::chmod(engine.c_str(), 0755);
  auto worked = korvel({"process", "work", "--engine", engine.string(), "--json"});
  EXPECT_EQ(worked.code, kExitFailed);
  const Json outcomes = *parseJson(worked.out);
  ASSERT_EQ(outcomes.size(), 1u);  // the app job waits for its retry delay
  EXPECT_EQ(outcomes[0]["result"], "failed");
  EXPECT_EQ(outcomes[0]["detail"], "The transcription engine failed (exit code 3): model not found");
}

TEST_F(ProcessCliTest, StatusOfOneMeetingShowsItsProgressAndWhatWouldBeOffered) {
  auto status = [&](std::vector<std::string> extra = {}) {
    std::vector<std::string> arguments{"process", "status", id, "--json"};
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    const auto result = korvel(arguments);
    EXPECT_EQ(result.code, kExitOk) << result.err;
    return parseJson(result.out).valueOr(Json());
  };
  EXPECT_EQ(status(), (Json{{"meetingID", id},
                            {"title", "Launch review"},
                            {"progress", {{"case", "idle"}}},
                            {"offer", {{"case", "request"}, {"includesSummary", true}, {"hasTranscript", false}}}}));
  EXPECT_EQ(status({"--processing-off"}).count("offer"), 0u);

  ASSERT_EQ(korvel({"process", "plan"}).code, kExitOk);
  const Json queued{{"case", "queued"}, {"kind", "transcription"}};
  EXPECT_EQ(status()["progress"], queued);
  EXPECT_EQ(status()["offer"], (Json{{"case", "inProgress"}, {"progress", queued}}));
  EXPECT_EQ(korvel({"process", "status", id}).out,
            "“Launch review” (" + id + ")\nProgress: queued (transcription)\n"
            "Offer: wait: processing is queued (transcription)\n");

  writeText(temp.path() / "0.json", engineOutput("Ship it"));
  for (const char* source : {"app", "mic"}) {
    ASSERT_EQ(korvel({"process", "import", id, source, (temp.path() / "0.json").string(),
                      (temp.path() / "0.json").string()}).code, kExitOk);
  }
  EXPECT_EQ(status()["progress"], (Json{{"case", "idle"}}));
  EXPECT_EQ(status()["offer"], (Json{{"case", "request"}, {"includesSummary", true}, {"hasTranscript", true}}));
  EXPECT_EQ(status({"--summaries-off"})["offer"], (Json{{"case", "summariesOff"}}));
  EXPECT_EQ(korvel({"process", "status", "NOPE"}).err, "No meeting with this identifier is in the archive.\n");
}

TEST_F(ProcessCliTest, RequestingProcessingEnablesPlanning) {
  Meeting meeting = *archive.read(folder);
  meeting.recordingOptions = RecordingOptions{false, true, true, false};
  ASSERT_TRUE(archive.save(meeting, folder));
  auto nothing = korvel({"process", "plan", id});
  EXPECT_NE(nothing.out.find("has nothing to transcribe: transcription is off for it"), std::string::npos);
  auto requested = korvel({"process", "request", id});
  ASSERT_EQ(requested.code, kExitOk) << requested.err;
  EXPECT_EQ((*parseJson(korvel({"process", "plan", id, "--json"}).out))[0]["jobIDs"].size(), 2u);
  EXPECT_EQ(korvel({"process", "request", "NOPE"}).err, "No meeting with this identifier is in the archive.\n");
}

}  // namespace
}  // namespace korvel::cli
