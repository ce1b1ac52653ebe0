#pragma once
// Keeping processing jobs' identities when a library of recordings is copied to a new location:
// before the copy is published, every copied meeting with pending processing is told where its
// jobs were first planned.

#include <filesystem>

#include "core/archive/archive.h"
#include "platform/result.h"

namespace korvel::ProcessingArchiveRelocation {

// Prepares the copy of the library at `legacyRoot` that sits under `staging` and is about to be
// published at `destinationRoot`. For each copied meeting with pending processing (request
// files, or tracks the planner would transcribe) it writes ".korvel-processing-location.json"
// with `directory` = the meeting's folder under `destinationRoot` and `identityDirectory` = the
// folder its jobs were first planned in (its folder under `legacyRoot`, or the identity an
// earlier move already recorded), and rewrites its request files the same way, so that
// enqueueing after the move yields the same job ids. A trashed meeting is prepared for the
// place it is restored to (its restoration path, or the archive's date-based default).
//
// Nothing is written unless the whole copy passes. Refusals (ErrorCode::InvalidInput unless
// said): "Processing relocation needs separate archive locations" (two roots the same), "The
// copied recording archive could not be read" (ErrorCode::Io), "The copied archive contains a
// symbolic link", "A meeting must have its own archive folder" (a manifest in the root or in a
// folder below another meeting), "A trashed meeting has an invalid archive location" (a Trash
// folder without a readable manifest of a valid meeting), "A trashed recording has an invalid
// restoration path", "A processing request belongs to a different recording location", and
// the relocation-metadata refusals of an identity file already in the copy. Request files
// that do not decode are left as they are; the planner reports them later. Running it again
// on a copy it already prepared changes nothing.
Status prepare(const Archive& staging, const std::filesystem::path& legacyRoot,
               const std::filesystem::path& destinationRoot);

}  // namespace korvel::ProcessingArchiveRelocation
