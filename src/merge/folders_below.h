// The folders directly below an FF folder that hold per-camera files: a
// folder given by mistake (the "ff" folder above the nights) points the
// user to them.
#pragma once

#include <string>

// How many folders directly below `ffFolder` hold at least one name the
// listing would take as a per-camera file (camera number not 0). Only
// names are read, each folder's up to the first that counts; a folder
// that cannot be read counts as holding none.
long foldersWithPerCameraFiles(const std::string& ffFolder);
