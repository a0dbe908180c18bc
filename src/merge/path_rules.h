// The host's path rules: the separator that the folder rules of a run use,
// and how a typed folder path is brought to the host's own form.
#pragma once

#include <string>

extern const char kPathSeparator;

// The form of a folder path, as given on the command line, that the path
// rules work on.
std::string nativeFolderPath(const std::string& typed);
