// Lists the per-camera detection-info files of an FF folder into the
// listing file: bare names, one a line.
#pragma once

#include <string>

enum class ListingResult {
    Written,     // the listing file names the folder's per-camera files
    NotWritten,  // no listing came of it; the run reports the listing file
                 // as not found once it has created the merged file
    Refused,     // the folder could not be listed; a message has said why,
                 // and the run ends before the merged file is created
    Unwritable,  // the listing file could not be written; a message has said
                 // why, and the run ends, after a wait, before the merged
                 // file is touched
};

// Writes the listing of `ffFolder` (ending in a separator) to `listingPath`.
// Names that the listing cannot hold are left out, each with a message,
// and counted in `namesLeftOut`.
ListingResult writeFolderListing(const std::string& ffFolder, const std::string& listingPath,
                                 long& namesLeftOut);

// Brings a name read from the listing, line end removed, to the form the
// host opens files by. False, after a message naming the file, when the
// host cannot open the file by that name; it is then not merged.
bool listedNameForHost(const std::string& ffFolder, std::string& name);
