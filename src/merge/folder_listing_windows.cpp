// The listing on Windows: the command interpreter's bare directory listing
// of the per-camera files, redirected into the listing file; the run waits
// for it. Its success shows only in the listing file it leaves.

#include "folder_listing.h"

#include <cstdio>
#include <cstdlib>

ListingResult writeFolderListing(const std::string& ffFolder, const std::string& listingPath,
                                 long& /*namesLeftOut*/) {
    // The path rules have refused folders too long for the command
    // interpreter before the listing.
    const std::string pattern = ffFolder + "KELdetectinfo_*.txt";
    // A listing left by an earlier run must not pass for this run's when
    // the command interpreter cannot be started.
    std::remove(listingPath.c_str());

    const std::string command = "dir /b \"" + pattern + "\" > \"" + listingPath + "\"";
    std::fflush(stdout);  // the banner before whatever the command prints
    return std::system(command.c_str()) != -1 ? ListingResult::Written : ListingResult::NotWritten;
}
