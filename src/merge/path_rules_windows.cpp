// Paths on Windows: '\' separates, and a path typed with '/' works as if
// typed with '\'.
#include "path_rules.h"

#include <algorithm>

const char kPathSeparator = '\\';

std::string nativeFolderPath(const std::string& typed) {
    std::string path = typed;
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}
