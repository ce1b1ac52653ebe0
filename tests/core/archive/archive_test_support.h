#pragma once
// Archives in temporary folders for the archive tests: a pinned clock and zone, finished meetings.

#include <string>

#include "core/archive/archive.h"
#include "platform/clock.h"
#include "tests/support/result_matchers.h"
#include "tests/support/temp_dir.h"

namespace korvel::testing {

struct ArchiveSandbox {
  TempDir temp;
  ManualClock clock{Date::fromUnix(1772633700)};  // 2026-03-04T14:15:00Z
  Archive archive{temp / "Archive", clock, "Europe/Lisbon"};

  // A meeting with one microphone source, created in the archive and then set to `state`.
  std::filesystem::path addMeeting(const std::string& title, SessionState state = SessionState::finalized,
                                   double startedAt = 1772633700) {
    clock.set(Date::fromUnix(startedAt));
    Meeting meeting = Meeting::create(title, 1, {{"mic", "Mic", "microphone"}}, std::string("mic"), clock, "Europe/Lisbon");
    auto folder = valueOf(archive.create(meeting));
    meeting.state = state;
    requireOk(archive.save(meeting, folder));
    return folder;
  }
};

}  // namespace korvel::testing
