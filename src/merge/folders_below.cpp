#include "folders_below.h"

#include <filesystem>
#include <system_error>

#include "detection_file_names.h"

namespace {

constexpr auto kSkipUnreadable = std::filesystem::directory_options::skip_permission_denied;

bool holdsPerCameraFile(const std::filesystem::path& folder) {
    std::error_code error;
    std::filesystem::directory_iterator entries(folder, kSkipUnreadable, error);
    for (; !error && entries != std::filesystem::directory_iterator(); entries.increment(error)) {
        const std::string name = entries->path().filename().string();
        int camera = 0;
        if (isDetectionInfoName(name) && cameraNumberOf(name, camera) && camera != 0) {
            return true;
        }
    }
    return false;
}

}  // namespace

long foldersWithPerCameraFiles(const std::string& ffFolder) {
    long count = 0;
    std::error_code error;
    std::filesystem::directory_iterator entries(ffFolder, kSkipUnreadable, error);
    for (; !error && entries != std::filesystem::directory_iterator(); entries.increment(error)) {
        std::error_code kindError;
        if (entries->is_directory(kindError) && holdsPerCameraFile(entries->path())) {
            ++count;
        }
    }
    return count;
}
