// File identity on Windows: the volume's serial number and the file's
// index on that volume.
#include "file_identity.h"

#include <windows.h>
#include <io.h>

namespace {

FileIdentity identityOfHandle(HANDLE handle) {
    BY_HANDLE_FILE_INFORMATION information{};
    if (handle == INVALID_HANDLE_VALUE || GetFileInformationByHandle(handle, &information) == 0) {
        return FileIdentity{};
    }
    FileIdentity identity;
    identity.volume = information.dwVolumeSerialNumber;
    identity.index = (std::uint64_t{information.nFileIndexHigh} << 32) | information.nFileIndexLow;
    identity.known = true;
    return identity;
}

}  // namespace

FileIdentity identityOfPath(const std::string& path) {
    // No access is asked for, and every kind of sharing is granted, so that
    // a file open for writing elsewhere can still be looked at.
    HANDLE handle = CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    FileIdentity identity = identityOfHandle(handle);
    if (handle != INVALID_HANDLE_VALUE) {
        CloseHandle(handle);
    }
    return identity;
}

FileIdentity identityOfOpenFile(std::FILE* file) {
    return identityOfHandle(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file))));
}
