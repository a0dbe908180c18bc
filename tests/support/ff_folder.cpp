#include "ff_folder.h"

#include <gtest/gtest.h>

#include "run_program.h"

#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <filesystem>
#include <regex>

FfFolder::FfFolder() {
    makeFolders(path);
}

std::string FfFolder::stagingPrefix() const {
    return file("KELdetectinfo_0000_night1." + hostForFiles() + ".");
}

bool FfFolder::stagingLeft() const {
    for (const auto& entry : std::filesystem::directory_iterator(path)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind("KELdetectinfo_0000_night1.", 0) == 0 && name.size() > 4 &&
            name.compare(name.size() - 4, 4, ".tmp") == 0) {
            return true;
        }
    }
    return false;
}

std::string hostForFiles() {
    char name[256] = {};
    gethostname(name, sizeof name - 1);
    std::string host;
    for (const char* c = name; *c != '\0'; ++c) {
        if (std::isalnum(static_cast<unsigned char>(*c)) || *c == '-') {
            host += *c;
        }
    }
    return host.empty() ? "host" : host;
}

TracedRun tracedOnStaging(const FfFolder& ff, const std::vector<std::string>& options) {
    std::vector<std::string> arguments{
        "-c", "p=\"$1\"; shift; exec \"$0\" -D -f -qq -o /dev/null -P \"$p$$.tmp\" \"$@\"",
        stracePath(), ff.stagingPrefix()};
    arguments.insert(arguments.end(), options.begin(), options.end());
    arguments.insert(arguments.end(), {programPath(), ff.path});
    return {"/bin/sh", arguments};
}

std::string mergedHeader(int count, const std::string& ffFolder, const std::string& calFolder) {
    char line1[32];
    std::snprintf(line1, sizeof line1, "Meteor Count = %06d\n", count);
    return crlf(std::string(line1) +
                "-----------------------------------------------------\n"
                "Processed with KEL 1.6 on <time>\n"
                "-----------------------------------------------------\n"
                "FF  folder = " + ffFolder + "\n"
                "CAL folder = " + calFolder + "\n"
                "-----------------------------------------------------\n"
                "FF  file processed\n"
                "CAL file processed\n"
                "Cam# Meteor# #Segments fps hnr mle bin Pix/fm Rho Phi\n"
                "Per segment:  Frame# Col Row RA Dec Azim Elev Inten\n");
}

std::string withoutTime(const std::string& merged) {
    static const std::regex time(
        "Processed with KEL 1\\.6 on [A-Z][a-z]{2} [A-Z][a-z]{2} \\d\\d \\d\\d:\\d\\d:\\d\\d \\d{4}\r\n");
    std::smatch match;
    EXPECT_TRUE(std::regex_search(merged, match, time)) << merged.substr(0, 200);
    return std::regex_replace(merged, time, "Processed with KEL 1.6 on <time>\r\n",
                              std::regex_constants::format_first_only);
}
