// The folder source on Windows: the shell's folder dialog, owned by the
// program's console window so that it opens in front of it and keeps it
// waiting. The console is found by giving it a known title first.

#include "folder_picker.h"

#include <windows.h>
#include <shlobj.h>

#include <cstdio>

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

    PIDLIST_ABSOLUTE chosen = SHBrowseForFolderA(&settings);
    if (chosen == nullptr) {
        std::printf(" ERROR getting FF files folder pathname \n");
        return false;
    }
    // A chosen item with no file-system path gives no folder to merge: it is
    // refused like a cancel rather than merged from an unset path.
    char chosenPath[MAX_PATH] = "";
    bool converted = SHGetPathFromIDListA(chosen, chosenPath) != FALSE && chosenPath[0] != '\0';
    CoTaskMemFree(chosen);
    if (!converted) {
        std::printf(" ERROR getting FF files folder pathname \n");
        return false;
    }
    path = chosenPath;
    return true;
}
