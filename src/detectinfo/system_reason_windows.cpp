#include "system_reason.h"

#include <windows.h>

std::string systemReason(unsigned long error) {
    char* text = nullptr;
    const DWORD length = FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, error, 0, reinterpret_cast<LPSTR>(&text), 0, nullptr);
    std::string reason = length > 0 ? std::string(text, length) : "error " + std::to_string(error);
    LocalFree(text);
    while (!reason.empty() && (reason.back() == '\n' || reason.back() == '\r' ||
                               reason.back() == ' ' || reason.back() == '.')) {
        reason.pop_back();
    }
    return reason;
}
