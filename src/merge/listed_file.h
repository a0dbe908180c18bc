// Opens the per-camera file of a listed name for reading. Between the
// listing and the open, the name may have come to stand for something else
// (a FIFO, a folder, a device): such an entry is told apart without the
// open waiting on it.
#pragma once

#include <cstdio>
#include <string>

enum class ListedFileOpen {
    Opened,    // `file` is open on a regular file
    NotAFile,  // the name now stands for something that is not a regular file
    Failed,    // `error` holds the errno of the failed open
};

ListedFileOpen openListedFile(const std::string& path, std::FILE*& file, int& error);
