#include "info_options.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>

#include "detection_log.h"
#include "help_switches.h"
#include "merge_run.h"

namespace {

constexpr char kProgramName[] = "kel_combine_detectinfo";

bool isExistingFolder(const std::string& path) {
    std::error_code error;
    return std::filesystem::is_directory(path, error);
}

// What the program does, its argument, the files it writes and its exit
// statuses. The manual page says the same; a test holds the two together.
void printUsage() {
    std::printf("Usage: %s [FF-FOLDER]\n", kProgramName);
    std::printf("       %s --help | --version\n", kProgramName);
    std::printf(
        "\n"
        "Merges the meteor detection-info files of one FF folder, one per camera\n"
        "(KELdetectinfo_<camera>_<text>.txt), into one file in the same folder, in\n"
        "the fixed layout that other observation software reads. Every record is\n"
        "copied whole, in the order of the folder's listing; a damaged record is\n"
        "reported with its file and line and left out. Files of camera 0000 are\n"
        "merged files and are never merged again.\n"
        "\n"
        "FF-FOLDER is the folder whose files are merged. Without it, or with two\n"
        "or more arguments, the program asks for the folder.\n"
        "\n"
        "Files written into FF-FOLDER:\n"
        "  KELdetectinfo_0000_<folder name>.txt  the merged file\n"
        "  MergeListing_KELdetectinfo.txt        the names of the per-camera files found\n"
        "\n"
        "Exit status:\n"
        "  0  every listed per-camera file was merged whole\n"
        "  1  a file could not be opened, created or written, the folder could not\n"
        "     be listed or its path cannot be used, or the folder choice was\n"
        "     cancelled\n"
        "  2  the run completed, but input was left out: damaged records, a name\n"
        "     without a camera number or with a line end in it, a link to the\n"
        "     merged file, or a file with a cut or damaged header, cut at 99,999\n"
        "     records or not read to its end\n"
        "\n"
        "When a file cannot be opened, created or written, the program waits for\n"
        "Enter before it ends; at the end of standard input it does not wait.\n"
        "\n"
        "Options, taken as such only as the one argument and only when no folder\n"
        "of that name exists:\n");
    std::printf("  %-16s print this text and exit\n", kHelpSwitchList);
    std::printf("  %-16s print the version and exit\n", "--version");
    std::printf(
        "\n"
        "Example:\n"
        "  %s /data/obs/HALD/ff/night1\n",
        kProgramName);
}

}  // namespace

bool answerInfoOption(int argc, char** argv, int& status) {
    if (argc != 2) {
        return false;
    }
    const std::string argument = argv[1];
    const bool help = isHelpSwitch(argument);
    if ((!help && argument != "--version") || isExistingFolder(argument)) {
        return false;
    }
    if (help) {
        printUsage();
    } else {
        std::printf("%s %.2f\n", kProgramName, kProgramVersion);
    }
    status = 0;
    if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {
        // Standard output is what failed, so the reason goes to standard error.
        std::fprintf(stderr, "%s: cannot write to standard output (%s)\n", kProgramName,
                     std::strerror(errno));
        status = kExitFileError;
    }
    return true;
}
