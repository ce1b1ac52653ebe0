// Keyword search: the user's words become an FTS5 expression of quoted terms, ranked by BM25.

#include <algorithm>
#include <cctype>

#include <fmt/format.h>

#include "core/catalog/catalog.h"
#include "core/catalog/catalog_row.h"
#include "core/catalog/catalog_search.h"
#include "platform/regex.h"
#include "platform/text.h"

namespace korvel {
namespace {

constexpr size_t kMaximumQueryCharacters = 2000;
constexpr int64_t kMaximumHits = 1000;

const Regex& termPattern() {
  // Either a double-quoted phrase or a run of characters that are neither space nor a quote.
  static const Regex pattern = std::move(Regex::compile(R"re("([^"]+)"|([^\s"]+))re").value());
  return pattern;
}

const Regex& alphanumericPattern() {
  static const Regex pattern = std::move(Regex::compile(R"([\p{L}\p{M}\p{N}])").value());
  return pattern;
}

// A file URL for a folder path, as a script would pass it on.
std::string fileURL(const std::filesystem::path& folder) {
  std::string url = "file://";
  for (unsigned char c : folder.string()) {
    if (std::isalnum(c) || c == '/' || c == '-' || c == '.' || c == '_' || c == '~') {
      url.push_back(static_cast<char>(c));
    } else {
      url += fmt::format("%{:02X}", c);
    }
  }
  if (url.back() != '/') url.push_back('/');
  return url;
}

}  // namespace

std::string searchExpression(std::string_view query) {
  // A character is at least one byte, so a short query needs no counting.
  const std::string capped =
      query.size() <= kMaximumQueryCharacters ? std::string(query) : graphemePrefix(query, kMaximumQueryCharacters);
  std::vector<std::string> terms;
  for (const RegexMatch& match : termPattern().findAll(capped)) {
    std::string term = match.groups.size() > 0 && match.groups[0] ? *match.groups[0]
                       : match.groups.size() > 1 && match.groups[1] ? *match.groups[1]
                                                                    : std::string();
    if (!alphanumericPattern().find(term)) continue;
    std::string quoted = "\"";
    for (char c : term) {
      quoted.push_back(c);
      if (c == '"') quoted.push_back('"');
    }
    quoted.push_back('"');
    terms.push_back(std::move(quoted));
  }
  return fmt::format("{}", fmt::join(terms, " AND "));
}

Json TranscriptSearchHit::toJson() const {
  return Json{{"meetingID", meetingID},       {"title", title},   {"directory", fileURL(directory)},
              {"transcriptID", transcriptID}, {"sourceID", sourceID}, {"utteranceID", utteranceID},
              {"start", start},               {"end", end},       {"text", text}};
}

Result<std::vector<TranscriptSearchHit>> Catalog::search(const TranscriptSearchQuery& request) {
  std::lock_guard guard(lock_);
  const std::string expression = searchExpression(request.text);
  std::vector<TranscriptSearchHit> hits;
  if (expression.empty()) return hits;

  std::string sql =
      "SELECT m.id,m.title,m.directory,u.transcript_id,u.source_id,u.utterance_id,u.start,u.end,u.text FROM "
      "utterances u JOIN meetings m ON m.id=u.meeting_id WHERE utterances MATCH ?";
  std::vector<Value> values{expression};
  if (request.provider) {
    sql += " AND m.provider=?";
    values.emplace_back(*request.provider);
  }
  if (request.from) {
    sql += " AND m.started>=?";
    values.emplace_back(request.from->secondsSince1970);
  }
  if (request.through) {
    sql += " AND m.started<=?";
    values.emplace_back(request.through->secondsSince1970);
  }
  if (request.before) {
    sql += " AND m.started<?";
    values.emplace_back(request.before->secondsSince1970);
  }
  sql += " ORDER BY bm25(utterances),m.started DESC,CAST(u.start AS REAL) LIMIT ?";
  values.emplace_back(std::clamp<int64_t>(request.limit, 1, kMaximumHits));

  TRY(query(sql.c_str(), values, [&](const Row& row) -> Status {
    hits.push_back(TranscriptSearchHit{row.text(0), row.text(1), std::filesystem::path(row.text(2)), row.text(3),
                                       row.text(4), row.text(5), row.number(6), row.number(7), row.text(8)});
    return okStatus();
  }));
  return hits;
}

}  // namespace korvel
