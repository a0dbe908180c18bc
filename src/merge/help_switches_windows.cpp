// Help switches on Windows: --help, -h, and /? as Windows' own commands
// take it ('?' cannot stand in a Windows file name, so no folder is lost).
#include "help_switches.h"

const char kHelpSwitchList[] = "--help, -h, /?";

bool isHelpSwitch(const std::string& argument) {
    return argument == "--help" || argument == "-h" || argument == "/?";
}
