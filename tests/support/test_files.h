// Real temporary folders and files for the tests.
#pragma once

#include <string>

// A fresh folder under the system's temporary folder, removed with its
// contents when the object goes.
struct TempFolder {
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    std::string path;  // without a trailing '/'
};

void writeFile(const std::string& path, const std::string& bytes);
std::string readFile(const std::string& path);
bool fileExists(const std::string& path);

// Makes `folder` and its missing parents.
void makeFolders(const std::string& folder);

// What the program prints first, and last after a complete run. Inline, so
// that they are set before any test file's own texts built from them.
inline const std::string kBanner =
    "\n\n=========================================================\n"
    "  KEL Combine Detectinfo  1.61 \n"
    "=========================================================\n\n";
inline const std::string kDone = "\n Done with processing \n";

// The line that follows kDone: what a complete run merged, into which file.
std::string mergedLine(int records, int files, const std::string& mergedPath);

// The line after it when something was left out; `ffFolder` ends in a separator.
std::string notMergedLine(const std::string& ffFolder, int damaged, int filesLeftOut);

// A record's separator line, LF ended.
inline const std::string kSeparator = "-------------------------------------------------------\n";

// A record in per-camera form, LF line ends: FF file "FF_c<cam>_m<meteor>.fits",
// CAL file "CAL_c<cam>.txt", and `segments` segment lines.
std::string perCameraRecord(int cam, int meteor, int segments, const char* fps = "25.00");

// The eleven header lines a per-camera file begins with, LF line ends.
std::string perCameraHeader(int count);

// A file as other station software writes it, of `records` records of two
// segment lines each: `cam` a station code or a number, `headerExtra` after
// Inten in the header, `segmentExtra` after each segment line's eight values.
std::string stationFile(int records, const std::string& cam, const std::string& headerExtra,
                        const std::string& segmentExtra);

// Lines joined with CR LF, each line ended.
std::string crlf(const std::string& lfText);
