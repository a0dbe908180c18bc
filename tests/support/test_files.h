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

// The eleven header lines a per-camera file begins with, LF line ends.
std::string perCameraHeader(int count);

// Lines joined with CR LF, each line ended.
std::string crlf(const std::string& lfText);
