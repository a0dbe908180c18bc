#include "temporary_file.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <random>

namespace {

constexpr char kSuffix[] = ".tmp";
constexpr std::size_t kSuffixLength = sizeof kSuffix - 1;

// The final name without its extension: what every temporary name of the
// file begins with.
std::string stemOf(const std::string& finalName) {
    const std::size_t dot = finalName.rfind('.');
    return dot == std::string::npos ? finalName : finalName.substr(0, dot);
}

// A number no one can tell beforehand, for the names of the later tries.
std::string randomPart() {
    static std::random_device source;
    char text[16];
    std::snprintf(text, sizeof text, "-%08x", static_cast<unsigned>(source()));
    return text;
}

// "<stem>.<computer><tail>", the computer's name and then the stem
// shortened to fit `room`.
std::string fitted(std::string stem, std::string computer, const std::string& tail,
                   std::size_t room) {
    const std::size_t fixed = 1 + tail.size();
    computer.resize(std::max<std::size_t>(
        1, std::min(computer.size(),
                    room > stem.size() + fixed ? room - stem.size() - fixed : 0)));
    if (stem.size() + fixed + computer.size() > room && room > fixed + computer.size()) {
        stem.resize(room - fixed - computer.size());
    }
    return stem + "." + computer + tail;
}

// The computer and process of a temporary name of a file whose stem is
// `stem`; false when the name is none of this program's. A stem that was
// shortened to fit `room` counts too.
bool runOfName(const std::string& name, const std::string& stem, std::size_t room,
               std::string& computer, long& process) {
    if (name.size() <= kSuffixLength ||
        name.compare(name.size() - kSuffixLength, kSuffixLength, kSuffix) != 0) {
        return false;
    }
    const std::string body = name.substr(0, name.size() - kSuffixLength);
    const std::size_t processDot = body.rfind('.');
    const std::size_t computerDot =
        processDot == std::string::npos || processDot == 0 ? std::string::npos
                                                          : body.rfind('.', processDot - 1);
    if (computerDot == std::string::npos || computerDot == 0 || computerDot + 1 == processDot) {
        return false;
    }
    const std::string itsStem = body.substr(0, computerDot);
    const bool sameStem = itsStem == stem || (name.size() == room && stem.rfind(itsStem, 0) == 0);
    // The process: its digits, then a try's random part.
    const std::string run = body.substr(processDot + 1);
    const std::size_t digits = run.find_first_not_of("0123456789");
    const std::size_t end = digits == std::string::npos ? run.size() : digits;
    const bool randomTail = end < run.size() && run.size() - end == 9 && run[end] == '-' &&
                            run.find_first_not_of("0123456789abcdef", end + 1) == std::string::npos;
    if (!sameStem || end == 0 || end > 10 || (end < run.size() && !randomTail)) {
        return false;
    }
    computer = body.substr(computerDot + 1, processDot - computerDot - 1);
    process = std::stol(run.substr(0, end));
    return true;
}

// Whether a temporary name's computer is this one: its name, or, in a name
// that was shortened to fit its folder, the start of it.
bool isThisComputer(const std::string& named, const std::string& computer, bool shortened) {
    return named == computer || (shortened && computer.rfind(named, 0) == 0);
}

// The name of this computer as temporary names carry it: letters, digits
// and '-' only, so that no run on another computer sharing the folder
// makes the same names.
std::string computerForNames() {
    std::string computer;
    for (char c : computerName()) {
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
            c == '-') {
            computer += c;
        }
    }
    return computer.empty() ? "host" : computer;
}

// The temporary name of `finalName` for this run's try `attempt` (0 first).
// Where it would be longer than `room`, the computer's name gives way
// first, down to one character, then the stem.
std::string temporaryName(const std::string& finalName, std::size_t room, int attempt) {
    std::string tail(1, '.');
    tail.append(std::to_string(processNumber()));
    if (attempt > 0) {
        tail += randomPart();
    }
    return fitted(stemOf(finalName), computerForNames(), tail + kSuffix, room);
}

// The temporary files being written, as removeTemporaryFilesNow finds them
// from a signal handler or the thread of a console control handler: fixed
// buffers, and a flag that is set only while they hold the folder and name
// of a file that may exist.
struct InterruptSlot {
    std::intptr_t folder = -1;
    char folderPath[4096];
    char name[512];
    std::atomic<bool> set{false};
};
InterruptSlot gSlots[2];
static_assert(std::atomic<bool>::is_always_lock_free, "read in a signal handler");

// Set before the file can exist, so that no interruption leaves it; the
// handlers are installed then too, once.
bool remember(int slot, const LogFolder& folder, const std::string& name) {
    InterruptSlot& entry = gSlots[slot];
    if (folder.path.size() >= sizeof entry.folderPath || name.size() >= sizeof entry.name) {
        return false;
    }
    static bool handlersInstalled = false;
    if (!handlersInstalled) {
        cleanUpOnInterruption(removeTemporaryFilesNow);
        handlersInstalled = true;
    }
    entry.set = false;
    entry.folder = folder.handle;
    std::memcpy(entry.folderPath, folder.path.c_str(), folder.path.size() + 1);
    std::memcpy(entry.name, name.c_str(), name.size() + 1);
    entry.set = true;
    return true;
}

}  // namespace

void noteLeftAlone(LeftAlone& notes, const LogFolder& folder, const std::string& name,
                   const std::string& why) {
    if (notes.shown.size() < kLeftAloneShown) {
        notes.shown.push_back({folder.path + name, why});
    } else {
        ++notes.more;
    }
}

void removeLeftover(const LogFolder& folder, const std::string& name, LeftAlone& notes) {
    const int error = removeFileNow(folder.handle, folder.path.c_str(), name.c_str());
    if (error != 0) {
        noteLeftAlone(notes, folder, name,
                      "left by a run that ended, and could not be removed (" +
                          systemReason(error) + ")");
    }
}

void sweepTemporaryFiles(const LogFolder& folder, const std::string& finalName, LeftAlone& notes) {
    const std::string stem = stemOf(finalName);
    const std::size_t room = roomForName(folder);
    const std::string computer = computerForNames();
    const long self = processNumber();
    for (const std::string& name : namesInFolder(folder, stem.substr(0, 1), kSuffix)) {
        std::string itsComputer;
        long process = 0;
        if (!runOfName(name, stem, room, itsComputer, process)) {
            continue;  // none of this program's
        }
        if (!isThisComputer(itsComputer, computer, name.size() == room)) {
            noteLeftAlone(notes, folder, name,
                          "a run's on computer " + itsComputer +
                              ", which may still be running; that computer's next run removes "
                              "it once the run is gone");
        } else if (process == self || processGone(process)) {
            removeLeftover(folder, name, notes);
        }
    }
}

bool createTemporaryFile(const LogFolder& folder, const std::string& finalName,
                         const EarlierFile& earlier, TemporaryKind kind, TemporaryFile& created,
                         std::string& reason) {
    created = TemporaryFile{};
    created.slot = kind == TemporaryKind::Merged ? 0 : 1;
    const std::size_t room = roomForName(folder);
    for (int attempt = 0; attempt < kTemporaryTries; ++attempt) {
        created.name = temporaryName(finalName, room, attempt);
        if (!remember(created.slot, folder, created.name)) {
            reason = std::strerror(ENAMETOOLONG);
            return false;
        }
        bool taken = false;
        created.file = createExclusiveFile(folder, created.name, earlier, taken, reason);
        if (created.file != nullptr) {
            return true;
        }
        gSlots[created.slot].set = false;
        if (!taken) {
            return false;
        }
    }
    return false;
}

void forgetTemporaryFile(TemporaryFile& created) {
    if (created.slot >= 0) {
        gSlots[created.slot].set = false;
    }
}

void removeTemporaryFilesNow() {
    for (InterruptSlot& slot : gSlots) {
        if (slot.set) {
            removeFileNow(slot.folder, slot.folderPath, slot.name);
        }
    }
}
