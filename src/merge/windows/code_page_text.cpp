#include "code_page_text.h"

#include <windows.h>

namespace {

// Code page text to UTF-16. False when a byte is no character of the code
// page; `wide` then holds the page's replacements for such bytes, or
// nothing when the code page is unknown.
bool toWide(const std::string& text, unsigned codePage, std::wstring& wide) {
    const int length = static_cast<int>(text.size());
    DWORD flags = MB_ERR_INVALID_CHARS;
    int wideLength = MultiByteToWideChar(codePage, flags, text.data(), length, nullptr, 0);
    if (wideLength == 0) {
        flags = 0;
        wideLength = MultiByteToWideChar(codePage, flags, text.data(), length, nullptr, 0);
    }
    wide.assign(static_cast<std::size_t>(wideLength), L'\0');
    if (wideLength > 0) {
        MultiByteToWideChar(codePage, flags, text.data(), length, wide.data(), wideLength);
    }
    return flags != 0 && wideLength > 0;
}

// UTF-16 to code page text, '?' for each character it has no place for;
// false when one had none. No look-alike ("best fit") stands in for a
// character: it would name some other file.
bool fromWide(const std::wstring& wide, unsigned codePage, std::string& text) {
    const int wideLength = static_cast<int>(wide.size());
    // UTF-8 has a place for everything but broken surrogates; it takes
    // neither the best-fit flag nor a default character.
    const bool utf8 = codePage == CP_UTF8;
    const DWORD flags = utf8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS;
    const char* defaultChar = utf8 ? nullptr : "?";
    BOOL lost = FALSE;
    BOOL* lostReport = utf8 ? nullptr : &lost;
    const int length = WideCharToMultiByte(codePage, flags, wide.data(), wideLength, nullptr, 0,
                                           defaultChar, lostReport);
    text.assign(static_cast<std::size_t>(length), '\0');
    if (length == 0) {
        return false;
    }
    WideCharToMultiByte(codePage, flags, wide.data(), wideLength, text.data(), length, defaultChar,
                        lostReport);
    return lost == FALSE;
}

}  // namespace

bool convertCodePage(const std::string& text, unsigned from, unsigned to, std::string& converted) {
    if (text.empty() || from == to) {
        converted = text;
        return true;
    }
    std::wstring wide;
    const bool valid = toWide(text, from, wide);
    if (!fromWide(wide, to, converted)) {
        if (converted.empty()) {
            converted = text;  // nothing came of it: the name as it was listed
        }
        return false;
    }
    return valid;
}
