#include "folder_listing.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "read_problem.h"

namespace {

// The C library's words for its last failure.
std::string lastError() {
    return std::strerror(errno != 0 ? errno : EIO);
}

// Says why a name that looks like a per-camera file was left out.
void reportUnlisted(const std::string& ffFolder, const UnlistedName& unlisted) {
    const std::string path = shownText(ffFolder + unlisted.name);
    switch (unlisted.why) {
    case NotListed::LineEnd:
        std::printf(" File %s has a line end in its name, which the listing cannot hold; not "
                    "merged \n",
                    path.c_str());
        break;
    case NotListed::PathTooLong:
        std::printf(" File %s cannot be opened: %s; not merged \n", path.c_str(),
                    unlisted.detail.c_str());
        break;
    case NotListed::CannotLookAt:
        std::printf(" File %s cannot be looked at (%s); not merged \n", path.c_str(),
                    unlisted.detail.c_str());
        break;
    }
}

// The names, one a line with CR LF, into a new temporary file of the
// folder, which then takes the listing's name. Empty, or the system's
// reason; `created` tells whether the temporary file could be made at all:
// where the folder takes no new file, it is the obstacle, not the listing.
std::string writeListingFile(const LogFolder& folder, const std::string& listingName,
                             const std::vector<std::string>& names, bool& created) {
    TemporaryFile listing;
    std::string reason;
    created = createTemporaryFile(folder, listingName, EarlierFile{}, TemporaryKind::Listing,
                                  listing, reason);
    if (!created) {
        return reason;
    }
    errno = 0;
    bool written = true;
    for (std::size_t i = 0; written && i < names.size(); ++i) {
        const std::string& name = names[i];
        written = std::fwrite(name.data(), 1, name.size(), listing.file) == name.size() &&
                  std::fwrite("\r\n", 1, 2, listing.file) == 2;
    }
    written = std::fflush(listing.file) == 0 && written;
    reason = written ? std::string() : lastError();
    if (std::fclose(listing.file) != 0 && reason.empty()) {
        reason = lastError();
    }
    if (reason.empty()) {
        replaceFile(folder, listing.name, listingName, reason);
    }
    if (!reason.empty()) {
        removeFileNow(folder.handle, folder.path.c_str(), listing.name.c_str());
    }
    forgetTemporaryFile(listing);
    return reason;
}

}  // namespace

ListingResult writeFolderListing(const HeldFolder& held, const std::string& listingName,
                                 std::vector<std::string>& names, long& namesLeftOut,
                                 LeftAlone& leftAlone) {
    const std::string shownFolder = shownText(held.path);
    std::fflush(stdout);  // the banner before whatever a listing command prints
    FolderNames found = listPerCameraFiles(held);
    if (!found.listed || !found.toItsEnd) {
        std::printf(" Cannot list folder %s%s (%s) \n", shownFolder.c_str(),
                    found.listed ? " to its end" : "", found.reason.c_str());
        return ListingResult::Refused;
    }
    for (const UnlistedName& unlisted : found.unlisted) {
        reportUnlisted(held.path, unlisted);
        ++namesLeftOut;
    }
    const LogFolder folder{held.handle, held.path};
    sweepTemporaryFiles(folder, listingName, leftAlone);
    bool created = false;
    const std::string reason = writeListingFile(folder, listingName, found.names, created);
    if (!created) {
        std::printf(" Cannot create the KELdetectinfo directory listing in folder %s (%s) \n",
                    shownFolder.c_str(), reason.c_str());
        return ListingResult::Unwritable;
    }
    if (!reason.empty()) {
        std::printf(" Cannot write KELdetectinfo directory listing file %s (%s) \n",
                    shownText(held.path + listingName).c_str(), reason.c_str());
        return ListingResult::Unwritable;
    }
    names = std::move(found.names);
    return ListingResult::Written;
}
