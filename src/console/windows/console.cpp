// The console on Windows: the folder source, the console window and the
// help switches.
#include "console.h"
#include "folder_picker.h"

#include <windows.h>
#include <objbase.h>
#include <shlobj.h>

#include <cstdio>

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

}  // namespace

bool browseForFfFolder(std::string& path) {
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
    // that shows it, in a single-threaded apartment. Should that fail, the
    // dialog is tried all the same: a dialog that cannot open then shows as
    // one that gave no folder.
    const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    PIDLIST_ABSOLUTE chosen = SHBrowseForFolderA(&settings);
    char chosenPath[MAX_PATH] = "";
    bool converted = false;
    if (chosen != nullptr) {
        // A chosen item with no file-system path gives no folder to merge: it
        // is refused like a cancel rather than merged from an unset path.
        converted = SHGetPathFromIDListA(chosen, chosenPath) != FALSE && chosenPath[0] != '\0';
        CoTaskMemFree(chosen);
    }
    if (SUCCEEDED(com)) {
        CoUninitialize();
    }
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

// Help switches: --help, -h, and /? as Windows' own commands
// take it ('?' cannot stand in a Windows file name, so no folder is lost).
const char kHelpSwitchList[] = "--help, -h, /?";

bool isHelpSwitch(const std::string& argument) {
    return argument == "--help" || argument == "-h" || argument == "/?";
}
