// `korvel process`: planning, the job table, importing engine results and the worker loop.

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>

#include "core/archive/archive.h"
#include "core/catalog/catalog.h"
#include "tests/apps/archive_cli_fixture.h"
#include "tests/apps/korvel_program.h"
#include "tests/support/result_matchers.h"

namespace korvel::cli {
namespace {

using korvel::testing::IsOkAndHolds;
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
    ASSERT_OK_AND_ASSIGN(folder, archive.create(meeting));
    for (const char* source : {"app", "mic"}) {
      for (int i = 0; i < 2; ++i) {
        const std::string name = std::string(source) + "-" + std::to_string(i) + ".wav";
        writeText(folder / name, "RIFF " + name);
        ASSERT_OK_AND_ASSIGN(const std::string hash, Archive::hash(folder / name));
        meeting.segments.push_back(Segment{std::string(source) + "-" + std::to_string(i), source, name, i * 2.0, 2.0,
                                           static_cast<int64_t>(6 + name.size()), hash});
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
  EXPECT_EQ(plan[0]["queuedJobIDs"], plan[0]["jobIDs"]);
  // Planning again adds nothing, and says so.
  ASSERT_OK_AND_ASSIGN(const Json again, parseJson(korvel({"process", "plan", id, "--json"}).out));
  EXPECT_EQ(again[0]["jobIDs"], plan[0]["jobIDs"]);
  EXPECT_EQ(again[0]["queuedJobIDs"], Json::array());
  EXPECT_EQ(korvel({"process", "plan"}).out, "“Launch review”: 0 transcription jobs queued, 2 already in the queue.\n"
                                            "0 jobs queued now, 2 already in the queue, for 1 meeting.\n");

  writeText(temp.path() / "0.json", engineOutput("Search is what customers asked for"));
  writeText(temp.path() / "1.json", engineOutput("Ship it on Friday"));
  auto imported = korvel({"process", "import", id, "app", (temp.path() / "0.json").string(),
                          (temp.path() / "1.json").string()});
  ASSERT_EQ(imported.code, kExitOk) << imported.err;
  EXPECT_NE(imported.out.find("Published revision"), std::string::npos);
  auto importedAgain = korvel({"process", "import", id, "app", (temp.path() / "0.json").string(),
                               (temp.path() / "1.json").string()});
  EXPECT_EQ(importedAgain.code, kExitFailed);
  EXPECT_EQ(importedAgain.err, "No transcription job of this track is waiting; run korvel process plan for the meeting first.\n");

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
  const auto jobsBefore = korvel({"process", "status", "--json"}).out;
  // Output the parser refuses, one file too few, a misspelled path: refused before any job is
  // claimed, so the job keeps its attempts and the corrected import goes through.
  writeText(temp.path() / "late.json", R"({"result":{"language":"en"},"transcription":[{"offsets":{"from":2500,"to":2600},"text":"x"}]})");
  writeText(temp.path() / "0.json", engineOutput("Ship it"));
  const std::string late = (temp.path() / "late.json").string(), good = (temp.path() / "0.json").string();
  expectRefusal({"process", "import", id, "app", late, late},
                late + ": Whisper returned timestamps outside the committed segment");
  expectRefusal({"process", "import", id, "app", good},
                "Give one engine output per committed segment of the track: it has 2, 1 given.");
  expectRefusal({"process", "import", id, "app", good, good + "x"}, good + "x could not be read.");
  EXPECT_EQ(korvel({"process", "status", "--json"}).out, jobsBefore);
  EXPECT_FALSE(std::filesystem::exists(folder / "transcripts"));
  auto imported = korvel({"process", "import", id, "app", good, good});
  EXPECT_EQ(imported.code, kExitOk) << imported.err;

  const auto engine = temp.path() / "broken-engine";
  writeText(engine, "#!/bin/sh\necho 'model not found' >&2\nexit 3\n");
  ::chmod(engine.c_str(), 0755);
  auto worked = korvel({"process", "work", "--engine", engine.string(), "--json"});
  EXPECT_EQ(worked.code, kExitFailed);
  ASSERT_OK_AND_ASSIGN(const Json outcomes, parseJson(worked.out));
  ASSERT_EQ(outcomes.size(), 1u);  // the mic job, which then waits for its retry delay
  EXPECT_EQ(outcomes[0]["result"], "failed");
  EXPECT_EQ(outcomes[0]["detail"], "The transcription engine failed (exit code 3): model not found");

  // The next run says why it runs nothing, and when it could (the fixture's clock is 14:15:00 UTC).
  auto waiting = korvel({"process", "work", "--engine", engine.string()});
  EXPECT_EQ(waiting.code, kExitOk);
  EXPECT_EQ(waiting.out, "0 jobs run, 0 published.\n1 job waits: the next can run at 14:16:00.\n");
  clock.advance(60);
  EXPECT_NE(korvel({"process", "work", "--engine", engine.string()}).out.find("1 job run, 0 published."),
            std::string::npos);
}

TEST_F(ProcessCliTest, WorkRefusesAnEngineItCannotRunAndFlagsOutOfRange) {
  ASSERT_EQ(korvel({"process", "plan"}).code, kExitOk);
  const auto jobsBefore = korvel({"process", "status", "--json"}).out;
  const auto refused = [&](const std::vector<std::string>& extra, const std::string& message) {
    std::vector<std::string> arguments{"process", "work", "--engine"};
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    const auto result = korvel(arguments);
    EXPECT_EQ(result.code, kExitUsage) << result.out;
    EXPECT_EQ(result.err, message + "\n");
  };
  refused({"/nonexistent/engine"}, "The engine /nonexistent/engine is not an executable file.");
  refused({temp.path().string()}, "The engine " + temp.path().string() + " is not an executable file.");
  writeText(temp.path() / "not-executable", "#!/bin/sh\n");
  refused({(temp.path() / "not-executable").string()},
          "The engine " + (temp.path() / "not-executable").string() + " is not an executable file.");
  refused({"korvel-no-such-engine"}, "No program named korvel-no-such-engine is on PATH to run as the engine.");
  refused({"true", "--lease", "0"}, "--lease must be between 1 and 3600 seconds.");
  refused({"true", "--lease", "3601"}, "--lease must be between 1 and 3600 seconds.");
  refused({"true", "--lease", "nan"}, "--lease must be between 1 and 3600 seconds.");
  refused({"true", "--retry-after", "-5"}, "--retry-after must be between 0 and 86400 seconds.");
  refused({"true", "--retry-after", "86401"}, "--retry-after must be between 0 and 86400 seconds.");
  refused({"true", "--max-jobs", "-1"}, "--max-jobs must be 0 (no limit) or more.");
  EXPECT_EQ(korvel({"process", "status", "--json"}).out, jobsBefore);
}

TEST_F(ProcessCliTest, FailedJobsAreNamedByPlanAndQueuedAgainByRetry) {
  ASSERT_EQ(korvel({"process", "plan"}).code, kExitOk);
  const auto engine = temp.path() / "broken-engine";
  writeText(engine, "#!/bin/sh\nexit 3\n");
  ::chmod(engine.c_str(), 0755);
  // No retry delay: both jobs use up their three attempts in one run.
  auto worked = korvel({"process", "work", "--engine", engine.string(), "--retry-after", "0"});
  EXPECT_NE(worked.out.find("6 jobs run, 0 published."), std::string::npos) << worked.out;

  auto planned = korvel({"process", "plan", id});
  EXPECT_EQ(planned.out, "“Launch review”: 0 transcription jobs queued, 2 already in the queue.\n"
                         "“Launch review”: 2 jobs already failed; run korvel process retry " + id +
                         " to try them again.\n0 jobs queued now, 2 already in the queue, for 1 meeting.\n");
  ASSERT_OK_AND_ASSIGN(const Json plan, parseJson(korvel({"process", "plan", id, "--json"}).out));
  ASSERT_EQ(plan[0]["failedJobIDs"].size(), 2u);
  EXPECT_EQ(plan[0]["queuedJobIDs"].size(), 0u);
  const std::string first = plan[0]["failedJobIDs"][0], second = plan[0]["failedJobIDs"][1];
  EXPECT_EQ(korvel({"process", "request", id}).out,
            "Processing requested for “Launch review”; run korvel process plan " + id + " to queue it.\n"
            "2 jobs already failed; run korvel process retry " + id + " to try them again.\n");

  // Opening the catalog touches its file header, so refusals are judged by the job table.
  const auto refusedRetry = [&](const std::vector<std::string>& arguments, const std::string& message) {
    const auto before = korvel({"process", "status", "--json"}).out;
    const auto result = korvel(arguments);
    EXPECT_EQ(result.code, kExitFailed);
    EXPECT_EQ(result.err, message + "\n");
    EXPECT_EQ(korvel({"process", "status", "--json"}).out, before);
  };
  refusedRetry({"process", "retry", first.substr(0, 7)},
                "No meeting has this identifier, and a job identifier needs at least 8 characters.");
  refusedRetry({"process", "retry", "ffffffffffff"}, "No job or meeting has this identifier.");
  refusedRetry({"process", "retry", id, "--source", "video"},
                "No job of this track has failed; there is nothing to retry.");
  EXPECT_EQ(korvel({"process", "retry", first.substr(0, 8), "--source", "app"}).code, kExitUsage);

  auto retried = korvel({"process", "retry", first.substr(0, 8)});
  ASSERT_EQ(retried.code, kExitOk) << retried.err;
  EXPECT_EQ(retried.out.substr(0, 17), "Job " + first.substr(0, 12) + " ");
  refusedRetry({"process", "retry", first},
                "Job " + first.substr(0, 12) + " is queued; only a failed job can be retried.");
  ASSERT_OK_AND_ASSIGN(const Json byMeeting, parseJson(korvel({"process", "retry", id, "--json"}).out));
  EXPECT_EQ(byMeeting, (Json{{"retriedJobIDs", {second}}}));
  refusedRetry({"process", "retry", id}, "No job of this meeting has failed; there is nothing to retry.");

  ASSERT_OK_AND_ASSIGN(const Json jobs, parseJson(korvel({"process", "status", "--json"}).out));
  for (const auto& job : jobs) {
    EXPECT_EQ(job["state"], "queued");
    EXPECT_EQ(job["attempts"], 0);
    EXPECT_EQ(job["lastError"], "The transcription engine failed (exit code 3).");
  }
}

TEST_F(ProcessCliTest, StatusTellsWhenEachJobCanRunInTheLocalZone) {
  const std::string catalogFile = (temp.path() / "jobs.sqlite").string();
  const auto inTokyo = [&](std::vector<std::string> arguments) {
    arguments.insert(arguments.end(), {"--catalog", catalogFile});
    return invokeCli(arguments, {{"KORVEL_HOME", temp.path().string()}, {"TZ", "Asia/Tokyo"}}, &clock);
  };
  ASSERT_EQ(inTokyo({"process", "plan"}).code, kExitOk);
  {
    ASSERT_OK_AND_ASSIGN(auto catalog, Catalog::open(catalogFile));
    ASSERT_OK_AND_ASSIGN(const auto claimed, catalog->claimJob(clock.now().secondsSince1970 + 30, 300));
    ASSERT_TRUE(claimed.has_value());
  }
  clock.advance(10);
  ASSERT_OK_AND_ASSIGN(const Json jobs, parseJson(inTokyo({"process", "status", "--json"}).out));
  ASSERT_EQ(jobs.size(), 2u);
  size_t running = 0;
  for (const auto& job : jobs) {
    if (job["state"] == "running") {
      ++running;
      EXPECT_EQ(job["leaseEnds"], "2026-03-04T23:20:30+09:00");
      EXPECT_EQ(job.count("availableFrom"), 0u);
    } else {
      EXPECT_EQ(job["availableFrom"], "2026-03-04T23:15:00+09:00");
    }
  }
  EXPECT_EQ(running, 1u);
  const auto table = inTokyo({"process", "status"}).out;
  EXPECT_NE(table.find("lease ends 23:20:30"), std::string::npos) << table;
  EXPECT_NE(table.find("available now"), std::string::npos) << table;
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
  ASSERT_OK_AND_ASSIGN(Meeting meeting, archive.read(folder));
  meeting.recordingOptions = RecordingOptions{false, true, true, false};
  ASSERT_TRUE(archive.save(meeting, folder));
  auto nothing = korvel({"process", "plan", id});
  EXPECT_NE(nothing.out.find("has nothing to transcribe: transcription is off for it"), std::string::npos);
  auto requested = korvel({"process", "request", id});
  ASSERT_EQ(requested.code, kExitOk) << requested.err;
  ASSERT_OK_AND_ASSIGN(const Json plan, parseJson(korvel({"process", "plan", id, "--json"}).out));
  EXPECT_EQ(plan[0]["jobIDs"].size(), 2u);
  EXPECT_EQ(korvel({"process", "request", "NOPE"}).err, "No meeting with this identifier is in the archive.\n");
}

TEST_F(ProcessCliTest, AnInterruptedWorkerHandsItsJobBackAndLeavesNoScratchFiles) {
  ASSERT_EQ(korvel({"process", "plan"}).code, kExitOk);
  const auto scratch = temp.path() / "tmp";
  std::filesystem::create_directories(scratch);
  const auto marker = temp.path() / "engine-started";
  const auto engine = temp.path() / "slow-engine";
  // The engine's own child (sleep) must be stopped too, or it would outlive the worker.
  writeText(engine, "#!/bin/sh\ntouch '" + marker.string() + "'\nsleep 30\n");
  ::chmod(engine.c_str(), 0755);

  for (const int signal : {SIGINT, SIGTERM}) {
    SCOPED_TRACE(signal);
    std::filesystem::remove(marker);
    const auto errors = temp.path() / "worker-errors.txt";
    const auto pid = startKorvel({"process", "work", "--engine", engine.string()},
                                 {"KORVEL_HOME=" + temp.path().string(), "TMPDIR=" + scratch.string(), "TZ=UTC",
                                  "PATH=/usr/bin:/bin"},
                                 errors);
    ASSERT_TRUE(pid.has_value()) << korvelProgram();
    EXPECT_TRUE(eventually([&] { return std::filesystem::exists(marker); }));
    ::kill(*pid, signal);
    const auto status = waitForExit(*pid);
    ASSERT_TRUE(status.has_value());
    ASSERT_TRUE(WIFEXITED(*status));
    EXPECT_EQ(WEXITSTATUS(*status), 128 + signal);
    EXPECT_NE(korvel::testing::readText(errors).find("Stopped; the job was handed back to the queue."),
              std::string::npos);

    ASSERT_OK_AND_ASSIGN(const Json jobs, parseJson(korvel({"process", "status", "--json"}).out));
    for (const auto& job : jobs) {
      EXPECT_EQ(job["state"], "queued");
      EXPECT_EQ(job["attempts"], 0);
      EXPECT_EQ(job.count("leaseToken"), 0u);
    }
    for (const auto& entry : std::filesystem::directory_iterator(scratch)) ADD_FAILURE() << entry.path();
  }
}

}  // namespace
}  // namespace korvel::cli
