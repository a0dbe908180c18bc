#include "wine_program.h"

#include <unistd.h>

#include <stdexcept>

std::string windowsPath(const std::string& posixPath) {
    std::string path = "Z:" + posixPath;
    for (char& c : path) {
        if (c == '/') {
            c = '\\';
        }
    }
    return path;
}

RunResult runWindowsProgram(const std::vector<std::string>& arguments, const RunOptions& options) {
    std::vector<std::string> wineArguments{KEL_WINDOWS_PROGRAM};
    wineArguments.insert(wineArguments.end(), arguments.begin(), arguments.end());
    RunOptions wineOptions = options;
    wineOptions.environment.insert(wineOptions.environment.begin(),
                                   {"WINEPREFIX=" KEL_WINE_PREFIX, "WINEDEBUG=-all", "DISPLAY=",
                                    "WAYLAND_DISPLAY="});
    RunResult result = runProgram(KEL_WINE, wineArguments, wineOptions);
    std::string output;
    for (std::size_t i = 0; i < result.output.size(); ++i) {
        if (!(result.output[i] == '\r' && i + 1 < result.output.size() &&
              result.output[i + 1] == '\n')) {
            output += result.output[i];
        }
    }
    result.output = output;
    return result;
}

WineDrive::WineDrive(char letter, const std::string& folder)
    : link(std::string(KEL_WINE_PREFIX) + "/dosdevices/" + letter + ":") {
    unlink(link.c_str());
    if (symlink(folder.c_str(), link.c_str()) != 0) {
        throw std::runtime_error("cannot map Wine drive " + link);
    }
}

WineDrive::~WineDrive() {
    unlink(link.c_str());
}
