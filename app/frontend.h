// The handful of operations that the dialog logic (dialog.cpp) needs from a windowing
// platform. Each front end (app/win32, app/fltk, and the recording one of the tests) fills
// one FrontEnd and hands it to setFrontEnd before the dialog starts.
#pragma once

#include <cstdint>

using DialogHandle = void*;  // the platform's dialog window; nullptr = no owner

struct FrontEnd {
  // Copies control id's text into buffer, at most bufferBytes bytes with the terminator.
  void (*getItemText)(DialogHandle dialog, int id, char* buffer, int bufferBytes);
  // Control id's text as a signed decimal integer; false when it is none (or empty).
  bool (*getItemInt)(DialogHandle dialog, int id, std::int32_t* value);
  // Appends an entry to the list control id; entries keep the order in which they are added.
  void (*addListEntry)(DialogHandle dialog, int id, const char* text);
  // Loads IDI_MAIN and makes it the dialog's big icon; a failure keeps the default icon.
  void (*setDialogIcon)(DialogHandle dialog);
  // A modal box with one OK button and no icon; owner nullptr leaves the dialog usable.
  void (*messageBox)(DialogHandle owner, const char* text, const char* caption);
  // Ends the modal dialog; the dialog's runner then returns result.
  void (*endDialog)(DialogHandle dialog, int result);
  // Ends the process at once with the given exit code.
  void (*exitProcess)(int code);
};

void setFrontEnd(const FrontEnd* frontEnd);
const FrontEnd& frontEnd();
