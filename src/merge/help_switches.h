// The arguments that ask for the usage text on this host: --help and -h
// everywhere, and on Windows also /?, as Windows' own commands take it.
#pragma once

#include <string>

// The switches as the usage text lists them.
extern const char kHelpSwitchList[];

bool isHelpSwitch(const std::string& argument);
