// The console on POSIX hosts: the folder source, the console window and the
// help switches.
#include "console.h"
#include "folder_picker.h"
#include "read_problem.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <iostream>

#include <editline/readline.h>

// The folder source. In a graphical session with zenity on
// the PATH it is zenity's folder chooser; otherwise a prompt on the console
// that reads one path from standard input, where an empty line or the end
// of input cancels. In a terminal the prompt's line is edited with libedit:
// the arrow keys move in it, and Tab completes folder names. A path that is not an existing folder is refused and
// the user is asked again.
extern char** environ;

namespace {

enum class Answer { Chosen, Cancelled, Unavailable };

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

// Reads zenity's standard output and standard error to their ends, both at
// once, so that neither pipe can fill and stall it.
void readBoth(int outFd, int errFd, std::string& out, std::string& err) {
    pollfd fds[2] = {{outFd, POLLIN, 0}, {errFd, POLLIN, 0}};
    std::string* targets[2] = {&out, &err};
    int open = 2;
    while (open > 0) {
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            return;
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0) {
                continue;
            }
            char chunk[512];
            ssize_t n = read(fds[i].fd, chunk, sizeof chunk);
            if (n > 0) {
                targets[i]->append(chunk, static_cast<std::size_t>(n));
            } else if (n == 0 || errno != EINTR) {
                fds[i].fd = -1;
                --open;
            }
        }
    }
}

// GTK's words when it cannot reach the display: zenity then exits with
// status 1, as it does for Cancel.
bool couldNotOpenDisplay(const std::string& zenityErrors) {
    return zenityErrors.find("cannot open display") != std::string::npos;
}

// Starts zenity's folder chooser with its standard output and standard
// error on pipes, whose reading ends `output` and `errors` get. Its
// standard input is the null device, so the run's own input stays
// untouched for its keyboard waits. False when it could not be started.
bool startZenity(pid_t& child, int& output, int& errors) {
    int fromZenity[2];
    int errorsOfZenity[2];
    if (pipe(fromZenity) != 0) {
        return false;
    }
    if (pipe(errorsOfZenity) != 0) {
        close(fromZenity[0]);
        close(fromZenity[1]);
        return false;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, fromZenity[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, errorsOfZenity[1], STDERR_FILENO);
    for (int fd : {fromZenity[0], fromZenity[1], errorsOfZenity[0], errorsOfZenity[1]}) {
        posix_spawn_file_actions_addclose(&actions, fd);
    }
    // The signals this program ignores for itself are zenity's own again.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t ignoredHere;
    sigemptyset(&ignoredHere);
    sigaddset(&ignoredHere, SIGPIPE);
    sigaddset(&ignoredHere, SIGXFSZ);
    posix_spawnattr_setsigdefault(&attributes, &ignoredHere);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
    std::string title = std::string("--title=") + kFolderPrompt;
    char* arguments[] = {const_cast<char*>("zenity"), const_cast<char*>("--file-selection"),
                         const_cast<char*>("--directory"), title.data(), nullptr};
    const int spawned = posix_spawnp(&child, "zenity", &actions, &attributes, arguments, environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    close(fromZenity[1]);
    close(errorsOfZenity[1]);
    if (spawned != 0) {
        close(fromZenity[0]);
        close(errorsOfZenity[0]);
        return false;
    }
    output = fromZenity[0];
    errors = errorsOfZenity[0];
    return true;
}

// What zenity's exit status and its words on standard error say of the
// question.
Answer zenityAnswer(int status, const std::string& errors) {
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0) {
        return Answer::Chosen;
    }
    if (WIFEXITED(status) && WEXITSTATUS(status) == 1 && couldNotOpenDisplay(errors)) {
        std::printf(" zenity's folder chooser cannot reach the display; asking on the console \n");
        return Answer::Unavailable;
    }
    if (WIFEXITED(status) && WEXITSTATUS(status) == 1) {
        return Answer::Cancelled;  // Cancel pressed, or the window closed
    }
    std::printf(" zenity's folder chooser failed (%s %d); asking on the console \n",
                WIFEXITED(status) ? "exit status" : "signal",
                WIFEXITED(status) ? WEXITSTATUS(status) : WTERMSIG(status));
    return Answer::Unavailable;
}

// One question to zenity's folder chooser. What it writes to standard
// error is passed on after it has ended.
Answer askZenity(std::string& answer) {
    pid_t child = 0;
    int output = -1;
    int errorOutput = -1;
    if (!startZenity(child, output, errorOutput)) {
        return Answer::Unavailable;
    }
    answer.clear();
    std::string errors;
    readBoth(output, errorOutput, answer, errors);
    close(output);
    close(errorOutput);
    std::fwrite(errors.data(), 1, errors.size(), stderr);
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
    return zenityAnswer(status, errors);
}

// A path typed as in a shell: "~" alone or a leading "~/" stands for the
// home folder.
std::string withHomeFolder(const std::string& path) {
    const char* home = std::getenv("HOME");
    if ((path == "~" || path.rfind("~/", 0) == 0) && home != nullptr && home[0] != '\0') {
        return home + path.substr(1);
    }
    return path;
}

// The path meant by an answer at the prompt. A path dropped into a
// terminal arrives quoted and followed by a blank, and a path typed as in a
// shell may begin with ~/: blanks around the answer go, then one pair of
// surrounding single or double quotes, and "~" alone or a leading "~/"
// stands for the home folder. Everything else is taken as it stands.
std::string meantPath(const std::string& answer) {
    const std::size_t first = answer.find_first_not_of(" \t\r");
    if (first == std::string::npos) {
        return std::string();
    }
    std::string path = answer.substr(first, answer.find_last_not_of(" \t\r") - first + 1);
    if (path.size() >= 2 && (path.front() == '\'' || path.front() == '"') &&
        path.back() == path.front()) {
        path = path.substr(1, path.size() - 2);
    }
    return withHomeFolder(path);
}

// Names matching the start of the line typed so far, folders only, for
// Tab; libedit puts a '/' after a folder it completes.
char* folderNameCompletion(const char* text, int state) {
    for (;;) {
        char* match = rl_filename_completion_function(text, state);
        state = 1;  // the next name of the same completion
        if (match == nullptr || isFolder(withHomeFolder(match))) {
            return match;
        }
        std::free(match);
    }
}

// Reads the answer with libedit's line editing. False at the end of input.
bool readEditedLine(std::string& answer) {
    static bool prepared = false;
    if (!prepared) {
        rl_readline_name = "kel_combine_detectinfo";
        rl_completion_entry_function = folderNameCompletion;
        rl_basic_word_break_characters = "\n";  // the whole line is one path, blanks and all
        rl_completion_append_character = '/';  // every name completed is a folder
        prepared = true;
    }
    const std::string prompt = std::string(" ") + kFolderPrompt + ": ";
    std::fflush(stdout);
    char* line = readline(prompt.c_str());
    if (line == nullptr) {
        return false;
    }
    answer = line;
    std::free(line);
    return true;
}

// One question on the console. An empty answer or the end of input cancels.
Answer askConsole(std::string& answer) {
    if (isatty(STDIN_FILENO) && isatty(STDOUT_FILENO)) {
        const bool answered = readEditedLine(answer);
        if (!answered) {
            std::printf("\n");
        }
        answer = meantPath(answer);
        return answered && !answer.empty() ? Answer::Chosen : Answer::Cancelled;
    }
    std::printf(" %s: ", kFolderPrompt);
    std::fflush(stdout);
    bool answered = static_cast<bool>(std::getline(std::cin, answer));
    if (!isatty(STDIN_FILENO)) {
        std::printf("%s\n", shownText(answer).c_str());  // no echo of its own: show what was read
    } else if (!answered) {
        std::printf("\n");
    }
    answer = meantPath(answer);
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
            std::printf("%s", kFolderCancelledMessage);
            return false;
        }
        if (isFolder(answer)) {
            path = answer;
            return true;
        }
        std::printf(" %s is not a folder \n", shownText(answer).c_str());
    }
}

// The program runs in a terminal or without one, which it
// never closes.
bool consoleClosesWithProgram() {
    return false;
}

// No file manager here opens a window that closes with the program.
bool consoleOpenedByExplorer() {
    return false;
}

// Help switches: --help and -h. "/?" is a path here.
const char kHelpSwitchList[] = "--help, -h";

bool isHelpSwitch(const std::string& argument) {
    return argument == "--help" || argument == "-h";
}
