// Paths on POSIX hosts: '/' separates, and a typed path is used unchanged.
#include "path_rules.h"

const char kPathSeparator = '/';

std::string nativeFolderPath(const std::string& typed) {
    return typed;
}
