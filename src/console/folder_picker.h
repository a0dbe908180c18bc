// The folder source of a run whose command line does not name the FF
// folder: the user chooses one file-system folder.
#pragma once

#include <string>

inline constexpr char kFolderPrompt[] = "Navigate to and select the FF Folder";

// What a folder source prints when no folder was chosen.
inline constexpr char kFolderCancelledMessage[] = " ERROR getting FF files folder pathname \n";

// Fills `path` with the chosen folder and returns true; after a cancel it
// prints kFolderCancelledMessage and returns false.
bool browseForFfFolder(std::string& path);
