// The system's own words for a Windows error code, as messages show them.
#pragma once

#include <string>

// The text Windows gives for `error` (a GetLastError code), without its
// closing full stop; "error <n>" when it has none.
std::string systemReason(unsigned long error);
