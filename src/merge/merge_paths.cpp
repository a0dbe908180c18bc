#include "merge_paths.h"

#include <cstdio>
#include <filesystem>
#include <string_view>
#include <system_error>

#include "detection_file_names.h"
#include "host.h"
#include "read_problem.h"

namespace {

const char kListingName[] = "MergeListing_KELdetectinfo.txt";

// The name of a folder given as "." or "..", or as a root, comes from
// where it really is, so the merged file is named for the folder.
std::string resolvedFolderName(const std::string& ffFolder, std::string finalComponent) {
    if (startsWithDriveLetter(finalComponent)) {
        finalComponent.erase(0, 2);
    }
    if (!finalComponent.empty() && finalComponent != "." && finalComponent != "..") {
        return finalComponent;
    }
    std::error_code error;
    std::filesystem::path real = std::filesystem::weakly_canonical(ffFolder, error);
    if (!error) {
        std::string name = real.filename().string();
        if (name.empty()) {
            name = real.parent_path().filename().string();
        }
        if (!name.empty() && name != "." && name != "..") {
            return name;
        }
    }
    // A root has no name of its own: take its drive letter, if any.
    const std::string root = error ? ffFolder.substr(0, 2) : real.root_name().string();
    if (startsWithDriveLetter(root)) {
        return root.substr(0, 1);
    }
    return finalComponent == "." || finalComponent == ".." ? std::string() : finalComponent;
}

}  // namespace

std::string ensureTrailingSeparator(const std::string& path) {
    if (!path.empty() && path.back() == kPathSeparator) {
        return path;
    }
    return path + kPathSeparator;
}

std::pair<std::string, std::string> splitAtLastSeparator(const std::string& path) {
    std::size_t last = path.rfind(kPathSeparator);
    if (last == std::string::npos) {
        return {std::string(), path};
    }
    return {path.substr(0, last), path.substr(last + 1)};
}

MergePaths deriveMergePaths(const std::string& folder) {
    MergePaths paths;
    paths.ffFolder = ensureTrailingSeparator(folder);

    // The CAL folder sits beside the FF folders under the station's HALD
    // folder. Without a HALD folder in the path there is no CAL folder to
    // name, and header line 6 is left empty rather than guessed.
    const std::string hald = std::string(1, kPathSeparator) + "HALD" + kPathSeparator;
    std::size_t at = paths.ffFolder.find(hald);
    if (at != std::string::npos) {
        paths.calFolder = paths.ffFolder.substr(0, at + hald.size() - 1) + kPathSeparator +
                          "Cal" + kPathSeparator;
    }

    paths.listingPath = paths.ffFolder + kListingName;
    std::string withoutSeparator = splitAtLastSeparator(paths.ffFolder).first;
    paths.folderName =
        resolvedFolderName(paths.ffFolder, splitAtLastSeparator(withoutSeparator).second);
    paths.mergedPath = paths.ffFolder + mergedFileName(paths.folderName);
    return paths;
}

namespace {

// Whether `path` holds a character that ends or splits a line for some
// reader of the merged file: a control character (bytes below 0x20, and
// 0x7F), or, in UTF-8, the next-line control (U+0085) or a line or
// paragraph separator (U+2028, U+2029), which readers that split lines as
// Unicode does take for line ends.
bool splitsALine(const std::string& path) {
    for (std::size_t at = 0; at < path.size(); ++at) {
        const auto byte = static_cast<unsigned char>(path[at]);
        const std::string_view rest(path.data() + at, path.size() - at);
        if (byte < 0x20 || byte == 0x7F || rest.starts_with("\xC2\x85") ||
            rest.starts_with("\xE2\x80\xA8") || rest.starts_with("\xE2\x80\xA9")) {
            return true;
        }
    }
    return false;
}

}  // namespace

bool fitsTheHeader(const MergePaths& paths) {
    const std::string shown = shownText(paths.ffFolder);
    if (paths.ffFolder.find_first_of("\r\n") != std::string::npos) {
        std::printf(" FF folder %s has a line end in its path, which the merged file's header "
                    "cannot hold \n",
                    shown.c_str());
        return false;
    }
    if (splitsALine(paths.ffFolder)) {
        std::printf(" FF folder %s has a control character or a line separator in its path, "
                    "which the merged file's header cannot hold \n",
                    shown.c_str());
        return false;
    }
    return true;
}

bool hostCanUse(const MergePaths& paths) {
    const PathRefusal refusal =
        hostRefusesRunPaths(paths.ffFolder, paths.listingPath, paths.mergedPath);
    const char* detail = refusal.detail.c_str();
    switch (refusal.kind) {
    case PathRefusal::Kind::None:
        return true;
    case PathRefusal::Kind::ListingPath:
        std::printf(" Cannot write KELdetectinfo directory listing file %s: %s \n",
                    shownText(paths.listingPath).c_str(), detail);
        break;
    case PathRefusal::Kind::MergedPath:
        std::printf(" Cannot create KEL detection log file %s: %s \n",
                    shownText(paths.mergedPath).c_str(), detail);
        break;
    case PathRefusal::Kind::Listing:
        std::printf(" Cannot list folder %s: %s \n", shownText(paths.ffFolder).c_str(), detail);
        break;
    case PathRefusal::Kind::Characters:
        std::printf(" FF folder %s holds characters that this program cannot use (shown as ?) \n",
                    shownText(paths.ffFolder).c_str());
        break;
    }
    return false;
}

bool namesAFolder(const std::string& typed, const std::string& ffFolder, const char*& reason) {
    std::error_code error;
    if (std::filesystem::is_directory(ffFolder, error)) {
        return true;
    }
    std::error_code typedError;
    const std::filesystem::file_status status = std::filesystem::status(typed, typedError);
    if (status.type() == std::filesystem::file_type::not_found) {
        std::printf(" FF folder %s does not exist \n", shownText(typed).c_str());
        reason = "does not exist";
    } else if (std::filesystem::exists(status)) {
        std::printf(" %s is not a folder \n", shownText(typed).c_str());
        reason = "not a folder";
    } else {
        reason = "cannot be looked at";
        std::printf(" FF folder %s cannot be looked at (%s) \n", shownText(typed).c_str(),
                    (error ? error : typedError).message().c_str());
    }
    return false;
}
