// Text in one Windows code page brought to another, as the names of the
// command interpreter's listing must be: cmd writes them in the console's
// output code page (an OEM code page such as 437, 850 or 866), and fopen
// takes names in the ANSI code page (such as 1252 or 1251).
#pragma once

#include <string>

// Converts `text` from code page `from` to code page `to`. `converted`
// receives the result, with '?' where a character has no place in `to`
// (`text` itself when nothing converts, as with an unknown code page);
// false when any character was lost, or `text` holds bytes that are no
// character of `from`.
bool convertCodePage(const std::string& text, unsigned from, unsigned to, std::string& converted);
