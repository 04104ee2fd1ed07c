// The main dialog's FLTK window, its level list, and the FrontEnd operations on them.
//
// [SECTION] Messages to the dialog logic
// [SECTION] Level list
// [SECTION] Dialog window
// [SECTION] Icon
// [SECTION] FrontEnd operations
#include "app/fltk/dialog_window.h"

#include <FL/Fl.H>
#include <FL/Fl_Menu_Item.H>
#include <FL/Fl_RGB_Image.H>
#include <FL/fl_draw.H>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <initializer_list>
#include <string>
#include <vector>

#include "app/dialog.h"
#include "app/fltk/item_text.h"
#include "app/fltk/layout.h"
#include "app/fltk/message_box.h"
#include "app/resource.h"

namespace {

// [SECTION] Messages to the dialog logic

// Notification codes of the Win32 controls, sent in the high word of a command's wParam.
constexpr unsigned BN_CLICKED_CODE = 0;
constexpr unsigned EN_CHANGE_CODE = 0x0300;
constexpr unsigned CBN_SELCHANGE_CODE = 1;
// The command that Escape sends to a Win32 dialog.
constexpr int IDCANCEL_ID = 2;

// Neither reaches the dialog logic while a box owned by the dialog is open, whatever way
// FLTK routed the input (a shortcut goes to the widget under the mouse, for one).
void sendCommand(DialogWindow* dialog, int controlId, unsigned notificationCode,
                 Fl_Widget* control) {
  if (isDisabledByMessageBox(dialog)) return;
  const std::uintptr_t wParam =
      (static_cast<std::uintptr_t>(notificationCode) << 16) | static_cast<std::uint16_t>(controlId);
  dispatchDialogMessage(dialog, MESSAGE_COMMAND, wParam, reinterpret_cast<std::intptr_t>(control));
}

void sendClose(DialogWindow* dialog) {
  if (isDisabledByMessageBox(dialog)) return;
  dispatchDialogMessage(dialog, MESSAGE_CLOSE, 0, 0);
}

void onChangePressed(Fl_Widget* widget, void*) {
  sendCommand(static_cast<DialogWindow*>(widget->window()), IDC_CHANGE, BN_CLICKED_CODE, widget);
}

void onNameEdited(Fl_Widget* widget, void*) {
  sendCommand(static_cast<DialogWindow*>(widget->window()), IDC_NAME, EN_CHANGE_CODE, widget);
}

void onLevelPicked(Fl_Widget* widget, void*) {
  sendCommand(static_cast<DialogWindow*>(widget->window()), IDC_LEVEL, CBN_SELCHANGE_CODE, widget);
}

// FLTK calls a window's callback for its close box (the window manager's WM_DELETE_WINDOW)
// and for an Escape that no widget took. Escape is a Win32 dialog's IDCANCEL command, which the
// dialog logic ignores, so the window stays open.
void onWindowCallback(Fl_Widget* widget, void*) {
  auto* dialog = static_cast<DialogWindow*>(widget);
  if (Fl::event() == FL_SHORTCUT && Fl::event_key() == FL_Escape) {
    sendCommand(dialog, IDCANCEL_ID, BN_CLICKED_CODE, nullptr);
    return;
  }
  sendClose(dialog);
}

// [SECTION] Level list

bool startsWithIgnoringCase(const char* text, unsigned char key) {
  return text != nullptr && std::tolower(static_cast<unsigned char>(text[0])) == std::tolower(key);
}

}  // namespace

LevelList::LevelList(int x, int y, int width, int height) : Fl_Choice(x, y, width, height) {}

// Fl_Menu_::add would parse '/', '&' and '_' in the text and merge equal texts, so the list
// keeps its own item array and points the menu at it again after each growth.
void LevelList::addEntry(const char* text) {
  const int selected = value();
  texts_.emplace_back(text);
  Fl_Menu_Item item{};
  item.text = texts_.back().c_str();
  items_.insert(items_.end() - 1, item);
  menu(items_.data());
  // menu() selects the first entry; keep the selection as it was (none at start).
  if (selected >= 0) {
    value(selected);
  } else {
    value(static_cast<const Fl_Menu_Item*>(nullptr));
  }
}

void LevelList::select(int index) {
  if (value(index)) do_callback();
}

// As a click drops it: the same menu, its colours and the pick of an entry.
void LevelList::dropDown() {
  if (entryCount() == 0) return;
  const Fl_Color background = color();
  if (!Fl::scheme() && fl_contrast(textcolor(), FL_BACKGROUND2_COLOR) == textcolor()) {
    color(FL_BACKGROUND2_COLOR);
  }
  const Fl_Menu_Item* item = menu()->pulldown(x(), y(), w(), h(), mvalue(), this);
  color(background);
  if (item != nullptr) picked(item);
}

int LevelList::handle(int event) {
  if (event != FL_KEYBOARD || Fl::focus() != this) return Fl_Choice::handle(event);
  const int key = Fl::event_key();
  const bool alt = Fl::event_state(FL_ALT) && !Fl::event_state(FL_CTRL | FL_META);
  if ((key == FL_F + 4 && !Fl::event_state(FL_CTRL | FL_ALT | FL_META)) ||
      (alt && (key == FL_Down || key == FL_Up))) {
    dropDown();
    return 1;
  }
  if (Fl::event_state(FL_CTRL | FL_ALT | FL_META)) return Fl_Choice::handle(event);
  const int count = entryCount();
  const int current = value();  // -1: none selected
  // The template's 57 units of height leave 70 px below the closed list, 5 lines of 13 px: a
  // page keeps its last entry in view as the first of the next, so it moves 4 entries.
  constexpr int PAGE_STEP = 4;
  switch (key) {
    case FL_Page_Up:
      if (count > 0) select(current > PAGE_STEP ? current - PAGE_STEP : 0);
      return 1;
    case FL_Page_Down:
      if (count > 0) select(current + PAGE_STEP < count ? current + PAGE_STEP : count - 1);
      return 1;
    case FL_Up:
    case FL_Left:
      if (count > 0) select(current > 0 ? current - 1 : 0);
      return 1;
    case FL_Down:
    case FL_Right:
      if (count > 0) select(current + 1 < count ? current + 1 : count - 1);
      return 1;
    case FL_Home:
      if (count > 0) select(0);
      return 1;
    case FL_End:
      if (count > 0) select(count - 1);
      return 1;
    default:
      break;
  }
  const unsigned char typed = static_cast<unsigned char>(Fl::event_text()[0]);
  if (Fl::event_length() == 1 && typed > ' ' && typed != 0x7F) {
    // The next entry after the selected one that starts with the key, round the end: typing 1
    // again and again walks 1, 10, 11, ... 19, 1.
    for (int step = 1; step <= count; ++step) {
      const int index = (current + step) % count;
      if (startsWithIgnoringCase(menu()[index].label(), typed)) {
        select(index);
        break;
      }
    }
    return 1;
  }
  return Fl_Choice::handle(event);
}

// [SECTION] Dialog window

namespace {
constexpr PixelRect CLIENT = toPixels(DIALOG_CLIENT_UNITS);
constexpr PixelRect CHANGE = toPixels(CHANGE_BUTTON_UNITS);
constexpr PixelRect NAME = toPixels(NAME_FIELD_UNITS);
constexpr PixelRect CHAR_NAME = toPixels(CHAR_NAME_LABEL_UNITS);
constexpr PixelRect NEW_LEVEL = toPixels(NEW_LEVEL_LABEL_UNITS);
constexpr PixelRect LEVEL = toPixels(LEVEL_LIST_UNITS);
constexpr PixelRect POWERED = toPixels(POWERED_LABEL_UNITS);
}  // namespace

DialogWindow::DialogWindow()
    : Fl_Double_Window(CLIENT.width, CLIENT.height, "Level Editor"),
      change(CHANGE.x, CHANGE.y, CHANGE.width, CHANGE.height, "&Change"),
      name(NAME.x, NAME.y, NAME.width, NAME.height),
      charNameLabel(CHAR_NAME.x, CHAR_NAME.y, CHAR_NAME.width, CHAR_NAME.height, "CharName:"),
      newLevelLabel(NEW_LEVEL.x, NEW_LEVEL.y, NEW_LEVEL.width, NEW_LEVEL.height, "NewLevel:"),
      level(LEVEL.x, LEVEL.y, LEVEL.width, LEVEL.height),
      poweredLabel(POWERED.x, POWERED.y, POWERED.width, POWERED.height, "^(Powered By Pemrak)^") {
  end();
  xclass("level-editor");
  callback(onWindowCallback);
  change.labelsize(DIALOG_FONT_PIXELS);
  change.callback(onChangePressed);
  name.textfont(DIALOG_FONT);
  name.textsize(DIALOG_FONT_PIXELS);
  name.when(FL_WHEN_CHANGED);
  name.callback(onNameEdited);
  for (TextBox* label : {&charNameLabel, &newLevelLabel, &poweredLabel}) {
    label->labelsize(DIALOG_FONT_PIXELS);
  }
  level.textfont(DIALOG_FONT);
  level.textsize(DIALOG_FONT_PIXELS);
  level.when(FL_WHEN_CHANGED);
  level.callback(onLevelPicked);
  centreOnScreen(this);
}

int DialogWindow::handle(int event) {
  // Alt+F4 closes a Win32 window by itself; a window manager that keeps the key for itself
  // sends the close box's message instead, which arrives through onWindowCallback.
  if (event == FL_SHORTCUT && isAltF4()) {
    sendClose(this);
    return 1;
  }
  return Fl_Double_Window::handle(event);
}

// [SECTION] Icon

namespace {

constexpr int ICON_PIXELS = 32;

// A white arrow pointing up on a navy square with a one-pixel black edge, in RGBA; the
// corners stay transparent.
std::vector<unsigned char> iconPixels() {
  std::vector<unsigned char> rgba(ICON_PIXELS * ICON_PIXELS * 4, 0);
  for (int y = 0; y < ICON_PIXELS; ++y) {
    for (int x = 0; x < ICON_PIXELS; ++x) {
      unsigned char* pixel = &rgba[static_cast<std::size_t>((y * ICON_PIXELS + x) * 4)];
      const bool corner = (x < 2 || x > 29) && (y < 2 || y > 29);
      if (x < 1 || x > 30 || y < 1 || y > 30 || corner) continue;
      const bool edge = x == 1 || x == 30 || y == 1 || y == 30;
      // The head: rows 6..15, two pixels wide at the tip (columns 15 and 16, either side of the
      // centre 15.5) and one pixel wider a side on each row down; the shaft: columns 13..18,
      // rows 16..25.
      const bool head = y >= 6 && y <= 15 && std::abs(2 * x - 31) <= 2 * (y - 6) + 1;
      const bool shaft = y >= 16 && y <= 25 && x >= 13 && x <= 18;
      const bool arrow = head || shaft;
      pixel[0] = pixel[1] = (!edge && arrow) ? 255 : 0;
      pixel[2] = edge ? 0 : arrow ? 255 : 128;
      pixel[3] = 255;
    }
  }
  return rgba;
}

// [SECTION] FrontEnd operations

DialogWindow* dialogOf(DialogHandle dialog) { return static_cast<DialogWindow*>(dialog); }

// The text of control id as the Win32 dialog would give it; empty for an unknown id.
std::string itemText(DialogWindow* dialog, int id) {
  switch (id) {
    case IDC_NAME:
      return dialog->name.value();
    case IDC_LEVEL:
      return dialog->level.value() >= 0 ? dialog->level.text() : "";
    case IDC_CHANGE:
      return dialog->change.label();
    default:
      return "";
  }
}

void getItemText(DialogHandle dialog, int id, char* buffer, int bufferBytes) {
  copyItemText(itemText(dialogOf(dialog), id).c_str(), buffer, bufferBytes);
}

bool getItemInt(DialogHandle dialog, int id, std::int32_t* value) {
  return parseItemInt(itemText(dialogOf(dialog), id).c_str(), value);
}

void addListEntry(DialogHandle dialog, int id, const char* text) {
  if (id == IDC_LEVEL) dialogOf(dialog)->level.addEntry(text);
}

void setDialogIcon(DialogHandle dialog) {
  const std::vector<unsigned char> pixels = iconPixels();
  // The window keeps a copy of the image.
  const Fl_RGB_Image icon(pixels.data(), ICON_PIXELS, ICON_PIXELS, 4);
  dialogOf(dialog)->icon(&icon);
}

void messageBox(DialogHandle owner, const char* text, const char* caption) {
  runMessageBox(dialogOf(owner), text, caption);
}

void endDialog(DialogHandle dialog, int result) {
  DialogWindow* window = dialogOf(dialog);
  window->result = result;
  window->ended = true;
  window->hide();
}

// Static destructors are not run: the playback thread may still be running, as with
// ExitProcess. Buffered output is written first.
[[noreturn]] void exitProcess(int code) {
  std::fflush(nullptr);
  std::_Exit(code);
}

constexpr FrontEnd FLTK_FRONT_END = {getItemText,  getItemInt, addListEntry, setDialogIcon,
                                     messageBox,   endDialog,  exitProcess};

}  // namespace

const FrontEnd& fltkFrontEnd() { return FLTK_FRONT_END; }
