// The checks an FF folder must pass before a run writes anything into it.
#pragma once

#include <string>

#include "merge_paths.h"

// False, after a message, when the folder path has a line end in it,
// which would break header line 5 in two.
bool fitsTheHeader(const MergePaths& paths);

// Whether the folder given as `typed` is an existing folder, looked at as
// the run will use it (`ffFolder`, ending in a separator, so that a drive
// letter alone names its drive); false after a message that says what the
// path as typed names instead.
bool namesAFolder(const std::string& typed, const std::string& ffFolder);
