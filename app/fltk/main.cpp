// Entry of the Linux program: opens the X display, runs the main dialog in an FLTK window and
// returns 0 when the dialog ends. Every path ends with 0, as the Win32 program's does, also the
// one without a display, whose message goes to stderr. Pairs with dialog_window.h and app/dialog.h.
#include <FL/Fl.H>
#include <FL/x.H>

#include <cstdio>

#include "app/dialog.h"
#include "app/fltk/dialog_window.h"
#include "app/fltk/message_box.h"
#include "app/fltk/widgets.h"

int main() {
  // FLTK itself would end the process on a missing display with a terse "Can't open display".
  Display* display = XOpenDisplay(nullptr);
  if (display == nullptr) {
    const char* name = XDisplayName(nullptr);
    std::fprintf(stderr,
                 "level-editor: no display: cannot open the X display \"%s\"%s.\n"
                 "Level Editor is a desktop window. Run it from a graphical session, or under a "
                 "virtual display: xvfb-run -a level-editor\n",
                 name, (name == nullptr || name[0] == '\0') ? " (DISPLAY is not set)" : "");
    return 0;
  }
  fl_open_display(display);
  installDialogFont();
  installMessageBoxFilter();
  setFrontEnd(&fltkFrontEnd());

  DialogWindow dialog;
  // Starts the music, loads XPHex.txt and fills the level list; a missing table ends the
  // process from in here, before the window is ever shown.
  dispatchDialogMessage(&dialog, MESSAGE_INITDIALOG, 0, 0);
  dialog.show();
  // The first tab stop takes the focus, as after a TRUE from the dialog's initialisation.
  dialog.change.take_focus();
  // A message box runs its own loop inside a handler; this one sees the end afterwards.
  while (!dialog.ended && Fl::wait()) {
  }
  return 0;
}
