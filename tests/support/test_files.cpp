#include "test_files.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

TempFolder::TempFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "kel-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("cannot make a temporary folder");
    }
    path = pattern;
}

TempFolder::~TempFolder() {
    std::error_code ignored;
    // Folders made read-only by a test must become writable to go.
    std::filesystem::permissions(path, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ignored);
    for (auto& entry : std::filesystem::recursive_directory_iterator(path, ignored)) {
        std::filesystem::permissions(entry.path(), std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ignored);
    }
    std::filesystem::remove_all(path, ignored);
}

void writeFile(const std::string& path, const std::string& bytes) {
    std::ofstream file(path, std::ios::binary);
    file << bytes;
    if (!file) {
        throw std::runtime_error("cannot write " + path);
    }
}

std::string readFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        throw std::runtime_error("cannot read " + path);
    }
    std::ostringstream bytes;
    bytes << file.rdbuf();
    return bytes.str();
}

bool fileExists(const std::string& path) {
    return std::filesystem::exists(path);
}

void makeFolders(const std::string& folder) {
    std::filesystem::create_directories(folder);
}

std::string perCameraRecord(int cam, int meteor, int segments, const char* fps) {
    std::string text = kSeparator + "FF_c" + std::to_string(cam) + "_m" + std::to_string(meteor) +
                       ".fits\nCAL_c" + std::to_string(cam) + ".txt\n";
    char line[128];
    std::snprintf(line, sizeof line, "%04d %04d %04d %s 010.0 005.0 001.0 003.5 0100.0 0200.0\n",
                  cam, meteor, segments, fps);
    text += line;
    for (int s = 0; s < segments; ++s) {
        std::snprintf(line, sizeof line,
                      "%06.1f 0100.25 0200.50 045.00 -10.50 180.00 030.00 %06d\n", 10.0 + s,
                      1000 + s);
        text += line;
    }
    return text;
}

std::string perCameraHeader(int count) {
    char line1[64];
    std::snprintf(line1, sizeof line1, "Meteor Count = %06d\n", count);
    return std::string(line1) +
           "-----------------------------------------------------\n"
           "Processed with KEL 1.6 on Mon Nov 30 05:41:12 2026\n"
           "-----------------------------------------------------\n"
           "FF  folder = D:\\obs\\HALD\\ff\\night1\\\n"
           "CAL folder = D:\\obs\\HALD\\Cal\\\n"
           "-----------------------------------------------------\n"
           "FF  file processed\n"
           "CAL file processed\n"
           "Cam# Meteor# #Segments fps hnr mle bin Pix/fm Rho Phi\n"
           "Per segment:  Frame# Col Row RA Dec Azim Elev Inten\n";
}

std::string crlf(const std::string& lfText) {
    std::string out;
    for (char c : lfText) {
        if (c == '\n') {
            out += '\r';
        }
        out += c;
    }
    return out;
}

std::string mergedLine(int records, int files, const std::string& mergedPath) {
    return " Merged " + std::to_string(records) + (records == 1 ? " record" : " records") +
           " from " + std::to_string(files) + (files == 1 ? " file" : " files") + " into " +
           mergedPath + " \n";
}

std::string notMergedLine(const std::string& ffFolder, int damaged, int filesLeftOut) {
    return " Not merged in folder " + ffFolder + ": " + std::to_string(damaged) +
           " damaged record(s); " + std::to_string(filesLeftOut) +
           " listed file(s) refused or not read to their end \n";
}

std::string stationFile(int records, const std::string& cam, const std::string& headerExtra,
                        const std::string& segmentExtra) {
    std::string text = perCameraHeader(records);
    text.insert(text.size() - 1, headerExtra);
    for (int i = 0; i < records; ++i) {
        text += kSeparator + "FF_XX0006_20260312_231502_123_0012800.fits\nCAL_XX0006_20260312.txt\n" +
                cam + " 0001 0002 0025.00 012.4 008.1 001.0 004.7 0123.5 0271.2\n" +
                "0012.0000 0345.67 0210.11 +063.4812 +21.9034 +112.3521 +41.2044 001534" +
                segmentExtra + "\n0013.0000 0349.91 0214.02 +063.520144 +21.861207 +112.410811 "
                               "+41.153002 001720" + segmentExtra + "\n";
    }
    return text;
}
