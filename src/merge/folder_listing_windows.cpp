// The listing on Windows: the command interpreter's bare directory listing
// of the per-camera files, redirected into the listing file; the run waits
// for it. Its success shows only in the listing file it leaves.

#include "folder_listing.h"

#include <cstdio>
#include <cstdlib>

namespace {

// The longest path, terminator aside, that the command interpreter's dir
// command and its redirection accept. A longer pattern is not refused by
// it: the listing would name the files of some other folder, or none.
constexpr std::size_t kLongestCommandPath = 259;

}  // namespace

ListingResult writeFolderListing(const std::string& ffFolder, const std::string& listingPath,
                                 long& /*namesLeftOut*/) {
    const std::string pattern = ffFolder + "KELdetectinfo_*.txt";
    if (pattern.size() > kLongestCommandPath || listingPath.size() > kLongestCommandPath) {
        std::printf(" Cannot list folder %s: the command interpreter takes paths of at most %d "
                    "characters \n",
                    ffFolder.c_str(), static_cast<int>(kLongestCommandPath));
        return ListingResult::NotWritten;
    }
    // A listing left by an earlier run must not pass for this run's when
    // the command interpreter cannot be started.
    std::remove(listingPath.c_str());

    const std::string command = "dir /b \"" + pattern + "\" > \"" + listingPath + "\"";
    std::fflush(stdout);  // the banner before whatever the command prints
    return std::system(command.c_str()) != -1 ? ListingResult::Written : ListingResult::NotWritten;
}
