#include "ff_folder.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <regex>

FfFolder::FfFolder() {
    makeFolders(path);
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
