// How a run ends after a failure, once its files are in use: what it says,
// what it leaves, and the wait for the user.
#pragma once

#include <string>

#include "run.h"

enum class Wait { ForCharacter, ForNumber };

// Lets the next run have the folder: the listing is closed, then the lock
// let go.
void leaveFolder(Run& run);

// Ends a run whose failure has been reported: the new merged file goes,
// the folder is left to the next run, and the user is told what ends the
// wait and waited for. Status 1.
StepResult endAfterFailure(Run& run, Wait wait);

// The merged file could not be written, flushed, closed or renamed.
StepResult endAfterWriteFailure(Run& run);

// The new merged file has its name, but its folder could not be flushed.
StepResult endAfterFolderNotFlushed(Run& run);

// A listed per-camera file could not be opened; `error` is its errno.
StepResult endAfterOpenFailure(Run& run, const std::string& path, int error);
