// The message box window, its nested loop, and the filter that disables a box's owner.
#include "app/fltk/message_box.h"

#include <FL/Fl.H>
#include <FL/Fl_Double_Window.H>
#include <FL/fl_draw.H>

#include <algorithm>
#include <vector>

#include "app/fltk/layout.h"
#include "app/fltk/widgets.h"

namespace {

// Pixels, at the dialog font of 11 px.
constexpr int TEXT_MARGIN = 18;         // around the text, in the white part
constexpr int BUTTON_MARGIN = 11;       // around the OK button, in the grey band
constexpr int BUTTON_WIDTH = 75;        // a 50 x 14 dlu push button
constexpr int BUTTON_HEIGHT = 23;
constexpr int MIN_TEXT_HEIGHT = 16;
constexpr int MIN_BOX_WIDTH = 160;
constexpr int CAPTION_ALLOWANCE = 64;   // the title bar's buttons beside the caption

struct OpenBox {
  Fl_Window* box;
  Fl_Window* owner;  // nullptr: no owner
  Fl_Widget* okButton;
};

// Boxes whose loop is running, innermost last; dialog's thread only.
std::vector<OpenBox> openBoxes;

bool isInputEvent(int event) {
  switch (event) {
    case FL_PUSH:
    case FL_RELEASE:
    case FL_DRAG:
    case FL_MOUSEWHEEL:
    case FL_KEYBOARD:
    case FL_KEYUP:
    case FL_SHORTCUT:
    case FL_CLOSE:
    case FL_PASTE:
    case FL_DND_ENTER:
    case FL_DND_DRAG:
    case FL_DND_RELEASE:
      return true;
    default:
      return false;
  }
}

// The innermost open box owned by window, or nullptr.
const OpenBox* boxOwnedBy(const Fl_Window* window) {
  for (auto it = openBoxes.rbegin(); it != openBoxes.rend(); ++it) {
    if (it->owner == window) return &*it;
  }
  return nullptr;
}

// Every event of the program passes here (Fl::event_dispatch). An owner's input is dropped, as
// for a disabled Win32 window; keys typed while it is under the pointer go to its box instead.
int filterEvent(int event, Fl_Window* window) {
  if (window != nullptr && isInputEvent(event)) {
    if (const OpenBox* owned = boxOwnedBy(window->top_window())) {
      if (event == FL_KEYBOARD || event == FL_KEYUP || event == FL_SHORTCUT) {
        if (!owned->box->contains(Fl::focus())) owned->okButton->take_focus();
        // FLTK offers a shortcut to the widget under the mouse first; under it lies the owner.
        if (window->top_window()->contains(Fl::belowmouse())) Fl::belowmouse(nullptr);
        return Fl::handle_(event, owned->box);
      }
      return 1;
    }
  }
  return Fl::handle_(event, window);
}

// Alt+F4 ends the box like its close box, also when typed at its owner (keys go to the box).
class MessageBoxWindow : public Fl_Double_Window {
 public:
  MessageBoxWindow(int width, int height) : Fl_Double_Window(width, height) {}
  int handle(int event) override {
    if (event == FL_SHORTCUT && isAltF4()) {
      do_callback();
      return 1;
    }
    return Fl_Double_Window::handle(event);
  }
};

void hideBox(Fl_Widget* widget, void*) {
  Fl_Window* box = widget->as_window() != nullptr ? widget->as_window() : widget->window();
  box->hide();
}

}  // namespace

bool isDisabledByMessageBox(const Fl_Window* owner) {
  return owner != nullptr && boxOwnedBy(owner) != nullptr;
}

void installMessageBoxFilter() { Fl::event_dispatch(filterEvent); }

void runMessageBox(Fl_Window* owner, const char* text, const char* caption) {
  int screenX = 0, screenY = 0, screenWidth = 0, screenHeight = 0;
  Fl::screen_work_area(screenX, screenY, screenWidth, screenHeight, 0);

  // Text on one line if it fits in 5/8 of the screen, else wrapped at that width.
  fl_font(DIALOG_FONT, DIALOG_FONT_PIXELS);
  const int maxTextWidth = std::max(MIN_BOX_WIDTH, screenWidth * 5 / 8);
  int textWidth = 0, textHeight = 0;
  fl_measure(text, textWidth, textHeight, 0);
  if (textWidth > maxTextWidth) {
    textWidth = maxTextWidth;
    textHeight = 0;
    fl_measure(text, textWidth, textHeight, 0);
  }
  textHeight = std::max(textHeight, MIN_TEXT_HEIGHT);
  int captionWidth = 0, captionHeight = 0;
  fl_measure(caption, captionWidth, captionHeight, 0);

  const int boxWidth = std::min(
      std::max({textWidth + 2 * TEXT_MARGIN, captionWidth + CAPTION_ALLOWANCE, MIN_BOX_WIDTH}),
      std::max(MIN_BOX_WIDTH, screenWidth));
  const int textAreaHeight = textHeight + 2 * TEXT_MARGIN;
  const int boxHeight = textAreaHeight + BUTTON_HEIGHT + 2 * BUTTON_MARGIN;

  MessageBoxWindow box(boxWidth, boxHeight);
  box.copy_label(caption);
  box.xclass("level-editor");
  Fl_Box textArea(0, 0, boxWidth, textAreaHeight);
  textArea.box(FL_FLAT_BOX);
  textArea.color(FL_WHITE);
  TextBox message(TEXT_MARGIN, TEXT_MARGIN, boxWidth - 2 * TEXT_MARGIN, textHeight, text);
  message.labelsize(DIALOG_FONT_PIXELS);
  DefaultButton ok(boxWidth - BUTTON_MARGIN - BUTTON_WIDTH, textAreaHeight + BUTTON_MARGIN,
                   BUTTON_WIDTH, BUTTON_HEIGHT, "OK");
  ok.labelsize(DIALOG_FONT_PIXELS);
  ok.callback(hideBox);
  box.end();
  // Escape and the close box end the box as OK does.
  box.callback(hideBox);
  // Kept above its owner by the window manager.
  if (owner != nullptr) box.set_non_modal();
  centreOnScreen(&box);

  openBoxes.push_back({&box, owner, &ok});
  box.show();
  ok.take_focus();
  while (box.shown()) Fl::wait();
  openBoxes.erase(std::find_if(openBoxes.begin(), openBoxes.end(),
                               [&box](const OpenBox& open) { return open.box == &box; }));
}
