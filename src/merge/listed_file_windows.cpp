// Listed files on Windows: opening a name waits on nothing that can stand
// in a folder, but the open file is still checked to be a file on disk.
#include "listed_file.h"

#include <windows.h>
#include <io.h>

#include <cerrno>

ListedFileOpen openListedFile(const std::string& path, std::FILE*& file, int& error) {
    errno = 0;
    file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        error = errno != 0 ? errno : EIO;
        return ListedFileOpen::Failed;
    }
    if (GetFileType(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)))) != FILE_TYPE_DISK) {
        std::fclose(file);
        file = nullptr;
        return ListedFileOpen::NotAFile;
    }
    return ListedFileOpen::Opened;
}
