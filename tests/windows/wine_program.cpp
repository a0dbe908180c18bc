#include "wine_program.h"

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <stdexcept>

#include "test_files.h"

std::string windowsPath(const std::string& posixPath) {
    std::string path = "Z:" + posixPath;
    for (char& c : path) {
        if (c == '/') {
            c = '\\';
        }
    }
    return path;
}

RunOptions underWine(const RunOptions& options) {
    RunOptions wineOptions = options;
    // Wine reads this machine's file names in the character set of the
    // locale. A desktop session has a UTF-8 locale; a bare environment (a
    // fresh container, env -i) has none, and Wine would then take the two
    // bytes of a Cyrillic letter in a name for two Latin characters.
    wineOptions.environment.insert(wineOptions.environment.begin(),
                                   {"WINEPREFIX=" KEL_WINE_PREFIX, "WINEDEBUG=-all", "DISPLAY=",
                                    "WAYLAND_DISPLAY=", "LC_ALL=C.UTF-8"});
    return wineOptions;
}

StartedProgram startWindowsProgram(const std::vector<std::string>& arguments,
                                   const RunOptions& options) {
    std::vector<std::string> wineArguments{KEL_WINDOWS_PROGRAM};
    wineArguments.insert(wineArguments.end(), arguments.begin(), arguments.end());
    return startProgram(KEL_WINE, wineArguments, underWine(options));
}

RunResult runWindowsProgram(const std::vector<std::string>& arguments, const RunOptions& options) {
    StartedProgram started = startWindowsProgram(arguments, options);
    sendInput(started, options.input);
    RunResult result = finishProgram(started);
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

RunOptions options(const std::string& input, const std::string& workingFolder) {
    RunOptions result;
    result.input = input;
    result.workingFolder = workingFolder;
    return result;
}

void copyExample(const std::string& to) {
    makeFolders(to);
    for (const auto& entry : std::filesystem::directory_iterator(KEL_EXAMPLE_FOLDER)) {
        std::filesystem::copy_file(entry.path(), to + "/" + entry.path().filename().string());
    }
}

std::vector<std::string> namesIn(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::string line(const std::string& text, int number) {
    std::size_t start = 0;
    for (int i = 1; i < number; ++i) {
        start = text.find('\n', start) + 1;
    }
    std::size_t end = text.find("\r\n", start);
    return text.substr(start, end - start);
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
