// Publication and loading of transcript revision folders, and their WebVTT rendering.

#include <algorithm>
#include <cmath>
#include <map>
#include <set>

#include <fmt/format.h>

#include "core/catalog/transcript_document.h"
#include "platform/crypto.h"
#include "platform/text.h"
#include "platform/timecode.h"

namespace korvel {
namespace {

Error invalid(const char* message) { return makeError(ErrorCode::InvalidInput, message); }
Error unexpectedType() { return invalid("Transcript artifact has an unexpected file type or symbolic link"); }

enum class Presence { absent, present };

// One non-following status call per path: absent, present with the expected kind, or refused.
Result<Presence> examine(const Dir& folder, std::string_view name, EntryKind expected) {
  auto entry = folder.info(name);
  if (!entry) {
    if (entry.error().code == ErrorCode::NotFound) return Presence::absent;
    return std::move(entry).error();
  }
  if (entry->kind != expected) return unexpectedType();
  return Presence::present;
}

// The open calls refuse links themselves (the path may change after examine); say so plainly.
template <class T>
Result<T> refuseLinks(Result<T> opened) {
  if (!opened && opened.error().code == ErrorCode::Denied) return unexpectedType();
  return opened;
}

Result<TranscriptDocument> readDocument(const Dir& revisionFolder, std::string_view expectedID,
                                        std::string_view meetingID) {
  if (TRY(examine(revisionFolder, TranscriptArtifacts::kDocumentName, EntryKind::file)) == Presence::absent) {
    return invalid("Published transcript revision is missing its document");
  }
  const std::string bytes = TRY(refuseLinks(
      revisionFolder.readFile(TranscriptArtifacts::kDocumentName, TranscriptDocument::kMaximumDocumentBytes)));
  TranscriptDocument document = TRY(TranscriptDocument::decode(bytes));
  if (document.id != expectedID) return invalid("Transcript directory does not match revision ID");
  if (document.meetingID != meetingID) return invalid("Transcript belongs to another meeting");
  return document;
}

// Parents before children, otherwise in the given order.
Result<std::vector<TranscriptDocument>> lineageOrder(std::vector<TranscriptDocument> sorted) {
  std::map<std::string_view, const TranscriptDocument*> byID;
  for (const TranscriptDocument& document : sorted) byID.emplace(document.id, &document);
  std::set<std::string_view> emitted;
  std::set<std::string_view> visiting;
  std::vector<const TranscriptDocument*> order;
  order.reserve(sorted.size());

  // Lineages are short chains, so recursion depth stays small in practice; the cycle check
  // bounds it by the revision count regardless.
  std::function<Status(const TranscriptDocument&)> visit = [&](const TranscriptDocument& document) -> Status {
    if (emitted.count(document.id)) return okStatus();
    if (!visiting.insert(document.id).second) return invalid("Transcript correction lineage contains a cycle");
    if (document.parentVersionID) {
      auto parent = byID.find(*document.parentVersionID);
      if (parent == byID.end() || parent->second->meetingID != document.meetingID ||
          parent->second->sourceID != document.sourceID) {
        return invalid("Transcript correction parent is missing or belongs to another source");
      }
      TRY(visit(*parent->second));
    }
    visiting.erase(document.id);
    emitted.insert(document.id);
    order.push_back(&document);
    return okStatus();
  };
  for (const TranscriptDocument& document : sorted) TRY(visit(document));

  std::vector<TranscriptDocument> result;
  result.reserve(order.size());
  for (const TranscriptDocument* document : order) result.push_back(*document);
  return result;
}

int64_t cueMilliseconds(double seconds) {
  if (!std::isfinite(seconds) || seconds <= 0) return 0;
  return static_cast<int64_t>(std::min(seconds, kMaximumMeetingSeconds) * 1000.0);
}

std::string escapeCueText(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      default: out.push_back(c);
    }
  }
  return out;
}

std::string cuePayload(std::string_view text) {
  const std::string escaped = escapeCueText(text);
  std::string payload;
  std::string line;
  const auto flush = [&] {
    if (line.empty()) return;
    if (!payload.empty()) payload.push_back('\n');
    payload += line;
    line.clear();
  };
  for (size_t i = 0; i < escaped.size(); ++i) {
    const char c = escaped[i];
    if (c == '\r' || c == '\n') {
      flush();
      if (c == '\r' && i + 1 < escaped.size() && escaped[i + 1] == '\n') ++i;
    } else {
      line.push_back(c);
    }
  }
  flush();
  return payload;
}

// Decodes one scalar of valid UTF-8 starting at `i`, advancing `i`.
char32_t nextScalar(std::string_view text, size_t& i) {
  const auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char lead = byte(i);
  size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
  if (i + length > text.size()) length = 1;
  char32_t scalar = length == 1 ? lead : lead & (0x7F >> length);
  for (size_t k = 1; k < length; ++k) scalar = (scalar << 6) | (byte(i + k) & 0x3F);
  i += length;
  return scalar;
}

bool isNewlineScalar(char32_t c) {
  return (c >= 0x0A && c <= 0x0D) || c == 0x85 || c == 0x2028 || c == 0x2029;
}

std::string voiceName(std::string_view speaker) {
  std::string cleaned;
  for (size_t i = 0; i < speaker.size();) {
    const size_t begin = i;
    const char32_t c = nextScalar(speaker, i);
    if (isNewlineScalar(c)) {
      // "\r\n" is one line break, as a reader perceives it.
      if (c == '\r' && i < speaker.size() && speaker[i] == '\n') ++i;
      cleaned.push_back(' ');
    } else if (c < 0x20 || (c >= 0x7F && c <= 0x9F)) {
      continue;
    } else {
      cleaned.append(speaker.substr(begin, i - begin));
    }
  }
  return escapeCueText(trimWhitespace(cleaned));
}

}  // namespace

Status TranscriptArtifacts::save(const TranscriptDocument& document, const Dir& meetingFolder,
                                 const PublishProbe& probe) {
  TRY(document.validate());
  if (TRY(examine(meetingFolder, kFolderName, EntryKind::directory)) == Presence::absent) {
    TRY(meetingFolder.createDir(kFolderName));
  }
  const Dir transcripts = TRY(refuseLinks(meetingFolder.openDir(kFolderName)));
  if (transcripts.exists(document.id)) return invalid("Transcript revision already exists");

  const std::string staging = kStagingPrefix + uuidString();
  Dir stagingFolder = TRY(transcripts.createNewDir(staging));
  // Whatever happens below, the staging folder must not outlive this call.
  struct RemoveStaging {
    const Dir& parent;
    const std::string& name;
    ~RemoveStaging() {
      if (parent.exists(name)) (void)parent.removeTree(name);
    }
  } cleanup{transcripts, staging};

  if (probe) probe(PublishStep::stagingCreated);
  TRY(stagingFolder.writeAtomic(kDocumentName, document.encoded(), 0644, Replace::refuseExisting));
  if (probe) probe(PublishStep::documentWritten);
  TRY(stagingFolder.writeAtomic(kRenditionName, vtt(document), 0644, Replace::refuseExisting));
  if (probe) probe(PublishStep::renditionWritten);

  // A move whose folder sync failed still published the revision: it is there for every reader,
  // and a retry must find it rather than be told it failed.
  auto moved = transcripts.rename(staging, transcripts, document.id, Replace::refuseExisting);
  if (!moved) {
    // Another publisher of the same id won the race.
    if (transcripts.info(document.id).ok()) return invalid("Transcript revision already exists");
    return std::move(moved).error();
  }
  return okStatus();
}

Status TranscriptArtifacts::save(const TranscriptDocument& document, const std::filesystem::path& meetingFolder,
                                 const FileSystem& fileSystem) {
  const Dir folder = TRY(Dir::openRoot(fileSystem, meetingFolder));
  return save(document, folder);
}

Result<std::optional<TranscriptDocument>> TranscriptArtifacts::loadRevision(std::string_view id,
                                                                             const Dir& meetingFolder,
                                                                             std::string_view meetingID) {
  if (!isValidRevisionID(id) || !meetingFolder.valid()) return invalid("Invalid transcript revision location");
  if (TRY(examine(meetingFolder, kFolderName, EntryKind::directory)) == Presence::absent) return std::optional<TranscriptDocument>{};
  const Dir transcripts = TRY(refuseLinks(meetingFolder.openDir(kFolderName)));
  if (TRY(examine(transcripts, id, EntryKind::directory)) == Presence::absent) return std::optional<TranscriptDocument>{};
  const Dir revision = TRY(refuseLinks(transcripts.openDir(id)));
  return std::optional<TranscriptDocument>(TRY(readDocument(revision, id, meetingID)));
}

Result<std::optional<TranscriptDocument>> TranscriptArtifacts::loadRevision(
    std::string_view id, const std::filesystem::path& meetingFolder, std::string_view meetingID,
    const FileSystem& fileSystem) {
  if (!isValidRevisionID(id) || !meetingFolder.is_absolute()) return invalid("Invalid transcript revision location");
  const Dir folder = TRY(Dir::openRoot(fileSystem, meetingFolder));
  return loadRevision(id, folder, meetingID);
}

Result<std::vector<TranscriptDocument>> TranscriptArtifacts::loadAll(const Dir& meetingFolder,
                                                                     std::string_view meetingID) {
  if (TRY(examine(meetingFolder, kFolderName, EntryKind::directory)) == Presence::absent) {
    return std::vector<TranscriptDocument>{};
  }
  const Dir transcripts = TRY(refuseLinks(meetingFolder.openDir(kFolderName)));
  std::vector<TranscriptDocument> documents;
  for (const DirEntry& entry : TRY(transcripts.list())) {
    if (entry.name.starts_with('.') || entry.kind == EntryKind::symlink) continue;
    const Dir revision = TRY(refuseLinks(transcripts.openDir(entry.name)));
    documents.push_back(TRY(readDocument(revision, entry.name, meetingID)));
  }
  std::sort(documents.begin(), documents.end(), [](const TranscriptDocument& a, const TranscriptDocument& b) {
    if (a.createdAt != b.createdAt) return a.createdAt < b.createdAt;
    return a.id < b.id;
  });
  return lineageOrder(std::move(documents));
}

Result<std::vector<TranscriptDocument>> TranscriptArtifacts::loadAll(const std::filesystem::path& meetingFolder,
                                                                     std::string_view meetingID,
    const FileSystem& fileSystem) {
  const Dir folder = TRY(Dir::openRoot(fileSystem, meetingFolder));
  return loadAll(folder, meetingID);
}

Result<size_t> TranscriptArtifacts::removeAbandonedStaging(const Dir& meetingFolder, Date now,
                                                           double minimumAgeSeconds) {
  if (TRY(examine(meetingFolder, kFolderName, EntryKind::directory)) == Presence::absent) return size_t{0};
  const Dir transcripts = TRY(refuseLinks(meetingFolder.openDir(kFolderName)));
  size_t removed = 0;
  for (const DirEntry& entry : TRY(transcripts.list())) {
    if (!entry.name.starts_with(kStagingPrefix) || entry.kind != EntryKind::directory) continue;
    const EntryInfo info = TRY(transcripts.info(entry.name));
    const double modified = static_cast<double>(info.identity.modifiedNanos) / 1e9;
    if (now.secondsSince1970 - modified < minimumAgeSeconds) continue;
    TRY(transcripts.removeTree(entry.name));
    ++removed;
  }
  return removed;
}

std::string TranscriptArtifacts::vtt(const TranscriptDocument& document) {
  std::string text = "WEBVTT\n\n";
  size_t number = 0;
  for (const TranscriptUtterance& utterance : document.utterances) {
    if (number > 0) text.push_back('\n');
    ++number;
    const int64_t start = cueMilliseconds(utterance.start);
    int64_t end = cueMilliseconds(utterance.end);
    if (end <= start) end = start + 1;
    std::string payload = cuePayload(utterance.text);
    if (utterance.speaker) {
      const std::string name = voiceName(*utterance.speaker);
      if (!name.empty()) payload = "<v " + name + ">" + payload + "</v>";
    }
    text += fmt::format("{}\n{} --> {}\n{}\n", number, millisecondTimecode(start), millisecondTimecode(end), payload);
  }
  return text;
}

}  // namespace korvel
