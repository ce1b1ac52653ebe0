// The processing job queue: job records, identities, and the leased claim/renew/publish/fail cycle.

#include "core/catalog/job_queue.h"

#include <algorithm>
#include <cmath>

#include "core/catalog/catalog.h"
#include "core/catalog/catalog_row.h"
#include "platform/crypto.h"
#include "platform/enum_names.h"
#include "platform/text.h"

namespace korvel {
namespace {

constexpr auto kKindNames = enumNames<ProcessingKind>("transcription", "summary", "diarization", "sentiment");
constexpr auto kStateNames = enumNames<ProcessingJobState>("queued", "running", "succeeded", "failed");

Error invalidRecord() { return makeError(ErrorCode::Corrupt, "A processing job record in the catalog is invalid."); }

void putOptional(Json& json, const char* key, const auto& value) {
  if (value) json[key] = *value;
}

std::string errorText(std::string_view detail) { return graphemePrefix(detail, kMaximumJobErrorCharacters); }

bool finite(double value) { return std::isfinite(value); }

}  // namespace

const char* toString(ProcessingKind kind) { return kKindNames.name(kind); }
std::optional<ProcessingKind> parseProcessingKind(std::string_view text) { return kKindNames.parse(text); }

const char* toString(ProcessingJobState state) { return kStateNames.name(state); }
std::optional<ProcessingJobState> parseProcessingJobState(std::string_view text) { return kStateNames.parse(text); }

Json ProcessingRequest::toJson() const {
  Json json{{"kind", toString(kind)},     {"meetingID", meetingID},
            {"directory", directory},     {"sourceID", sourceID},
            {"inputFingerprint", inputFingerprint}, {"model", model},
            {"modelFingerprint", modelFingerprint}, {"language", language}};
  putOptional(json, "identityDirectory", identityDirectory);
  putOptional(json, "promptVersion", promptVersion);
  putOptional(json, "transcriptVersionID", transcriptVersionID);
  putOptional(json, "maximumAttempts", maximumAttempts);
  return json;
}

Result<ProcessingRequest> ProcessingRequest::fromJson(const Json& json) {
  if (!json.is_object()) return invalidRecord();
  JsonFields fields(json);
  ProcessingRequest request;
  const auto kind = parseProcessingKind(fields.string("kind"));
  request.meetingID = fields.string("meetingID");
  request.directory = fields.string("directory");
  request.identityDirectory = fields.optionalString("identityDirectory");
  request.sourceID = fields.string("sourceID");
  request.inputFingerprint = fields.string("inputFingerprint");
  request.model = fields.string("model");
  request.modelFingerprint = fields.string("modelFingerprint");
  request.language = fields.string("language");
  request.promptVersion = fields.optionalString("promptVersion");
  request.transcriptVersionID = fields.optionalString("transcriptVersionID");
  request.maximumAttempts = fields.optionalInteger("maximumAttempts");
  if (!fields.ok() || !kind) return invalidRecord();
  request.kind = *kind;
  return request;
}

std::string processingIdentityText(const ProcessingRequest& request) {
  Json json = request.toJson();
  if (request.identityDirectory) json["directory"] = *request.identityDirectory;
  json.erase("identityDirectory");
  return encodeCompact(json);
}

std::string processingJobID(const ProcessingRequest& request) { return sha256Hex(processingIdentityText(request)); }

Json ProcessingJob::toJson() const {
  Json json{{"id", id},
            {"request", request.toJson()},
            {"state", toString(state)},
            {"attempts", attempts},
            {"maxAttempts", maxAttempts},
            {"createdAt", createdAt},
            {"availableAt", availableAt}};
  putOptional(json, "leaseToken", leaseToken);
  putOptional(json, "leaseUntil", leaseUntil);
  putOptional(json, "lastError", lastError);
  return json;
}

Result<ProcessingJob> ProcessingJob::fromJson(const Json& json) {
  if (!json.is_object()) return invalidRecord();
  JsonFields fields(json);
  ProcessingJob job;
  job.id = fields.string("id");
  auto request = ProcessingRequest::fromJson(fields.object("request"));
  const auto state = parseProcessingJobState(fields.string("state"));
  job.attempts = fields.integer("attempts");
  job.maxAttempts = fields.integer("maxAttempts");
  job.createdAt = fields.number("createdAt");
  job.availableAt = fields.number("availableAt");
  job.leaseToken = fields.optionalString("leaseToken");
  job.leaseUntil = fields.optionalNumber("leaseUntil");
  job.lastError = fields.optionalString("lastError");
  if (!fields.ok() || !request || !state) return invalidRecord();
  job.request = std::move(*request);
  job.state = *state;
  return job;
}

Result<std::vector<ProcessingJob>> Catalog::processingJobs() {
  std::lock_guard guard(lock_);
  std::vector<ProcessingJob> jobs;
  TRY(query("SELECT record FROM processing_jobs", {}, [&](const Row& row) -> Status {
    const Json json = TRY(parseJson(row.text(0)));
    jobs.push_back(TRY(ProcessingJob::fromJson(json)));
    return okStatus();
  }));
  std::sort(jobs.begin(), jobs.end(), [](const ProcessingJob& a, const ProcessingJob& b) {
    if (a.createdAt != b.createdAt) return a.createdAt < b.createdAt;
    return a.id < b.id;
  });
  return jobs;
}

Result<std::optional<ProcessingJob>> Catalog::readJob(const std::string& id) {
  std::optional<ProcessingJob> job;
  TRY(query("SELECT record FROM processing_jobs WHERE id=?", {id}, [&](const Row& row) -> Status {
    const Json json = TRY(parseJson(row.text(0)));
    job = TRY(ProcessingJob::fromJson(json));
    return okStatus();
  }));
  return job;
}

Status Catalog::writeJob(const ProcessingJob& job) {
  return execute("UPDATE processing_jobs SET record=? WHERE id=?", {job.encoded(), job.id});
}

Result<std::string> Catalog::enqueue(const ProcessingRequest& request, double now, int64_t maxAttempts) {
  const int64_t limit = request.maximumAttempts.value_or(maxAttempts);
  if (!finite(now) || limit < kMinimumJobAttempts || limit > kMaximumJobAttempts || request.meetingID.empty() ||
      request.sourceID.empty() || request.inputFingerprint.empty() || request.model.empty() ||
      request.modelFingerprint.empty() || !request.directory.starts_with('/')) {
    return CatalogError::invalid("Invalid processing request");
  }
  if (request.identityDirectory && (!request.identityDirectory->starts_with('/') ||
                                    request.identityDirectory->find('\0') != std::string::npos)) {
    return CatalogError::invalid("Invalid processing identity location");
  }
  const std::string identity = processingIdentityText(request);
  if (identity.size() > kMaximumRequestBytes || encodeCompact(request.toJson()).size() > kMaximumRequestBytes) {
    return CatalogError::invalid("Processing request is too large");
  }
  ProcessingJob job;
  job.id = sha256Hex(identity);
  job.request = request;
  job.maxAttempts = limit;
  job.createdAt = job.availableAt = now;

  std::lock_guard guard(lock_);
  TRY(transaction([&]() -> Status {
    TRY(execute("INSERT INTO processing_jobs(id,record) VALUES(?,?) ON CONFLICT(id) DO NOTHING",
                {job.id, job.encoded()}));
    if (!request.identityDirectory) return okStatus();
    auto stored = TRY(readJob(job.id));
    if (!stored) return okStatus();
    if (processingIdentityText(stored->request) != identity) {
      return CatalogError::invalid("Processing job identity changed");
    }
    if (stored->request == request) return okStatus();
    stored->request = request;
    return writeJob(*stored);
  }));
  return job.id;
}

Result<std::optional<ProcessingJob>> Catalog::claimJob(double now, double leaseSeconds, const JobClaimFilter& filter) {
  if (!finite(now) || !finite(leaseSeconds) || leaseSeconds < kMinimumLeaseSeconds ||
      leaseSeconds > kMaximumLeaseSeconds) {
    return CatalogError::invalid("Invalid worker lease duration");
  }
  auto wanted = [&](const ProcessingJob& job) {
    const ProcessingRequest& request = job.request;
    if (filter.eligibleJobIDs && !filter.eligibleJobIDs->count(job.id)) return false;
    if (filter.kinds && !filter.kinds->count(request.kind)) return false;
    if (request.kind == ProcessingKind::summary) {
      return !filter.summaryModelFingerprint || *filter.summaryModelFingerprint == request.modelFingerprint;
    }
    if (request.kind == ProcessingKind::transcription) {
      return (!filter.transcriptionModel || *filter.transcriptionModel == request.model) &&
             (!filter.transcriptionModelFingerprint || *filter.transcriptionModelFingerprint == request.modelFingerprint) &&
             (!filter.transcriptionLanguage || *filter.transcriptionLanguage == request.language);
    }
    return true;
  };

  std::lock_guard guard(lock_);
  std::optional<ProcessingJob> claimed;
  TRY(transaction([&]() -> Status {
    for (ProcessingJob& job : TRY(processingJobs())) {
      if (!wanted(job)) continue;
      const bool expired = job.state == ProcessingJobState::running && (!job.leaseUntil || *job.leaseUntil <= now);
      const bool due = (job.state == ProcessingJobState::queued && job.availableAt <= now) || expired;
      if (!due) continue;
      if (job.attempts < job.maxAttempts) {
        if (expired) job.lastError = kLeaseRecoveredMessage;
        job.state = ProcessingJobState::running;
        job.attempts += 1;
        job.leaseToken = uuidString();
        job.leaseUntil = now + leaseSeconds;
        TRY(writeJob(job));
        claimed = std::move(job);
        return okStatus();
      }
      job.state = ProcessingJobState::failed;
      job.leaseToken.reset();
      job.leaseUntil.reset();
      if (!job.lastError) job.lastError = kRetryLimitMessage;
      TRY(writeJob(job));
    }
    return okStatus();
  }));
  return claimed;
}

Result<bool> Catalog::changeLeasedJob(const std::string& id, const std::string& token, double now,
                                      const std::function<Status(ProcessingJob&)>& change) {
  std::lock_guard guard(lock_);
  bool changed = false;
  TRY(transaction([&]() -> Status {
    auto job = TRY(readJob(id));
    // An expired lease no longer entitles its holder to anything, reclaimed or not.
    if (!job || job->state != ProcessingJobState::running || job->leaseToken != token || !job->leaseUntil ||
        !(now < *job->leaseUntil)) {
      return okStatus();
    }
    TRY(change(*job));
    TRY(writeJob(*job));
    changed = true;
    return okStatus();
  }));
  return changed;
}

Result<bool> Catalog::renewJob(const std::string& id, const std::string& token, double now, double leaseSeconds) {
  if (!finite(now) || !finite(leaseSeconds) || leaseSeconds < kMinimumLeaseSeconds ||
      leaseSeconds > kMaximumLeaseSeconds) {
    return CatalogError::invalid("Invalid worker lease duration");
  }
  return changeLeasedJob(id, token, now, [&](ProcessingJob& job) {
    job.leaseUntil = now + leaseSeconds;
    return okStatus();
  });
}

Result<bool> Catalog::returnJob(const std::string& id, const std::string& token, double now) {
  if (!finite(now)) return CatalogError::invalid("Invalid job time");
  return changeLeasedJob(id, token, now, [](ProcessingJob& job) {
    job.state = ProcessingJobState::queued;
    job.attempts = std::max<int64_t>(job.attempts - 1, 0);
    job.leaseToken.reset();
    job.leaseUntil.reset();
    return okStatus();
  });
}

namespace {
void markSucceeded(ProcessingJob& job) {
  job.state = ProcessingJobState::succeeded;
  job.leaseToken.reset();
  job.leaseUntil.reset();
  job.lastError.reset();
}
}  // namespace

Result<bool> Catalog::completeJob(const std::string& id, const std::string& token, double now) {
  if (!finite(now)) return CatalogError::invalid("Invalid job time");
  return changeLeasedJob(id, token, now, [](ProcessingJob& job) {
    markSucceeded(job);
    return okStatus();
  });
}

Result<bool> Catalog::publishJob(const std::string& id, const std::string& token, double now,
                                 const std::function<Status()>& publish) {
  if (!finite(now)) return CatalogError::invalid("Invalid job time");
  return changeLeasedJob(id, token, now, [&](ProcessingJob& job) -> Status {
    if (publish) TRY(publish());
    markSucceeded(job);
    return okStatus();
  });
}

Result<bool> Catalog::failJob(const std::string& id, const std::string& token, std::string_view detail, double now,
                              double retryAfter) {
  if (!finite(retryAfter) || retryAfter < 0 || retryAfter > kMaximumRetryDelaySeconds) {
    return CatalogError::invalid("Invalid retry delay");
  }
  if (!finite(now)) return CatalogError::invalid("Invalid job time");
  return changeLeasedJob(id, token, now, [&](ProcessingJob& job) {
    job.state = job.attempts >= job.maxAttempts ? ProcessingJobState::failed : ProcessingJobState::queued;
    job.availableAt = now + retryAfter;
    job.leaseToken.reset();
    job.leaseUntil.reset();
    job.lastError = errorText(detail);
    return okStatus();
  });
}

Result<bool> Catalog::recordCompletedJobWarning(const std::string& id, std::string_view detail) {
  std::lock_guard guard(lock_);
  bool changed = false;
  TRY(transaction([&]() -> Status {
    auto job = TRY(readJob(id));
    if (!job || job->state != ProcessingJobState::succeeded) return okStatus();
    job->lastError = errorText(detail);
    TRY(writeJob(*job));
    changed = true;
    return okStatus();
  }));
  return changed;
}

Result<bool> Catalog::retryJob(const std::string& id, double now) {
  if (!finite(now)) return CatalogError::invalid("Invalid job time");
  std::lock_guard guard(lock_);
  bool changed = false;
  TRY(transaction([&]() -> Status {
    auto job = TRY(readJob(id));
    if (!job || job->state != ProcessingJobState::failed) return okStatus();
    job->state = ProcessingJobState::queued;
    job->attempts = 0;
    job->availableAt = now;
    job->leaseToken.reset();
    job->leaseUntil.reset();
    TRY(writeJob(*job));
    changed = true;
    return okStatus();
  }));
  return changed;
}

}  // namespace korvel
