// The console on Windows: the folder source, the console window and the
// help switches.
#include "console.h"
#include "folder_picker.h"

#include <windows.h>
#include <objbase.h>
#include <shlobj.h>
#include <tlhelp32.h>

#include <cstdio>
#include <iostream>
#include <string>

#include "read_problem.h"
#include "log_file.h"

// The folder source: the shell's folder dialog, owned by the
// program's console window so that it opens in front of it and keeps it
// waiting. The console is found by giving it a known title first.

namespace {

constexpr char kConsoleTitle[] = "Morvane Console Window";

// The console window, found by its new title; null when it is not found
// (the dialog then opens without an owner).
HWND findConsoleWindow() {
    SetConsoleTitleA(kConsoleTitle);
    Sleep(40);  // lets the new title take effect before the search
    return FindWindowA(nullptr, kConsoleTitle);
}

// Why no dialog window can open here, in the system's words; empty when
// one can. A window is made and destroyed at once, never shown: without a
// desktop that can show windows (a service, no display) it cannot be made.
std::string whyNoDialogCanOpen() {
    HWND probe = CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr,
                                 GetModuleHandleA(nullptr), nullptr);
    if (probe == nullptr) {
        const DWORD error = GetLastError();
        return error != 0 ? systemReason(static_cast<long>(error)) : "no desktop to show it on";
    }
    DestroyWindow(probe);
    return std::string();
}

// The path meant by an answer typed at the console: blanks around it go,
// then one pair of surrounding double quotes, as a path pasted from
// Explorer's "Copy as path" has them.
std::string meantPath(const std::string& answer) {
    const std::size_t first = answer.find_first_not_of(" \t\r");
    if (first == std::string::npos) {
        return std::string();
    }
    std::string path = answer.substr(first, answer.find_last_not_of(" \t\r") - first + 1);
    if (path.size() >= 2 && path.front() == '"' && path.back() == '"') {
        path = path.substr(1, path.size() - 2);
    }
    return path;
}

bool isFolder(const std::string& path) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// The folder asked for at the console, when no dialog can open: asked
// again after an answer that is not a folder; an empty answer or the end
// of input cancels.
bool askAtTheConsole(std::string& path) {
    for (;;) {
        std::printf(" %s: ", kFolderPrompt);
        std::fflush(stdout);
        std::string answer;
        const bool answered = static_cast<bool>(std::getline(std::cin, answer));
        DWORD mode = 0;
        if (GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode) == 0) {
            std::printf("%s\n", shownText(answer).c_str());  // no echo of its own: show what was read
        } else if (!answered) {
            std::printf("\n");
        }
        answer = meantPath(answer);
        if (!answered || answer.empty()) {
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

}  // namespace

bool browseForFfFolder(std::string& path) {
    const std::string noDialog = whyNoDialogCanOpen();
    if (!noDialog.empty()) {
        std::printf(" The folder dialog cannot open (%s); asking on the console \n",
                    noDialog.c_str());
        return askAtTheConsole(path);
    }
    char displayName[MAX_PATH] = "";
    BROWSEINFOA settings{};
    settings.hwndOwner = findConsoleWindow();
    settings.pidlRoot = nullptr;  // browsing starts at the desktop
    settings.pszDisplayName = displayName;
    settings.lpszTitle = kFolderPrompt;
    settings.ulFlags = BIF_RETURNONLYFSDIRS;
    settings.lpfn = nullptr;
    settings.lParam = 0;
    settings.iImage = 0;

    // The shell's dialog works with COM, which must be set up on the thread
    // that shows it, in a single-threaded apartment.
    const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    if (FAILED(com)) {
        std::printf(" The folder dialog cannot open (%s); asking on the console \n",
                    systemReason(static_cast<long>(com)).c_str());
        return askAtTheConsole(path);
    }
    PIDLIST_ABSOLUTE chosen = SHBrowseForFolderA(&settings);
    char chosenPath[MAX_PATH] = "";
    bool converted = false;
    if (chosen != nullptr) {
        // A chosen item with no file-system path gives no folder to merge: it
        // is refused like a cancel rather than merged from an unset path.
        converted = SHGetPathFromIDListA(chosen, chosenPath) != FALSE && chosenPath[0] != '\0';
        CoTaskMemFree(chosen);
    }
    CoUninitialize();
    if (!converted) {
        std::printf("%s", kFolderCancelledMessage);
        return false;
    }
    path = chosenPath;
    return true;
}

// A console that lists this process alone was made for it. A
// command prompt that started the program shares its console with it, and
// a program without a console gets no list at all.
bool consoleClosesWithProgram() {
    DWORD processes[2];
    return GetConsoleProcessList(processes, 2) == 1;
}

namespace {

// The file name of the program that started this one; empty when the
// process list does not show it.
std::string parentProgramName() {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) {
        return std::string();
    }
    const DWORD self = GetCurrentProcessId();
    DWORD parent = 0;
    std::string parentName;
    PROCESSENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (int pass = 0; pass < 2; ++pass) {
        for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry)) {
            if (pass == 0 && entry.th32ProcessID == self) {
                parent = entry.th32ParentProcessID;
            } else if (pass == 1 && parent != 0 && entry.th32ProcessID == parent) {
                parentName = entry.szExeFile;
            }
        }
    }
    CloseHandle(snapshot);
    return parentName;
}

// A window station whose windows the user can see; a task that runs
// whether the user is logged on or not gets one that is not.
bool interactiveWindowStation() {
    USEROBJECTFLAGS flags{};
    DWORD needed = 0;
    return GetUserObjectInformationA(GetProcessWindowStation(), UOI_FLAGS, &flags, sizeof flags,
                                     &needed) != 0 &&
           (flags.dwFlags & WSF_VISIBLE) != 0;
}

}  // namespace

// Explorer's console and a scheduled task's can look alike: both are a
// visible console of the program's own with the keyboard as standard
// input. The program that started this one tells them apart: Explorer, or
// the Task Scheduler's service host. A start from another file manager or
// a launcher does not wait.
bool consoleOpenedByExplorer() {
    DWORD mode = 0;
    return consoleClosesWithProgram() && GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode) != 0 &&
           interactiveWindowStation() && lstrcmpiA(parentProgramName().c_str(), "explorer.exe") == 0;
}

// Help switches: --help, -h, and /? as Windows' own commands
// take it ('?' cannot stand in a Windows file name, so no folder is lost).
const char kHelpSwitchList[] = "--help, -h, /?";

bool isHelpSwitch(const std::string& argument) {
    return argument == "--help" || argument == "-h" || argument == "/?";
}
