// The folder source of a run whose command line does not name the FF
// folder: the user chooses one file-system folder.
#pragma once

#include <string>

inline constexpr char kFolderPrompt[] = "Navigate to and select the FF Folder";

// Fills `path` with the chosen folder and returns true; after a cancel it
// prints " ERROR getting FF files folder pathname " and returns false.
bool browseForFfFolder(std::string& path);
