// Small FLTK widgets that give the front end the look and keys of a Win32 dialog: the default
// push button and a text label drawn literally. Used by dialog_window.cpp and message_box.cpp.
#pragma once

#include <FL/Fl_Box.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Window.H>

// The dialog's font: DejaVu Sans Condensed, whose 11 px glyphs are about as wide as those of
// the template's 8-point Tahoma, so the labels fit the boxes the template gives them ("CharName:"
// is 55 px in its 56 px box; plain DejaVu Sans needs 64). fontconfig substitutes another sans
// where it is missing, and labels then wrap inside their boxes.
constexpr Fl_Font DIALOG_FONT = FL_FREE_FONT;
// Registers DIALOG_FONT with FLTK; once, before any window is created.
void installDialogFont();

// A push button that Enter (main or keypad, without Ctrl, Alt or Meta) presses from anywhere in
// its window unless the focused widget takes Enter first, as an open drop-down list does. Drawn
// with the dark frame of a default button. The label's '&' letter still works as a shortcut.
class DefaultButton : public Fl_Button {
 public:
  DefaultButton(int x, int y, int width, int height, const char* label);
  int handle(int event) override;

 protected:
  void draw() override;
};

// A label whose text is drawn as it is: no '@' symbols and no '&' underlines, so a file path
// or a name shows unchanged. Left aligned, wrapped at the box's width.
class TextBox : public Fl_Box {
 public:
  TextBox(int x, int y, int width, int height, const char* text);

 protected:
  void draw() override;
};

// Whether the key event being handled is Alt+F4, with which a Win32 window closes itself.
bool isAltF4();

// Places window in the middle of the work area of the first screen (DS_CENTER); call before
// show().
void centreOnScreen(Fl_Window* window);
