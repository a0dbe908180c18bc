// Help switches on POSIX hosts: --help and -h. "/?" is a path here.
#include "help_switches.h"

const char kHelpSwitchList[] = "--help, -h";

bool isHelpSwitch(const std::string& argument) {
    return argument == "--help" || argument == "-h";
}
