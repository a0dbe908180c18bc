#include "merge_file.h"

#include <cstdio>
#include <string>
#include <vector>

#include "detection_file_names.h"
#include "detection_log.h"
#include "read_problem.h"

namespace {

void reportReadFailure(const std::string& path, const ReadProblem& problem, MergeState& state) {
    if (problem.error == kBeyondBound) {
        // No night of one camera comes near: a sparse or endless file.
        std::printf(" File %s is read no further than %lld bytes (1 GiB); the rest of it was "
                    "not merged \n",
                    shownText(path).c_str(), kReadBound);
    } else {
        std::printf(" Cannot read file %s at line %ld (%s); the rest of it was not merged \n",
                    shownText(path).c_str(), problem.line, readProblemText(problem).c_str());
    }
    ++state.filesLeftOut;
}

// The line where a refused record begins.
long recordBegins(const ReadProblem& problem) {
    return problem.recordLine > 0 ? problem.recordLine : problem.line;
}

// A refused record, told where the user finds it: at the line where it
// begins, with its FF file's name when the record got that far, and the
// line where the damage was found when that is another.
std::string damagedRecordReport(const std::string& path, const ReadProblem& problem) {
    const long begins = recordBegins(problem);
    const std::string ffFile =
        problem.ffFile.empty() ? std::string() : " (FF file " + shownText(problem.ffFile) + ")";
    const std::string found =
        problem.line != begins ? ", found at line " + std::to_string(problem.line) : std::string();
    return " Damaged record in file " + shownText(path) + " at line " + std::to_string(begins) +
           ffFile + ": " + readProblemText(problem) + found + "; record not merged \n";
}

// The damaged records of one file, as they are reported: the first few one
// by one, the rest counted. While no record of the file was merged and
// every one was refused for the same cause, the reports wait, so that a
// file whose records all are (one written by other software, say) is told
// in one line.
struct FileDamage {
    long records = 0;
    bool alike = true;      // nothing merged, every damaged record refused for `cause`
    std::string cause;      // of the first damaged record (see damageCause)
    NumberLineKind lineKind = NumberLineKind::None;  // of the first damaged record
    int lineValues = 0;
    std::vector<std::string> waiting;  // reports held while `alike`
    long firstLine = 0;      // where the first damaged record begins
    long restFirstLine = 0;  // where the first one past those reported one by one begins
    long lastLine = 0;       // where the damage of the last one was found
};

void printReports(std::vector<std::string>& reports) {
    for (const std::string& report : reports) {
        std::fputs(report.c_str(), stdout);
    }
    reports.clear();
}

// The file's records are no longer all refused alike: the reports held so
// far are printed, and later ones as they come.
void notAlike(FileDamage& damage) {
    damage.alike = false;
    printReports(damage.waiting);
}

void noteDamagedRecord(const std::string& path, const ReadProblem& problem, FileDamage& damage,
                       MergeState& state) {
    ++state.damagedRecords;
    ++damage.records;
    if (damage.records == 1) {
        damage.firstLine = recordBegins(problem);
        damage.lineKind = problem.lineKind;
        damage.lineValues = problem.lineValues;
        damage.cause = damageCause(problem);
    } else if (damage.alike && damageCause(problem) != damage.cause) {
        notAlike(damage);
    }
    damage.lastLine = problem.line;
    if (damage.records > kDamagedReportedOneByOne) {
        if (damage.restFirstLine == 0) {
            damage.restFirstLine = recordBegins(problem);
        }
    } else if (damage.alike) {
        damage.waiting.push_back(damagedRecordReport(path, problem));
    } else {
        std::fputs(damagedRecordReport(path, problem).c_str(), stdout);
    }
}

// Other station software writes segment lines with more columns than the
// layout's eight: a magnitude (Mag), or a magnitude, background, SNR and
// saturated-pixel count (Mag Bcknd SNR NSatPx). Said once for a file with
// damaged records whose header names columns after the layout's, or whose
// records were all refused for segment lines of 9 or 12 values.
void reportExtraColumns(const std::string& path, const FileDamage& damage,
                        const std::string& headerNames) {
    const bool fromRecords = headerNames.empty() && damage.alike &&
                             damage.lineKind == NumberLineKind::Segment &&
                             (damage.lineValues == 9 || damage.lineValues == 12);
    if (damage.records == 0 || (headerNames.empty() && !fromRecords)) {
        return;
    }
    const std::string names =
        !fromRecords ? headerNames : damage.lineValues == 9 ? "Mag" : "Mag Bcknd SNR NSatPx";
    const bool one = names.find(' ') == std::string::npos;
    const char* words = names == "Mag" ? "a magnitude column"
                        : names == "Mag Bcknd SNR NSatPx"
                            ? "magnitude, background, SNR and saturated-pixel count columns"
                        : one ? "a further column"
                              : "further columns";
    const std::string shown = fromRecords ? std::to_string(damage.lineValues) + " values each"
                                          : "its header names " + shownText(names) + " after Inten";
    std::printf(" File %s has segment lines with %s (%s), as other station software writes "
                "them; the merged layout has no such column%s, and the program does not "
                "convert such files \n",
                shownText(path).c_str(), words, shown.c_str(), one ? "" : "s");
}

// Closes the reports of a file's damaged records: all of them in one line
// when they were refused alike and were more than the few reported one by
// one; else the waiting reports, and a line that counts those past the few.
void finishDamage(const std::string& path, FileDamage& damage, const MergeState& state) {
    if (damage.alike && damage.records > kDamagedReportedOneByOne) {
        std::printf(" Damaged records in file %s: all %ld, from line %ld to line %ld, refused for "
                    "the same damage: %s; no records merged from it \n",
                    shownText(path).c_str(), damage.records, damage.firstLine, damage.lastLine,
                    damage.cause.c_str());
    } else {
        printReports(damage.waiting);
        if (damage.records > kDamagedReportedOneByOne) {
            std::printf(" Damaged records in file %s: %ld more, from line %ld to line %ld, not "
                        "reported one by one; records not merged \n",
                        shownText(path).c_str(), damage.records - kDamagedReportedOneByOne,
                        damage.restFirstLine, damage.lastLine);
        }
    }
    reportExtraColumns(path, damage, state.input.extraSegmentColumns);
}

// Reads past the file's header; false, after a message, when no records
// can be read from it.
bool readHeader(const std::string& path, MergeState& state) {
    ReadProblem problem;
    const HeaderStatus header = readDetectionHeader(state.input, problem);
    if (header == HeaderStatus::Read) {
        return true;
    }
    if (state.input.text.readError == kBeyondBound) {
        // A header line cut, or taken as too long, at the bound: the bound
        // is what the user has to know of.
        problem.error = kBeyondBound;
        reportReadFailure(path, problem, state);
    } else if (header == HeaderStatus::Cut) {
        std::printf(" File %s ends inside its header at line %ld; no records merged from it \n",
                    shownText(path).c_str(), problem.line);
        ++state.filesLeftOut;
    } else if (header == HeaderStatus::Damaged) {
        std::printf(" Damaged header in file %s at line %ld: %s; no records merged from it \n",
                    shownText(path).c_str(), problem.line, readProblemText(problem).c_str());
        ++state.filesLeftOut;
    } else {
        reportReadFailure(path, problem, state);
    }
    return false;
}

// Reports a record past the cap of one file; the cap is passed only when
// a further record begins, and a separator alone after the last record
// holds none.
void checkBeyondCap(const std::string& path, MergeState& state) {
    ReadProblem problem;
    const ReadStatus rest = checkForFurtherRecord(state.input, problem);
    if (rest == ReadStatus::Record) {
        std::printf(" File %s holds more than %d records; the rest of it was not merged \n",
                    shownText(path).c_str(), kMaxRecordsPerFile);
        ++state.filesLeftOut;
    } else if (rest == ReadStatus::Failed) {
        reportReadFailure(path, problem, state);
    }
}

// Copies every record of the open per-camera file at `path` into the
// merged file, counting them, and reports damaged records (see
// FileDamage), a cut or damaged header, read errors and the record cap.
// False when the merged file could not be written.
bool mergeFile(const std::string& path, std::FILE* file, MergeState& state) {
    startDetectionInput(state.input, file);
    state.input.text.bound = kReadBound;
    if (!readHeader(path, state)) {
        return true;
    }
    ++state.filesRead;
    ReadProblem problem;
    FileDamage damage;
    for (int records = 0; records < kMaxRecordsPerFile;) {
        const ReadStatus status = readDetectionRecord(state.input, state.record, problem);
        if (status == ReadStatus::End) {
            finishDamage(path, damage, state);
            return true;
        }
        if (status == ReadStatus::Failed) {
            finishDamage(path, damage, state);
            reportReadFailure(path, problem, state);
            return true;
        }
        if (status == ReadStatus::Damaged) {
            noteDamagedRecord(path, problem, damage, state);
            continue;
        }
        if (damage.alike) {
            notAlike(damage);
        }
        if (!writeDetectionRecord(state.record)) {
            finishDamage(path, damage, state);
            return false;
        }
        ++state.count;
        ++records;
    }
    finishDamage(path, damage, state);
    checkBeyondCap(path, state);
    return true;
}

NameResult leftOut(Run& run) {
    ++run.state->filesLeftOut;
    return {NameResult::Kind::LeftOut};
}

NameResult endsRun(const StepResult& end) {
    return {NameResult::Kind::RunEnds, end.status};
}

// A listed name may be a link to the merged file: reading it would feed
// the run its own output, or the earlier run's.
bool isOwnFile(const Run& run, const FileIdentity& identity) {
    return sameFile(identity, run.ownFiles.earlierMerged) ||
           sameFile(identity, run.ownFiles.staging);
}

// The name that the file `identity` was merged by earlier in this run, or
// null: several names (links) for one file give its records once.
const std::string* mergedBefore(const Run& run, const FileIdentity& identity) {
    const std::vector<FileIdentity>& merged = run.ownFiles.merged;
    for (std::size_t i = 0; i < merged.size(); ++i) {
        if (sameFile(identity, merged[i])) {
            return &run.ownFiles.mergedNames[i];
        }
    }
    return nullptr;
}

// Whether the open file of `path` is passed over, said in a message if so.
bool notRead(Run& run, const std::string& path, const FileIdentity& identity) {
    if (isOwnFile(run, identity)) {
        std::printf(" File %s is this run's merged file under another name; not read \n",
                    shownText(path).c_str());
        return true;
    }
    if (const std::string* first = mergedBefore(run, identity)) {
        std::printf(" File %s is the same file as %s; merged once \n", shownText(path).c_str(),
                    shownText(*first).c_str());
        return true;
    }
    if (identity.known) {
        run.ownFiles.merged.push_back(identity);
        run.ownFiles.mergedNames.push_back(path);
    }
    return false;
}

// Says why the file of `path` could not be opened for merging.
NameResult notOpened(Run& run, const std::string& path, const ListedFile& opened) {
    const std::string shown = shownText(path);
    switch (opened.outcome) {
    case ListedFileOpen::Failed:
        return endsRun(endAfterOpenFailure(run, path, opened.error));
    case ListedFileOpen::Refused:
        std::printf(" File %s is a link of another user to a file that user may not read; not "
                    "merged \n",
                    shown.c_str());
        break;
    case ListedFileOpen::Unjudged:
        std::printf(" File %s is a link of another user, and %s carries an access control list "
                    "that only a run as root can weigh for that user; not merged \n",
                    shown.c_str(), shownText(opened.detail).c_str());
        break;
    case ListedFileOpen::Changed:
        std::printf(" File %s was replaced while it was opened; not merged \n", shown.c_str());
        break;
    default:
        std::printf(" File %s is no longer a regular file; not merged \n", shown.c_str());
        break;
    }
    return leftOut(run);
}

}  // namespace

NameResult mergeListedName(Run& run, std::string name) {
    const std::string& ffFolder = run.paths.ffFolder;
    int camera = 0;
    if (!cameraNumberOf(name, camera)) {
        std::printf(" File %s has no camera number in its name; not merged \n",
                    shownText(ffFolder + name).c_str());
        return leftOut(run);
    }
    if (camera == 0) {
        return {NameResult::Kind::Skipped};  // such as the merged file of an earlier run
    }
    std::string detail;
    const NameProblem problem = listedNameForHost(ffFolder, name, detail);
    if (problem == NameProblem::Characters) {
        std::printf(" File %s has characters in its name that this program cannot use; not "
                    "merged \n",
                    shownText(ffFolder + name).c_str());
        return leftOut(run);
    }
    if (problem == NameProblem::PathTooLong) {
        std::printf(" File %s cannot be opened: %s; not merged \n",
                    shownText(ffFolder + name).c_str(), detail.c_str());
        return leftOut(run);
    }
    const std::string path = ffFolder + name;
    const ListedFile opened = openListedFile(run.folder, name);
    if (opened.outcome != ListedFileOpen::Opened) {
        return notOpened(run, path, opened);
    }
    if (notRead(run, path, opened.identity)) {
        std::fclose(opened.file);
        return leftOut(run);
    }
    const bool written = mergeFile(path, opened.file, *run.state);
    std::fclose(opened.file);
    return written ? NameResult{NameResult::Kind::Merged} : endsRun(endAfterWriteFailure(run));
}
