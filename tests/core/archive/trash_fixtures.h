#pragma once
// Real archives with finished meetings and real media files, for the trash, restore and
// verification tests.

#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/archive/archive.h"
#include "core/archive/meeting.h"
#include "platform/clock.h"
#include "platform/crypto.h"
#include "tests/support/result_matchers.h"
#include "tests/support/temp_dir.h"

namespace korvel::testing {

// A meeting folder made the way the recorder makes one: created, media committed, finished.
inline ArchivedSession addMeeting(const Archive& archive, ManualClock& clock, const std::string& title,
                                  const std::vector<std::string>& media,
                                  SessionState state = SessionState::finalized) {
  clock.advance(3600);  // each meeting its own start, so listings have an order
  Meeting meeting = Meeting::create(title, 100, {Source{"mic", "Built-in Microphone", "microphone"}}, "mic",
                                    clock, archive.timeZone());
  const std::filesystem::path folder = valueOf(archive.create(meeting));
  for (size_t i = 0; i < media.size(); ++i) {
    Segment segment;
    segment.id = "segment-" + std::to_string(i);
    segment.sourceID = "mic";
    segment.file = "mic-" + std::to_string(i) + ".m4a";
    segment.start = 30.0 * static_cast<double>(i);
    segment.duration = 30;
    segment.bytes = static_cast<int64_t>(media[i].size());
    segment.sha256 = sha256Hex(media[i]);
    writeText(folder / segment.file, media[i]);
    meeting.segments.push_back(segment);
  }
  meeting.state = state;
  requireOk(archive.save(meeting, folder));
  return {folder, meeting};
}

// An archive under a fresh temporary folder, filed by UTC days.
struct ArchiveFixture : ::testing::Test {
  TempDir temp;
  ManualClock clock;
  std::filesystem::path root = temp / "Archive";
  Archive archive{root, clock, "UTC"};

  void SetUp() override { std::filesystem::create_directories(root); }
};

}  // namespace korvel::testing
