// The FLTK window of the main dialog: the controls of the template at their places, the keys of
// a Win32 dialog, and the FrontEnd whose operations act on it. Pairs with app/dialog.h, whose
// messages the window sends, and main.cpp, which runs it.
#pragma once

#include <FL/Fl_Choice.H>
#include <FL/Fl_Double_Window.H>
#include <FL/Fl_Input.H>
#include <FL/Fl_Menu_Item.H>

#include <deque>
#include <string>
#include <vector>

#include "app/fltk/widgets.h"
#include "app/frontend.h"

// The level drop-down list with the keys of a closed Win32 drop-down list: Up/Left and
// Down/Right step, PgUp and PgDn move by a page, Home and End jump, a typed character picks the
// next entry that starts with it. Space, F4, Alt+Down, Alt+Up or a click drops it down; Enter
// then picks, Escape cancels.
class LevelList : public Fl_Choice {
 public:
  LevelList(int x, int y, int width, int height);
  int handle(int event) override;

  // Appends an entry, shown as text is (no menu syntax); equal texts stay separate entries.
  void addEntry(const char* text);
  int entryCount() const { return static_cast<int>(items_.size()) - 1; }

 private:
  void select(int index);
  void dropDown();

  std::deque<std::string> texts_;  // the entries' texts; a deque never moves its elements
  std::vector<Fl_Menu_Item> items_ = std::vector<Fl_Menu_Item>(1);  // ends with the empty item
};

class DialogWindow : public Fl_Double_Window {
 public:
  DialogWindow();
  int handle(int event) override;

  // In tab order, which is the order in the window.
  DefaultButton change;  // IDC_CHANGE
  Fl_Input name;         // IDC_NAME
  TextBox charNameLabel;
  TextBox newLevelLabel;
  LevelList level;  // IDC_LEVEL
  TextBox poweredLabel;

  bool ended = false;  // set by endDialog; main's loop then ends
  int result = 0;      // the value given to endDialog
};

// The operations of frontend.h on a DialogWindow (the DialogHandle) and on message boxes.
const FrontEnd& fltkFrontEnd();
