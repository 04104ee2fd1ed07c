// Message boxes of the FLTK front end: a window with the caption, the text and one "OK" button,
// no icon, run in a nested event loop like MessageBoxA. Pairs with dialog_window.cpp.
#pragma once

class Fl_Window;

// Installs the event filter that keeps an owner from taking input while a box it owns is open.
// Once, after the display is open; dialog's thread.
void installMessageBoxFilter();

// Whether a box owned by owner is open: the owner then takes no input, as a disabled window.
bool isDisabledByMessageBox(const Fl_Window* owner);

// Shows the box and returns when OK, Enter, Escape or the close box ends it. With an owner, the
// owner takes no input (clicks, keys, its close box) until then; with owner nullptr every other
// window stays usable, so further boxes can open and nest. Dialog's thread.
void runMessageBox(Fl_Window* owner, const char* text, const char* caption);
