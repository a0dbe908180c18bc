// The listing on Windows: the command interpreter's bare directory listing
// of the per-camera files, redirected into the listing file; the run waits
// for it. Its success shows only in the listing file it leaves.

#include "folder_listing.h"

#include <cstdlib>

bool writeFolderListing(const std::string& ffFolder, const std::string& listingPath) {
    std::string command =
        "dir /b \"" + ffFolder + "KELdetectinfo_*.txt\" > \"" + listingPath + "\"";
    std::system(command.c_str());
    return true;
}
