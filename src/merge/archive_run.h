// A run over several FF folders (a night archive): each folder merged in
// turn as a one-folder run would merge it, under one banner, then one tally
// of how every folder ended, and one exit status for them all; and the
// folders below an FF folder that hold per-camera files.
#pragma once

#include <string>

// True when the command line names several folders: two or more
// arguments, or one that holds a wildcard this host leaves to the program.
bool isSeveralFolderRun(int argc, char** argv);

// Merges every folder the arguments name, in the order given, each once,
// and prints the tally. Never waits for the keyboard, but in a console
// window that Explorer opened, which would close before the tally could be
// read. Exit status 1 when any folder failed, else 2 when any had something
// left out, else 0.
int mergeSeveralFolders(int argc, char** argv);

// A folder given by mistake (the "ff" folder above the nights) points the
// user to the folders below it that hold per-camera files.
// How many folders directly below `ffFolder` hold at least one name the
// listing would take as a per-camera file (camera number not 0). Only
// names are read, each folder's up to the first that counts; a folder
// that cannot be read counts as holding none.
long foldersWithPerCameraFiles(const std::string& ffFolder);
