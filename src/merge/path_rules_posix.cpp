// Paths on POSIX hosts: '/' separates, a typed path is used unchanged, and
// every path the system takes is taken here too.
#include "path_rules.h"

const char kPathSeparator = '/';

std::string nativeFolderPath(const std::string& typed) {
    return typed;
}

bool hostAcceptsRunPaths(const MergePaths& /*paths*/) {
    return true;
}

std::string pathLengthProblem(const std::string& /*path*/) {
    return std::string();
}
