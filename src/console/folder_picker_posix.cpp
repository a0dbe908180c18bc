// The folder source on POSIX hosts. In a graphical session with zenity on
// the PATH it is zenity's folder chooser; otherwise a prompt on the console
// that reads one path from standard input, where an empty line or the end
// of input cancels. A path that is not an existing folder is refused and
// the user is asked again.

#include "folder_picker.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <iostream>

extern char** environ;

namespace {

enum class Answer { Chosen, Cancelled, Unavailable };

constexpr char kCancelMessage[] = " ERROR getting FF files folder pathname \n";

bool isFolder(const std::string& path) {
    struct stat status {};
    return stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

bool isSet(const char* variable) {
    const char* value = std::getenv(variable);
    return value != nullptr && value[0] != '\0';
}

bool zenityOnPath() {
    const char* pathVariable = std::getenv("PATH");
    std::string folders = pathVariable != nullptr ? pathVariable : "";
    std::size_t start = 0;
    for (;;) {
        std::size_t end = folders.find(':', start);
        std::string folder = folders.substr(start, end - start);
        std::string candidate = (folder.empty() ? std::string(".") : folder) + "/zenity";
        if (access(candidate.c_str(), X_OK) == 0 && !isFolder(candidate)) {
            return true;
        }
        if (end == std::string::npos) {
            return false;
        }
        start = end + 1;
    }
}

// One question to zenity's folder chooser. Its standard input is the null
// device, so the run's own input stays untouched for its keyboard waits.
Answer askZenity(std::string& answer) {
    int fromZenity[2];
    if (pipe(fromZenity) != 0) {
        return Answer::Unavailable;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, fromZenity[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, fromZenity[0]);
    posix_spawn_file_actions_addclose(&actions, fromZenity[1]);
    std::string title = std::string("--title=") + kFolderPrompt;
    char* arguments[] = {const_cast<char*>("zenity"), const_cast<char*>("--file-selection"),
                         const_cast<char*>("--directory"), title.data(), nullptr};
    pid_t child = 0;
    int spawned = posix_spawnp(&child, "zenity", &actions, nullptr, arguments, environ);
    posix_spawn_file_actions_destroy(&actions);
    close(fromZenity[1]);
    if (spawned != 0) {
        close(fromZenity[0]);
        return Answer::Unavailable;
    }
    answer.clear();
    char chunk[512];
    ssize_t n = 0;
    while ((n = read(fromZenity[0], chunk, sizeof chunk)) > 0) {
        answer.append(chunk, static_cast<std::size_t>(n));
    }
    close(fromZenity[0]);
    int status = 0;
    pid_t waited = 0;
    do {
        waited = waitpid(child, &status, 0);
    } while (waited < 0 && errno == EINTR);
    if (waited < 0) {
        std::printf(" zenity's folder chooser was lost; asking on the console \n");
        return Answer::Unavailable;
    }
    if (!answer.empty() && answer.back() == '\n') {
        answer.pop_back();
    }
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0) {
        return Answer::Chosen;
    }
    if (WIFEXITED(status) && WEXITSTATUS(status) == 1) {
        return Answer::Cancelled;  // Cancel pressed, or the window closed
    }
    std::printf(" zenity's folder chooser failed (%s %d); asking on the console \n",
                WIFEXITED(status) ? "exit status" : "signal",
                WIFEXITED(status) ? WEXITSTATUS(status) : WTERMSIG(status));
    return Answer::Unavailable;
}

// One question on the console. An empty line or the end of input cancels.
Answer askConsole(std::string& answer) {
    std::printf(" %s: ", kFolderPrompt);
    std::fflush(stdout);
    bool answered = static_cast<bool>(std::getline(std::cin, answer));
    if (!isatty(STDIN_FILENO)) {
        std::printf("%s\n", answer.c_str());  // no echo of its own: show what was read
    } else if (!answered) {
        std::printf("\n");
    }
    return answered && !answer.empty() ? Answer::Chosen : Answer::Cancelled;
}

}  // namespace

bool browseForFfFolder(std::string& path) {
    bool graphical = (isSet("DISPLAY") || isSet("WAYLAND_DISPLAY")) && zenityOnPath();
    for (;;) {
        std::string answer;
        Answer result = graphical ? askZenity(answer) : askConsole(answer);
        if (result == Answer::Unavailable) {
            graphical = false;
            continue;
        }
        if (result == Answer::Cancelled) {
            std::printf("%s", kCancelMessage);
            return false;
        }
        if (isFolder(answer)) {
            path = answer;
            return true;
        }
        std::printf(" %s is not a folder \n", answer.c_str());
    }
}
