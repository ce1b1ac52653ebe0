// Original media verification on real files, including files changed while they are being read.

#include "core/archive/verification.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "tests/core/archive/trash_fixtures.h"

namespace korvel {
namespace {

namespace fs = std::filesystem;
using testing::addMeeting;
using testing::readText;
using testing::treeFingerprint;
using testing::writeText;
using Outcome = OriginalMediaVerificationStatus;

class VerificationTest : public testing::ArchiveFixture {
 protected:
  OriginalMediaVerifier verifier{clock};

  Result<OriginalMediaVerificationReport> verify(const ArchivedSession& session,
                                                 const OriginalMediaVerifier::ProgressHandler& progress = {},
                                                 const OriginalMediaVerifier::CancellationCheck& cancel = {}) {
    return verifier.verify(session.folder, root, session.meeting.id, session.meeting.startedAt, progress, cancel);
  }

  // Verification never writes: the whole tree is byte-identical afterwards.
  void expectRefusal(const ArchivedSession& session, const std::string& message) {
    const std::string before = treeFingerprint(temp.path());
    auto report = verify(session);
    ASSERT_FALSE(report.ok());
    EXPECT_EQ(report.error().message, message);
    EXPECT_EQ(treeFingerprint(temp.path()), before);
  }

  static std::vector<Outcome> outcomes(const OriginalMediaVerificationReport& report) {
    std::vector<Outcome> out;
    for (const auto& result : report.results) out.push_back(result.status);
    return out;
  }
};

std::string megabytes(size_t count, char fill) { return std::string(count * 1'048'576 + 17, fill); }

void append(const fs::path& file, const std::string& bytes) {
  std::ofstream out(file, std::ios::binary | std::ios::app);
  out << bytes;
}

TEST_F(VerificationTest, IntactMeetingVerifiesEveryFileWithProgress) {
  auto session = addMeeting(archive, clock, "Intact", {megabytes(2, 'a'), "short", megabytes(1, 'c')});
  const std::string before = treeFingerprint(temp.path());
  std::vector<OriginalMediaVerificationProgress> seen;
  auto report = verify(session, [&](const OriginalMediaVerificationProgress& p) { seen.push_back(p); });
  ASSERT_TRUE(report.ok()) << report.error().message;
  EXPECT_EQ(treeFingerprint(temp.path()), before);
  EXPECT_TRUE(report->allVerified());
  EXPECT_EQ(report->meetingID, session.meeting.id);
  EXPECT_EQ(report->completedAt, clock.now());
  ASSERT_EQ(report->results.size(), 3u);
  for (size_t i = 0; i < 3; ++i) {
    const auto& result = report->results[i];
    EXPECT_EQ(result.segmentID, session.meeting.segments[i].id);
    EXPECT_EQ(result.file, session.meeting.segments[i].file);
    EXPECT_EQ(result.sourceID, "mic");
    EXPECT_EQ(result.actualBytes, result.expectedBytes);
    EXPECT_FALSE(result.detail);
    EXPECT_TRUE(isUuidString(result.id));
  }
  EXPECT_NE(report->results[0].id, report->results[1].id);

  const int64_t total = 3 * 1'048'576 + 2 * 17 + 5;
  ASSERT_FALSE(seen.empty());
  EXPECT_EQ(seen.front().bytesRead, 0);
  EXPECT_EQ(seen.front().totalFiles, 3);
  EXPECT_EQ(seen.front().totalBytes, total);
  EXPECT_EQ(seen.back().completedFiles, 3);
  EXPECT_EQ(seen.back().bytesRead, total);
  // Reads are at most 1 MiB, so the 2 MiB file alone reports three times while it is read.
  size_t firstFileReads = 0;
  for (const auto& p : seen)
    if (p.currentFile == session.meeting.segments[0].file && p.completedFiles == 0 && p.bytesRead > 0) ++firstFileReads;
  EXPECT_EQ(firstFileReads, 3u);
}

TEST_F(VerificationTest, MeetingWithoutSegmentsIsNeverAllVerified) {
  auto session = addMeeting(archive, clock, "Empty", {});
  auto report = verify(session);
  ASSERT_TRUE(report.ok());
  EXPECT_TRUE(report->results.empty());
  EXPECT_FALSE(report->allVerified());
}

TEST_F(VerificationTest, EachDamagedFileGetsItsOwnOutcome) {
  auto session = addMeeting(archive, clock, "Damaged",
                            {"fine", "deleted", "linked", "appended", "flipped", "folder", "fifo", "fine too"});
  const auto file = [&](size_t i) { return session.folder / session.meeting.segments[i].file; };
  fs::remove(file(1));
  writeText(temp / "copy.m4a", "linked");  // identical bytes, but reached through a link
  fs::remove(file(2));
  fs::create_symlink(temp / "copy.m4a", file(2));
  append(file(3), "!");
  writeText(file(4), "flippeD");
  fs::remove(file(5));
  fs::create_directory(file(5));
  fs::remove(file(6));
  ASSERT_EQ(::mkfifo(file(6).c_str(), 0644), 0);

  auto report = verify(session);
  ASSERT_TRUE(report.ok()) << report.error().message;
  EXPECT_EQ(outcomes(*report), (std::vector<Outcome>{Outcome::verified, Outcome::missing, Outcome::unsupported,
                                                     Outcome::sizeMismatch, Outcome::hashMismatch,
                                                     Outcome::unsupported, Outcome::unsupported, Outcome::verified}));
  const auto& r = report->results;
  EXPECT_EQ(r[1].detail, "The original file is missing.");
  EXPECT_FALSE(r[1].actualBytes);
  EXPECT_EQ(r[2].detail, "The original could not be opened as a regular file.");
  EXPECT_EQ(r[3].detail, "The file size differs from the saved byte count.");
  EXPECT_EQ(r[3].actualBytes, r[3].expectedBytes + 1);
  EXPECT_EQ(r[4].detail, "The file's SHA-256 differs from the saved checksum.");
  EXPECT_EQ(r[5].detail, "Only regular original files can be checked.");
  EXPECT_EQ(r[6].detail, "Only regular original files can be checked.");
  EXPECT_FALSE(report->allVerified());
}

TEST_F(VerificationTest, FileAppendedOrSwappedWhileReadIsReportedAsChanged) {
  auto session = addMeeting(archive, clock, "Busy", {megabytes(3, 'a'), megabytes(3, 'b'), "calm"});
  const fs::path appended = session.folder / session.meeting.segments[0].file;
  const fs::path swapped = session.folder / session.meeting.segments[1].file;
  writeText(temp / "impostor", megabytes(3, 'b'));  // same size and bytes: only identity tells
  bool appendedOnce = false, swappedOnce = false;
  auto report = verify(session, [&](const OriginalMediaVerificationProgress& p) {
    if (p.bytesRead == 0 || p.currentFile == std::nullopt) return;
    if (*p.currentFile == appended.filename() && !appendedOnce) {
      appendedOnce = true;
      append(appended, "more audio");
    }
    if (*p.currentFile == swapped.filename() && !swappedOnce && p.completedFiles == 1) {
      swappedOnce = true;
      fs::rename(temp / "impostor", swapped);
    }
  });
  ASSERT_TRUE(appendedOnce && swappedOnce);
  ASSERT_TRUE(report.ok()) << report.error().message;
  EXPECT_EQ(outcomes(*report), (std::vector<Outcome>{Outcome::changedDuringRead, Outcome::changedDuringRead,
                                                     Outcome::verified}));
  EXPECT_EQ(report->results[0].detail, "The file changed while checking.");
  EXPECT_EQ(report->results[0].actualBytes, report->results[0].expectedBytes + 10);
}

TEST_F(VerificationTest, ChangesNoticedAtTheEndEndTheVerification) {
  auto session = addMeeting(archive, clock, "Busy", {"first", "second"});
  const fs::path first = session.folder / session.meeting.segments[0].file;
  const auto afterFirstFile = [&](std::function<void()> change) {
    bool done = false;
    return [&, change, done](const OriginalMediaVerificationProgress& p) mutable {
      if (!done && p.completedFiles == 1) {
        done = true;
        change();
      }
    };
  };

  // A verified file replaced by an identical copy after it was read.
  auto report = verify(session, afterFirstFile([&] {
    writeText(temp / "copy", "first");
    fs::rename(temp / "copy", first);
  }));
  ASSERT_FALSE(report.ok());
  EXPECT_EQ(report.error().message, "The file changed while checking. Run verification again.");

  report = verify(session, afterFirstFile([&] {
    Meeting changed = session.meeting;
    changed.warnings.push_back("edited meanwhile");
    ASSERT_TRUE(archive.save(changed, session.folder).ok());
  }));
  ASSERT_FALSE(report.ok());
  EXPECT_EQ(report.error().message, "The original-file inventory changed while checking. Run verification again.");
  ASSERT_TRUE(archive.save(session.meeting, session.folder).ok());

  report = verify(session, afterFirstFile([&] { fs::rename(session.folder, temp / "moved"); }));
  ASSERT_FALSE(report.ok());
  EXPECT_EQ(report.error().message, "The meeting moved or changed while checking. Run verification again.");
}

TEST_F(VerificationTest, CancellationStopsBetweenReads) {
  auto session = addMeeting(archive, clock, "Long", {megabytes(3, 'a'), "b"});
  int reads = 0;
  std::vector<OriginalMediaVerificationProgress> seen;
  auto report = verify(
      session, [&](const OriginalMediaVerificationProgress& p) { seen.push_back(p); },
      [&]() -> Status {
        if (++reads > 2) return makeError(ErrorCode::Cancelled, "Cancelled.");
        return okStatus();
      });
  ASSERT_FALSE(report.ok());
  EXPECT_EQ(report.error().code, ErrorCode::Cancelled);
  EXPECT_EQ(seen.back().completedFiles, 0);
  EXPECT_LT(seen.back().bytesRead, 3 * 1'048'576);
}

TEST_F(VerificationTest, RefusesMeetingsItCannotTrust) {
  auto recording = addMeeting(archive, clock, "Live", {"x"}, SessionState::recording);
  expectRefusal(recording, "Originals can be verified after recording has finished.");
  auto paused = addMeeting(archive, clock, "Held", {"x"}, SessionState::paused);
  expectRefusal(paused, "Originals can be verified after recording has finished.");

  auto session = addMeeting(archive, clock, "Done", {"x"});
  constexpr const char* identity = "The meeting identity or archive format changed. Reopen the meeting before checking.";
  ArchivedSession shown = session;
  shown.meeting.id = "ANOTHER";
  expectRefusal(shown, identity);
  shown = session;
  shown.meeting.startedAt = session.meeting.startedAt.adding(1);
  expectRefusal(shown, identity);

  const fs::path manifest = session.folder / kManifestFileName;
  const std::string bytes = readText(manifest);
  for (const std::string& changed : {std::string("[]"), std::string("{not json"),
                                     // the same instant written with an offset is another format
                                     bytes.substr(0, bytes.find("Z\"", bytes.find("startedAt"))) + "+00:00\"" +
                                         bytes.substr(bytes.find("Z\"", bytes.find("startedAt")) + 2)}) {
    writeText(manifest, changed);
    expectRefusal(session, identity);
  }
  writeText(manifest, "");
  expectRefusal(session, "The meeting manifest has an invalid size.");
  fs::remove(manifest);
  expectRefusal(session, "The meeting manifest is not a regular file.");
  writeText(temp / "manifest.json", bytes);
  fs::create_symlink(temp / "manifest.json", manifest);
  expectRefusal(session, "The meeting manifest is not a regular file.");
  fs::remove(manifest);
  writeText(manifest, bytes);
  EXPECT_TRUE(verify(session).ok());
}

TEST_F(VerificationTest, ReachesTheFolderOnlyInsideTheArchiveWithoutLinks) {
  auto session = addMeeting(archive, clock, "Done", {"x"});
  ArchivedSession elsewhere = session;
  elsewhere.folder = temp / "Elsewhere";
  fs::create_directories(elsewhere.folder);
  expectRefusal(elsewhere, "The meeting must be in the local archive.");
  elsewhere.folder = root;
  expectRefusal(elsewhere, "The meeting must be in the local archive.");
  elsewhere.folder = session.folder / ".." / ".." / ".." / ".." / ".." / "Elsewhere";
  expectRefusal(elsewhere, "The meeting must be in the local archive.");

  // The real folder moved away and a link to it took its place.
  fs::rename(session.folder, temp / "moved");
  expectRefusal(session, "The meeting is no longer in the available archive.");
  fs::create_directory_symlink(temp / "moved", session.folder);
  expectRefusal(session, "The meeting directory could not be read safely.");
  fs::remove(session.folder);
  fs::rename(temp / "moved", session.folder);

  // A link higher up counts as much as one at the meeting folder.
  const fs::path day = session.folder.parent_path();
  fs::rename(day, temp / "day");
  fs::create_directory_symlink(temp / "day", day);
  expectRefusal(session, "The meeting directory could not be read safely.");

  OriginalMediaVerifier other(clock);
  auto missingRoot = other.verify(temp / "NoArchive" / "2026" / "X", temp / "NoArchive", session.meeting.id,
                                  session.meeting.startedAt);
  ASSERT_FALSE(missingRoot.ok());
  EXPECT_EQ(missingRoot.error().message, "The meeting is no longer in the available archive.");
}

TEST(OriginalMediaVerificationReportTest, EncodesWithTheRecordFieldNames) {
  OriginalMediaVerificationResult result{"ID", "segment-0", "mic", "mic-0.m4a", Outcome::sizeMismatch, 5, 6,
                                         "The file size differs from the saved byte count."};
  OriginalMediaVerificationReport report{"MEETING", Date::fromUnix(1772633700), {result}};
  EXPECT_EQ(encodeCompact(report.toJson()),
            "{\"completedAt\":\"2026-03-04T14:15:00Z\",\"meetingID\":\"MEETING\",\"results\":[{\"actualBytes\":6,"
            "\"detail\":\"The file size differs from the saved byte count.\",\"expectedBytes\":5,\"file\":"
            "\"mic-0.m4a\",\"id\":\"ID\",\"segmentID\":\"segment-0\",\"sourceID\":\"mic\",\"status\":"
            "\"sizeMismatch\"}]}");
  for (auto status : {Outcome::verified, Outcome::missing, Outcome::sizeMismatch, Outcome::hashMismatch,
                      Outcome::unreadable, Outcome::unsupported, Outcome::changedDuringRead})
    EXPECT_EQ(parseOriginalMediaVerificationStatus(toString(status)), status);
  EXPECT_FALSE(parseOriginalMediaVerificationStatus("fine"));
}

}  // namespace
}  // namespace korvel
