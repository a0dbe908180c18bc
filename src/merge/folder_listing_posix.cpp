// The listing on POSIX hosts, written by the program itself in the order a
// Windows folder lists its files: the regular files (links followed) whose
// names begin with "KELdetectinfo_" and end with ".txt", letter case aside,
// sorted by name with a-z taken as A-Z, ties by plain byte order.

#include "folder_listing.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <string_view>
#include <vector>

namespace {

char upper(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(),
                      [](char x, char y) { return upper(x) == upper(y); });
}

bool isDetectionInfoName(std::string_view name) {
    constexpr std::string_view kPrefix = "KELdetectinfo_";
    constexpr std::string_view kSuffix = ".txt";
    return name.size() >= kPrefix.size() + kSuffix.size() &&
           equalsIgnoringCase(name.substr(0, kPrefix.size()), kPrefix) &&
           equalsIgnoringCase(name.substr(name.size() - kSuffix.size()), kSuffix);
}

// Case-folded byte order first, plain byte order between names that
// differ only in letter case.
bool listedBefore(const std::string& a, const std::string& b) {
    std::size_t common = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < common; ++i) {
        auto x = static_cast<unsigned char>(upper(a[i]));
        auto y = static_cast<unsigned char>(upper(b[i]));
        if (x != y) {
            return x < y;
        }
    }
    if (a.size() != b.size()) {
        return a.size() < b.size();
    }
    return a < b;
}

}  // namespace

bool writeFolderListing(const std::string& ffFolder, const std::string& listingPath) {
    DIR* folder = opendir(ffFolder.c_str());
    if (folder == nullptr) {
        return false;
    }
    std::vector<std::string> names;
    while (const dirent* entry = readdir(folder)) {
        std::string_view name = entry->d_name;
        struct stat status {};
        if (isDetectionInfoName(name) && stat((ffFolder + entry->d_name).c_str(), &status) == 0 &&
            S_ISREG(status.st_mode)) {
            names.emplace_back(name);
        }
    }
    closedir(folder);
    std::sort(names.begin(), names.end(), listedBefore);

    std::FILE* listing = std::fopen(listingPath.c_str(), "wb");
    if (listing == nullptr) {
        return false;
    }
    bool written = true;
    for (const std::string& name : names) {
        written = written && std::fwrite(name.data(), 1, name.size(), listing) == name.size() &&
                  std::fwrite("\r\n", 1, 2, listing) == 2;
    }
    return std::fclose(listing) == 0 && written;
}
