// The job queue: identity, leases and their guards, retries, and workers in separate processes.

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <map>
#include <sstream>

#include "platform/crypto.h"
#include "tests/core/catalog/catalog_fixtures.h"
#include "tests/support/result_matchers.h"

namespace korvel {
namespace {

using ::testing::Eq;
using ::testing::Optional;
using ::testing::SizeIs;
using testing::CatalogSandbox;
using testing::IsOkAndHolds;
using testing::readText;
using testing::valueOf;

const auto kNothingClaimable = IsOkAndHolds(Eq(std::nullopt));
const auto kSomethingClaimable = IsOkAndHolds(Optional(::testing::_));

ProcessingRequest transcription(const std::string& source = "mic") {
  return ProcessingRequest{ProcessingKind::transcription, "M1", "/archive/M1", {}, source, "input-sha",
                           "base.en", "model-sha", "en", {}, {}, {}};
}

class JobQueueTest : public ::testing::Test {
 protected:
  CatalogSandbox box;
  std::unique_ptr<Catalog> catalog = box.open();

  std::vector<ProcessingJob> jobs() { return valueOf(catalog->processingJobs()); }
  ProcessingJob only() { return jobs().at(0); }
  // The job claimed at `now`, which must exist and hold a lease; otherwise the test fails here.
  ProcessingJob claim(double now, double lease, std::source_location where = std::source_location::current()) {
    std::optional<ProcessingJob> job = valueOf(catalog->claimJob(now, lease), where);
    if (!job || !job->leaseToken) {
      ADD_FAILURE_AT(where.file_name(), static_cast<int>(where.line())) << "no job with a lease was claimed at " << now;
      throw testing::FailedResult("no job claimed");
    }
    return *job;
  }
  std::string invalid(const Error& error) { return error.message; }
};

TEST_F(JobQueueTest, EnqueueIsIdempotentByIdentityAndValidatesRequests) {
  ASSERT_OK_AND_ASSIGN(const std::string id, catalog->enqueue(transcription(), 5, 3));
  EXPECT_EQ(id.size(), 64u);
  EXPECT_EQ(id, processingJobID(transcription()));
  EXPECT_THAT(catalog->enqueue(transcription(), 9, 3), IsOkAndHolds(id));
  ASSERT_THAT(catalog->processingJobs(), IsOkAndHolds(SizeIs(1)));
  EXPECT_EQ(only().createdAt, 5);
  EXPECT_EQ(only().maxAttempts, 3);
  EXPECT_EQ(testing::scalar(box.databaseFile, "SELECT record FROM processing_jobs"), only().encoded());

  ProcessingRequest capped = transcription();
  capped.maximumAttempts = 1;
  EXPECT_THAT(catalog->enqueue(capped, 5, 3), IsOkAndHolds(::testing::Ne(id)));
  EXPECT_EQ(jobs().at(1).maxAttempts, 1);

  auto refused = [&](ProcessingRequest request, double now = 1, int64_t attempts = 3) {
    auto result = catalog->enqueue(request, now, attempts);
    return result ? std::string("accepted") : result.error().message;
  };
  ProcessingRequest relative = transcription();
  relative.directory = "archive/M1";
  EXPECT_EQ(refused(relative), "Invalid processing request");
  ProcessingRequest noModel = transcription();
  noModel.modelFingerprint.clear();
  EXPECT_EQ(refused(noModel), "Invalid processing request");
  EXPECT_EQ(refused(transcription(), NAN), "Invalid processing request");
  EXPECT_EQ(refused(transcription(), 1, 11), "Invalid processing request");
  EXPECT_EQ(refused(transcription(), 1, 0), "Invalid processing request");
  ProcessingRequest badIdentity = transcription();
  badIdentity.identityDirectory = "relative";
  EXPECT_EQ(refused(badIdentity), "Invalid processing identity location");
  ProcessingRequest huge = transcription();
  huge.language = std::string(70000, 'x');
  EXPECT_EQ(refused(huge), "Processing request is too large");
  EXPECT_THAT(catalog->processingJobs(), IsOkAndHolds(SizeIs(2)));
}

TEST_F(JobQueueTest, AMovedRecordingKeepsItsJobThroughTheIdentityFolder) {
  ProcessingRequest original = transcription();
  original.identityDirectory = "/archive/M1";
  ASSERT_OK_AND_ASSIGN(const std::string id, catalog->enqueue(original, 1, 3));
  EXPECT_EQ(id, processingJobID(transcription()));
  auto job = claim(2, 60);
  ASSERT_THAT(catalog->failJob(id, *job.leaseToken, "engine crashed", 3, 0), IsOkAndHolds(true));

  ProcessingRequest moved = original;
  moved.directory = "/new-home/M1";
  EXPECT_THAT(catalog->enqueue(moved, 10, 3), IsOkAndHolds(id));
  EXPECT_EQ(only().request.directory, "/new-home/M1");
  EXPECT_EQ(only().attempts, 1);
  EXPECT_EQ(only().lastError, "engine crashed");
  EXPECT_EQ(only().createdAt, 1);
}

TEST_F(JobQueueTest, ClaimsInOrderUnderFiltersAndLeaseLimits) {
  ASSERT_OK_AND_ASSIGN(const std::string a, catalog->enqueue(transcription("a"), 1, 3));
  ASSERT_OK_AND_ASSIGN(const std::string b, catalog->enqueue(transcription("b"), 1, 3));
  ProcessingRequest summary = transcription();
  summary.kind = ProcessingKind::summary;
  ASSERT_OK_AND_ASSIGN(const std::string s, catalog->enqueue(summary, 0, 3));

  EXPECT_EQ(catalog->claimJob(1, 0.5).error().message, "Invalid worker lease duration");
  EXPECT_EQ(catalog->claimJob(1, 3601).error().message, "Invalid worker lease duration");
  EXPECT_EQ(catalog->claimJob(NAN, 60).error().message, "Invalid worker lease duration");
  EXPECT_THAT(catalog->claimJob(1, 60, {.eligibleJobIDs = std::set<std::string>{}}), kNothingClaimable);
  EXPECT_THAT(catalog->claimJob(1, 60, {.kinds = std::set<ProcessingKind>{ProcessingKind::sentiment}}),
              kNothingClaimable);
  EXPECT_THAT(catalog->claimJob(1, 60, {.kinds = std::set<ProcessingKind>{ProcessingKind::summary},
                                        .summaryModelFingerprint = "other"}),
              kNothingClaimable);
  EXPECT_THAT(catalog->claimJob(1, 60, {.kinds = std::set<ProcessingKind>{ProcessingKind::transcription},
                                        .transcriptionLanguage = "pt"}),
              kNothingClaimable);
  // Not yet available.
  EXPECT_THAT(catalog->claimJob(0.5, 60, {.kinds = std::set<ProcessingKind>{ProcessingKind::transcription}}),
              kNothingClaimable);

  // Oldest first; equal creation times by id.
  EXPECT_EQ(claim(1, 1).id, s);
  auto first = claim(1, 3600);
  EXPECT_EQ(first.id, std::min(a, b));
  EXPECT_EQ(first.attempts, 1);
  EXPECT_EQ(*first.leaseUntil, 3601);
  EXPECT_TRUE(isUuidString(*first.leaseToken));
  EXPECT_EQ(claim(1, 60).id, std::max(a, b));
  EXPECT_THAT(catalog->claimJob(1, 60), kNothingClaimable);
}

TEST_F(JobQueueTest, LeaseGuardRejectsWrongTokensAndExpiredLeases) {
  ASSERT_OK_AND_ASSIGN(const std::string id, catalog->enqueue(transcription(), 0, 3));
  auto job = claim(10, 30);
  const std::string token = *job.leaseToken;
  EXPECT_THAT(catalog->renewJob(id, "not-the-token", 11, 30), IsOkAndHolds(false));
  EXPECT_THAT(catalog->completeJob("missing", token, 11), IsOkAndHolds(false));
  EXPECT_EQ(catalog->renewJob(id, token, 11, 0).error().message, "Invalid worker lease duration");
  EXPECT_EQ(catalog->completeJob(id, token, INFINITY).error().message, "Invalid job time");
  EXPECT_THAT(catalog->renewJob(id, token, 20, 30), IsOkAndHolds(true));  // until 50
  // At the very instant the lease ends it is gone, even before anyone reclaims it.
  EXPECT_THAT(catalog->renewJob(id, token, 50, 30), IsOkAndHolds(false));
  EXPECT_THAT(catalog->publishJob(id, token, 50, [] { return okStatus(); }), IsOkAndHolds(false));

  auto again = claim(50, 30);
  EXPECT_EQ(again.attempts, 2);
  EXPECT_EQ(again.lastError, "Previous worker lease expired; recovering interrupted work");
  EXPECT_THAT(catalog->completeJob(id, token, 51), IsOkAndHolds(false));

  // Returning gives the attempt back; the job is claimable at once.
  EXPECT_THAT(catalog->returnJob(id, *again.leaseToken, 51), IsOkAndHolds(true));
  EXPECT_EQ(only().state, ProcessingJobState::queued);
  EXPECT_EQ(only().attempts, 1);
  EXPECT_FALSE(only().leaseToken.has_value());
  auto third = claim(51, 30);
  EXPECT_THAT(catalog->completeJob(id, *third.leaseToken, 52), IsOkAndHolds(true));
  EXPECT_EQ(only().state, ProcessingJobState::succeeded);
  EXPECT_FALSE(only().lastError.has_value());

  EXPECT_THAT(catalog->retryJob(id, 53), IsOkAndHolds(false));
  EXPECT_THAT(catalog->recordCompletedJobWarning(id, std::string(5000, 'w')), IsOkAndHolds(true));
  EXPECT_THAT(only().lastError, Optional(SizeIs(4096)));
  EXPECT_THAT(catalog->claimJob(1000, 30), kNothingClaimable);
}

TEST_F(JobQueueTest, FailuresRetryUntilTheLimitThenWaitForAManualRetry) {
  ProcessingRequest request = transcription();
  request.maximumAttempts = 2;
  ASSERT_OK_AND_ASSIGN(const std::string id, catalog->enqueue(request, 0, 5));
  auto job = claim(0, 60);
  EXPECT_EQ(catalog->failJob(id, *job.leaseToken, "x", 1, 86400.5).error().message, "Invalid retry delay");
  EXPECT_EQ(catalog->failJob(id, *job.leaseToken, "x", 1, -1).error().message, "Invalid retry delay");
  EXPECT_THAT(catalog->failJob(id, *job.leaseToken, "decoder error", 1, 86400), IsOkAndHolds(true));
  EXPECT_EQ(only().state, ProcessingJobState::queued);
  EXPECT_EQ(only().availableAt, 86401);
  EXPECT_THAT(catalog->claimJob(86400, 60), kNothingClaimable);
  job = claim(86401, 60);
  EXPECT_THAT(catalog->failJob(id, *job.leaseToken, "decoder error again", 86402, 10), IsOkAndHolds(true));
  EXPECT_EQ(only().state, ProcessingJobState::failed);
  EXPECT_EQ(only().lastError, "decoder error again");
  EXPECT_THAT(catalog->claimJob(1e9, 60), kNothingClaimable);

  EXPECT_EQ(catalog->retryJob(id, NAN).error().message, "Invalid job time");
  EXPECT_THAT(catalog->retryJob(id, 90000), IsOkAndHolds(true));
  EXPECT_EQ(only().state, ProcessingJobState::queued);
  EXPECT_EQ(only().attempts, 0);
  EXPECT_EQ(only().lastError, "decoder error again");
  EXPECT_THAT(catalog->claimJob(90000, 60), kSomethingClaimable);
}

TEST_F(JobQueueTest, AJobWhoseOnlyAttemptLostItsLeaseFailsOnTheNextScan) {
  ProcessingRequest request = transcription();
  request.maximumAttempts = 1;
  ASSERT_OK_AND_ASSIGN(const std::string id, catalog->enqueue(request, 0, 3));
  ASSERT_THAT(catalog->claimJob(0, 10), kSomethingClaimable);
  EXPECT_THAT(catalog->claimJob(10, 10), kNothingClaimable);
  EXPECT_EQ(only().state, ProcessingJobState::failed);
  EXPECT_EQ(only().lastError, "Worker lease expired; retry limit reached");
  EXPECT_FALSE(only().leaseToken.has_value());
}

TEST_F(JobQueueTest, AStoredRecordThatCannotBeDecodedIsAnError) {
  ASSERT_TRUE(catalog->enqueue(transcription(), 0, 3));
  sqlite3* db = nullptr;
  sqlite3_open(box.databaseFile.c_str(), &db);
  sqlite3_exec(db, "UPDATE processing_jobs SET record='{\"id\":1}'", nullptr, nullptr, nullptr);
  sqlite3_close(db);
  EXPECT_EQ(catalog->processingJobs().error().code, ErrorCode::Corrupt);
  EXPECT_FALSE(catalog->claimJob(0, 10));
}

// --- several processes on one database file ----------------------------------------------

// Claims and publishes at `now` until nothing is claimable; each publication appends
// "<job id>\n" to the log inside the job's transaction.
[[noreturn]] void workUntilEmpty(const std::filesystem::path& database, const std::filesystem::path& log, double now) {
  auto opened = Catalog::open(database);
  if (!opened) _exit(10);
  Catalog& catalog = **opened;
  while (true) {
    auto claimed = catalog.claimJob(now, 30);
    if (!claimed) _exit(11);
    if (!claimed->has_value()) _exit(0);
    const ProcessingJob& job = **claimed;
    auto published = catalog.publishJob(job.id, *job.leaseToken, now + 1, [&]() -> Status {
      std::ofstream(log, std::ios::app) << job.id << "\n" << std::flush;
      return okStatus();
    });
    if (!published || !*published) _exit(12);
  }
}

int waitFor(pid_t pid) {
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
}

TEST_F(JobQueueTest, WorkersInSeparateProcessesShareTheQueueAndSurviveAKilledWorker) {
  std::set<std::string> enqueued;
  for (int i = 0; i < 12; ++i) {
    ASSERT_OK_AND_ASSIGN(const std::string id, catalog->enqueue(transcription("track" + std::to_string(i)), 1, 3));
    enqueued.insert(id);
  }
  const auto log = box.temp / "published.log";

  // A worker claims the oldest job, reports its lease, then hangs until killed.
  int pipeFds[2];
  ASSERT_EQ(pipe(pipeFds), 0);
  const pid_t doomed = fork();
  if (doomed == 0) {
    close(pipeFds[0]);
    auto opened = Catalog::open(box.databaseFile);
    if (!opened) _exit(10);
    auto claimed = (*opened)->claimJob(100, 30);
    if (!claimed || !claimed->has_value()) _exit(11);
    const std::string line = (*claimed)->id + " " + *(*claimed)->leaseToken + "\n";
    if (write(pipeFds[1], line.data(), line.size()) != static_cast<ssize_t>(line.size())) _exit(12);
    pause();
    _exit(13);
  }
  close(pipeFds[1]);
  std::string line;
  char buffer[256];
  for (ssize_t n; (n = read(pipeFds[0], buffer, sizeof buffer)) > 0;) {
    line.append(buffer, static_cast<size_t>(n));
    if (line.back() == '\n') break;
  }
  close(pipeFds[0]);
  const std::string heldJob = line.substr(0, 64);
  const std::string deadToken = line.substr(65, line.size() - 66);
  ASSERT_TRUE(enqueued.count(heldJob));
  kill(doomed, SIGKILL);
  EXPECT_EQ(waitFor(doomed), -SIGKILL);

  // Two workers race over the rest while the dead worker's lease still holds.
  const pid_t first = fork();
  if (first == 0) workUntilEmpty(box.databaseFile, log, 110);
  const pid_t second = fork();
  if (second == 0) workUntilEmpty(box.databaseFile, log, 110);
  EXPECT_EQ(waitFor(first), 0);
  EXPECT_EQ(waitFor(second), 0);
  EXPECT_THAT(catalog->processingJobs(), IsOkAndHolds(SizeIs(12)));

  // After expiry the held job is recovered by a fresh worker; the dead lease can do nothing.
  const pid_t recovery = fork();
  if (recovery == 0) workUntilEmpty(box.databaseFile, log, 130);
  EXPECT_EQ(waitFor(recovery), 0);
  EXPECT_THAT(catalog->publishJob(heldJob, deadToken, 131, [] { return makeError(ErrorCode::Io, "ran"); }),
              IsOkAndHolds(false));
  EXPECT_THAT(catalog->renewJob(heldJob, deadToken, 131, 30), IsOkAndHolds(false));

  std::map<std::string, int> publications;
  std::istringstream lines(readText(log));
  for (std::string id; std::getline(lines, id);) publications[id] += 1;
  EXPECT_EQ(publications.size(), 12u);
  for (const auto& [id, count] : publications) {
    EXPECT_TRUE(enqueued.count(id));
    EXPECT_EQ(count, 1) << id;
  }
  for (const ProcessingJob& job : jobs()) {
    EXPECT_EQ(job.state, ProcessingJobState::succeeded) << job.id;
    EXPECT_EQ(job.attempts, job.id == heldJob ? 2 : 1);
  }
}

}  // namespace
}  // namespace korvel
