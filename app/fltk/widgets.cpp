// The default push button, the literal text label and the centring of a window.
#include "app/fltk/widgets.h"

#include <FL/Fl.H>
#include <FL/fl_draw.H>

void installDialogFont() { Fl::set_font(DIALOG_FONT, " DejaVu Sans Condensed"); }

DefaultButton::DefaultButton(int x, int y, int width, int height, const char* label)
    : Fl_Button(x, y, width, height, label) {
  labelfont(DIALOG_FONT);
}

int DefaultButton::handle(int event) {
  if (event == FL_SHORTCUT && active_r() && visible_r() &&
      (Fl::event_key() == FL_Enter || Fl::event_key() == FL_KP_Enter) &&
      !Fl::event_state(FL_CTRL | FL_ALT | FL_META)) {
    do_callback();
    return 1;
  }
  return Fl_Button::handle(event);
}

void DefaultButton::draw() {
  Fl_Button::draw();
  // The default button's one-pixel dark outline, drawn over the outer edge of the box.
  fl_color(FL_DARK3);
  fl_rect(x(), y(), w(), h());
}

TextBox::TextBox(int x, int y, int width, int height, const char* text)
    : Fl_Box(x, y, width, height) {
  copy_label(text);
  labelfont(DIALOG_FONT);
}

void TextBox::draw() {
  draw_box();
  fl_font(labelfont(), labelsize());
  fl_color(active_r() ? labelcolor() : fl_inactive(labelcolor()));
  fl_draw(label(), x(), y(), w(), h(), FL_ALIGN_TOP_LEFT | FL_ALIGN_INSIDE | FL_ALIGN_WRAP, nullptr,
          0);
}

bool isAltF4() {
  return Fl::event_key() == FL_F + 4 && Fl::event_state(FL_ALT) &&
         !Fl::event_state(FL_CTRL | FL_SHIFT | FL_META);
}

void centreOnScreen(Fl_Window* window) {
  int screenX = 0, screenY = 0, screenWidth = 0, screenHeight = 0;
  Fl::screen_work_area(screenX, screenY, screenWidth, screenHeight, 0);
  window->position(screenX + (screenWidth - window->w()) / 2,
                   screenY + (screenHeight - window->h()) / 2);
}
