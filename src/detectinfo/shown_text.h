// Texts from files and folders as the program's messages show them.
#pragma once

#include <string>
#include <string_view>

// `text` with every control character (bytes below 0x20, and 0x7F) written
// as \xNN, so that a NUL, a line end or an escape sequence cannot cut or
// garble a message line.
std::string shownText(std::string_view text);
