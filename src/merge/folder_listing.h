// The listing of an FF folder: the names of its per-camera files, found by
// the host (folder_files.h) and told where one cannot be listed, written
// one a line into MergeListing_KELdetectinfo.txt in the folder, aside
// under a temporary name of the run's own first and then renamed, so that
// a failure leaves the earlier listing or none, never a cut one, and
// nothing planted at the listing's name is opened or written through.
#pragma once

#include <string>
#include <vector>

#include "folder_files.h"
#include "temporary_file.h"

enum class ListingResult {
    Written,     // the listing file names the folder's per-camera files
    Refused,     // the folder could not be listed; a message has said why,
                 // and the run ends before the merged file is created
    Unwritable,  // the listing file could not be written; a message has said
                 // why, and the run ends, after a wait, before the merged
                 // file is touched
};

// Lists the per-camera files of the held folder into its file
// `listingName`, and gives their names, in the listing's order, in
// `names`: the run merges those, and never reads the listing back. Names
// that the listing cannot hold are left out, each with a message, and
// counted in `namesLeftOut`. Temporary listings that killed runs of this
// computer left go first; those of other runs that stay are noted in
// `leftAlone`.
ListingResult writeFolderListing(const HeldFolder& folder, const std::string& listingName,
                                 std::vector<std::string>& names, long& namesLeftOut,
                                 LeftAlone& leftAlone);
