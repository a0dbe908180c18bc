// Lists the per-camera detection-info files of an FF folder into the
// listing file: bare names, one a line.
#pragma once

#include <string>

// Writes the listing of `ffFolder` (ending in a separator) to `listingPath`.
// False when no listing could be written; the run then reports the listing
// file as not generated.
bool writeFolderListing(const std::string& ffFolder, const std::string& listingPath);
