// A run over several FF folders (a night archive): each folder merged in
// turn as a one-folder run would merge it, under one banner, then one tally
// of how every folder ended, and one exit status for them all.
#pragma once

#include <string>

// True when the folders given (the arguments after the options) are
// several: two or more, or one that holds a wildcard this host leaves to
// the program.
bool isSeveralFolderRun(int folders, char** arguments);

// Merges every folder the arguments name, in the order given, each once,
// and prints the tally. Every argument is a folder, whatever it begins
// with. Never waits for the keyboard, but in a console window that
// Explorer opened, which would close before the tally could be read. Exit
// status 1 when any folder failed, else 2 when any had something left
// out, else 0.
int mergeSeveralFolders(int folders, char** arguments);
