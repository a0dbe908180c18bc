// 64-bit positioning in a FILE, so merged files beyond 2 GiB work on every
// host (long is 32 bits on Windows).
#pragma once

#include <cstdint>
#include <cstdio>

#ifdef _WIN32
inline bool seekFile(std::FILE* file, std::int64_t offset, int origin) {
    return _fseeki64(file, offset, origin) == 0;
}
inline std::int64_t tellFile(std::FILE* file) {
    return _ftelli64(file);
}
#else
#include <sys/types.h>
inline bool seekFile(std::FILE* file, std::int64_t offset, int origin) {
    return fseeko(file, static_cast<off_t>(offset), origin) == 0;
}
inline std::int64_t tellFile(std::FILE* file) {
    return static_cast<std::int64_t>(ftello(file));
}
#endif
