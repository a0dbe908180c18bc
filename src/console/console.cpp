// The console's texts and waits that are the same on every host: the
// waits for the keyboard, names shown safely, the usage text and the
// version.
#include "console.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>

#include "detection_log.h"
#include "read_problem.h"

namespace {

constexpr char kProgramName[] = "kel_combine_detectinfo";

bool isExistingFolder(const std::string& path) {
    std::error_code error;
    return std::filesystem::is_directory(path, error);
}

// What the program does, its argument, the files it writes and its exit
// statuses. The manual page says the same; a test holds the two together.
void printUsage() {
    std::printf("Usage: %s [FF-FOLDER ...]\n", kProgramName);
    std::printf("       %s --help | --version\n", kProgramName);
    std::printf(
        "\n"
        "Merges the meteor detection-info files of one FF folder, one per camera\n"
        "(KELdetectinfo_<camera>_<text>.txt), into one file in the same folder, in\n"
        "the fixed layout that other observation software reads. Every record is\n"
        "copied whole, in the order of the folder's listing; a damaged record is\n"
        "reported with its file and line and left out. Files of camera 0000 are\n"
        "merged files and are never merged again. The run ends with a line that\n"
        "says how many records from how many files went into which file.\n"
        "\n"
        "FF-FOLDER is the folder whose files are merged. Without it, the program\n"
        "asks for the folder. A relative FF-FOLDER is shown, in messages and in\n"
        "the merged file's header, as a whole path. One run at a time works on a\n"
        "folder: a second run on the same folder waits up to 30 s for the first\n"
        "to end, and then runs, or leaves the folder.\n"
        "\n"
        "Several FF-FOLDERs (a night archive, such as /data/obs/HALD/ff/*/) are\n"
        "merged in the order given, each as a run of its own, a folder named again\n"
        "only once; a failed folder does not stop the ones after it. On Windows\n"
        "an FF-FOLDER whose last part holds * or ? stands for the folders it\n"
        "matches. At the end a tally: how many folders were merged whole, with\n"
        "something left out, with no per-camera files, or failed, then each\n"
        "folder not merged whole with the reason. Such a run never waits for the\n"
        "keyboard, but in a window that Explorer opened for it.\n"
        "\n"
        "Files written into FF-FOLDER:\n"
        "  KELdetectinfo_0000_<folder name>.txt  the merged file\n"
        "  KELdetectinfo_0000_<folder name>.<computer>.<process>.tmp\n"
        "                                        the new merged file while it is\n"
        "                                        written; once complete, it takes\n"
        "                                        the merged file's name\n"
        "  MergeListing_KELdetectinfo.txt        the names of the per-camera files found\n"
        "  MergeListing_KELdetectinfo.<computer>.<process>.tmp\n"
        "                                        the new listing while it is written\n"
        "  MergeLock_KELdetectinfo.lock          on NFS and SMB shares only: the lock\n"
        "                                        that runs on other computers see\n"
        "\n"
        "A run that fails or is interrupted leaves the earlier merged file as it\n"
        "was, and no temporary file (one it cannot remove, it names); only a kill\n"
        "that allows no clean-up can leave its .tmp file behind, which the next run\n"
        "on the same computer removes. No run touches another run's .tmp file.\n"
        "\n"
        "Exit status:\n"
        "  0  every listed per-camera file was merged whole\n"
        "  1  the run failed, and the earlier merged file stays: an unknown\n"
        "     option, a folder that does not exist, is not a folder or whose path\n"
        "     cannot be used, a folder that is, or lies behind, another user's\n"
        "     link, a folder that could not be listed or that another run held\n"
        "     for 30 s, a file that could not be opened, created or written, or a\n"
        "     cancelled folder choice; or the new merged file was written but its\n"
        "     folder could not be flushed to disk\n"
        "  2  the run completed, but input was left out: damaged records, a name\n"
        "     without a camera number or with a line end in it, a link to the\n"
        "     merged file, a link of another user to a file that user may not\n"
        "     read (or whose access control list only a run as root can weigh), a\n"
        "     second name of a file already merged, a file that cannot be looked\n"
        "     at, is no longer a regular file or whose path is too long to open,\n"
        "     or a file with a cut or damaged header, cut at 99,999 records, read\n"
        "     no further than 1 GiB or not read to its end\n"
        "  Of several folders: 1 when any failed, else 2 when any had something\n"
        "  left out, else 0.\n"
        "\n"
        "Waits for the keyboard:\n"
        "  After the merged file cannot be created or written: a number and Enter.\n"
        "  After the listing or a per-camera file fails: Enter.\n"
        "  On Windows, after a run whose folder was chosen in the dialog in a\n"
        "  console window of its own (started from Explorer): Enter, to close it.\n"
        "  On Windows, after the tally of several folders dropped on the program\n"
        "  in Explorer: Enter, to close its window.\n"
        "  A run of several folders waits for nothing else.\n"
        "  At the end of standard input, no wait.\n"
        "\n"
        "Options, taken as such only as the one argument and only when no folder\n"
        "of that name exists:\n");
    std::printf("  %-16s print this text and exit\n", kHelpSwitchList);
    std::printf("  %-16s print the version and exit\n", "--version");
    std::printf("  %-16s end the options: every argument after it is a folder\n", "--");
    std::printf(
        "\n"
        "Examples:\n"
        "  %s /data/obs/HALD/ff/night1\n"
        "  %s /data/obs/HALD/ff/*/\n",
        kProgramName, kProgramName);
}

void printUnknownOption(const std::string& argument) {
    std::printf(" Unknown option %s (%s --help lists the options) \n", shownText(argument).c_str(),
                kProgramName);
}

}  // namespace

void waitForCharacter() {
    std::fflush(stdout);
    std::getchar();
}

bool waitForInteger() {
    std::fflush(stdout);
    int typed = 0;
    return std::scanf("%d", &typed) == 1;
}

InfoAnswer answerInfoOption(int argc, char** argv) {
    if (argc != 2) {
        return InfoAnswer::None;
    }
    const std::string argument = argv[1];
    const bool help = isHelpSwitch(argument);
    const bool version = argument == "--version";
    const bool option = help || version || (!argument.empty() && argument[0] == '-');
    if (!option || isExistingFolder(argument)) {
        return InfoAnswer::None;
    }
    if (help) {
        printUsage();
    } else if (version) {
        std::printf("%s %.2f\n", kProgramName, kProgramVersion);
    } else {
        // A mistyped option would otherwise be taken for a folder that is
        // not there.
        printUnknownOption(argument);
    }
    InfoAnswer answer = help || version ? InfoAnswer::Answered : InfoAnswer::Refused;
    if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {
        // Standard output is what failed, so the reason goes to standard error.
        std::fprintf(stderr, "%s: cannot write to standard output (%s)\n", kProgramName,
                     std::strerror(errno));
        answer = InfoAnswer::Refused;
    }
    return answer;
}
