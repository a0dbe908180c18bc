// The files a run writes aside and then puts in place: the new merged file
// and the new listing. Each is created beside the file it becomes, under a
// name of its run's own, "<stem>.<computer>.<process>.tmp" (<stem> is the
// final name without its extension), exclusively and never through a link,
// and takes the final name by a rename once it is complete. A name that
// anything already holds (a file, a folder, a link) makes the run try
// another, "<stem>.<computer>.<process>-<8 hex digits>.tmp" with a random
// number, a few times, so that no set of names planted beforehand can keep
// a run from writing. No such name ends in ".txt", so no listing takes it
// for a per-camera file (nor, on Windows, its short name "KELDET~1.TMP").
//
// What killed runs leave is removed by the next run on the same computer;
// what a run of another computer may still be writing is left alone and
// noted. Files that are written are removed when the process is
// interrupted (the handlers are installed by the first file made).
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "log_file.h"

// The tries at a name of a run's own before creating gives up.
inline constexpr int kTemporaryTries = 8;

// Files of other runs that a run left alone, as the run tells of them: the
// first few with the reason, and how many more.
inline constexpr std::size_t kLeftAloneShown = 3;
struct LeftFile {
    std::string path;
    std::string why;
};
struct LeftAlone {
    std::vector<LeftFile> shown;
    long more = 0;
};

// Removes the temporary files of `finalName` that runs of this computer,
// now gone, left in the folder; files of runs on other computers, and
// those that cannot be removed, stay and are noted in `notes`. Files of a
// live process of this computer are another run's and stay unsaid. Only
// regular files are looked at: nothing of another kind was a run's.
void sweepTemporaryFiles(const LogFolder& folder, const std::string& finalName, LeftAlone& notes);

// Notes a file that the run leaves alone, and why.
void noteLeftAlone(LeftAlone& notes, const LogFolder& folder, const std::string& name,
                   const std::string& why);

// Removes a file that a run which is certainly gone left; one that stays
// is noted with the reason.
void removeLeftover(const LogFolder& folder, const std::string& name, LeftAlone& notes);

// A temporary file being written, and its name in its folder.
struct TemporaryFile {
    std::FILE* file = nullptr;
    std::string name;
    int slot = -1;  // where an interruption finds it
};

// Which temporary file of a run an interruption may find.
enum class TemporaryKind { Merged, Listing };

// Creates the temporary file of `finalName` in the folder, open for reading
// and writing, under the first of kTemporaryTries names that nothing holds.
// Its permission bits are the earlier file's as far as a new file's under
// the umask allows them. Removed if the process is interrupted until it is
// forgotten. False, with the system's reason and the last name tried in
// `created.name`, when none could be made.
bool createTemporaryFile(const LogFolder& folder, const std::string& finalName,
                         const EarlierFile& earlier, TemporaryKind kind, TemporaryFile& created,
                         std::string& reason);

// The file is no longer to be removed by an interruption: it has its final
// name, or it has been removed.
void forgetTemporaryFile(TemporaryFile& created);

// Removes every temporary file of this run that an interruption would find,
// using only what is safe in a signal handler or a console control handler.
void removeTemporaryFilesNow();
