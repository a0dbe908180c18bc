// The options that ask the program about itself instead of merging: the
// help switches print the usage text, --version the version line; any
// other option is refused as unknown. They
// count only as the one argument of the command line, and only while no
// folder of that name exists, so that every folder, one named like an
// option included, can still be merged.
#pragma once

// When the command line asks for the usage text or the version, prints it
// to standard output, writes no file, sets `status` to the run's exit
// status (0, or 1 when standard output could not be written) and returns
// true. So it does, with status 1, for any other argument that begins with
// '-' and names no folder: an option this program does not know.
// Otherwise returns false: the argument, if any, is the FF folder.
bool answerInfoOption(int argc, char** argv, int& status);
