# Copies a text file with CR LF line ends, as Windows' Notepad shows them:
#   cmake -DSOURCE=<file> -DTARGET=<file> -P cmake/crlf-copy.cmake
# Lines that already end in CR LF stay as they are.
file(READ "${SOURCE}" text)
string(REPLACE "\r\n" "\n" text "${text}")
string(REPLACE "\n" "\r\n" text "${text}")
file(WRITE "${TARGET}" "${text}")
