// Reading a control's text the way the dialog logic expects it from Win32's GetDlgItemTextA and
// GetDlgItemInt. No toolkit header; the FLTK front end (dialog_window.cpp) calls these.
#pragma once

#include <cstdint>

// Copies text into buffer with at most bufferBytes - 1 bytes and the terminator, so 99 gives
// at most 98 bytes. The text is UTF-8: a character that would not fit whole is left out with
// all its bytes, so a cut never leaves half a character in a file name. bufferBytes <= 0
// writes nothing.
void copyItemText(const char* text, char* buffer, int bufferBytes);

// text as a signed decimal integer: leading spaces and tabs skipped, an optional '-', then one
// or more digits up to the end. Anything else (empty, a sign alone, other characters, a value
// outside int32_t) fails with *value = 0.
bool parseItemInt(const char* text, std::int32_t* value);
