#include "folder_checks.h"

#include <cstdio>
#include <filesystem>
#include <system_error>

#include "shown_text.h"

bool fitsTheHeader(const MergePaths& paths) {
    if (paths.ffFolder.find_first_of("\r\n") == std::string::npos) {
        return true;
    }
    std::printf(" FF folder %s has a line end in its path, which the merged file's header "
                "cannot hold \n",
                shownText(paths.ffFolder).c_str());
    return false;
}

bool namesAFolder(const std::string& typed, const std::string& ffFolder) {
    std::error_code error;
    if (std::filesystem::is_directory(ffFolder, error)) {
        return true;
    }
    std::error_code typedError;
    const std::filesystem::file_status status = std::filesystem::status(typed, typedError);
    if (status.type() == std::filesystem::file_type::not_found) {
        std::printf(" FF folder %s does not exist \n", shownText(typed).c_str());
    } else if (std::filesystem::exists(status)) {
        std::printf(" %s is not a folder \n", shownText(typed).c_str());
    } else {
        std::printf(" FF folder %s cannot be looked at (%s) \n", shownText(typed).c_str(),
                    (error ? error : typedError).message().c_str());
    }
    return false;
}
