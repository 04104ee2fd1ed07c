// Whether a path names a plain file, asked before XPHex.txt or a character file is opened.
// One implementation per platform: posix/file_kind.cpp and win32/file_kind.cpp.
#pragma once

// True when path (as fopen takes it, in this platform's narrow encoding) exists and is a
// regular file, following symbolic links. False for folders, devices (/dev/null; NUL.dat and
// CON.dat on Windows), FIFOs and sockets: opening a FIFO for reading would block the dialog
// until some writer appeared, reads from a device may never end, and writes to one would
// vanish while "Level Changed" shows.
bool isRegularFile(const char* path);
