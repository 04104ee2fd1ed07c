// Geometry of the main dialog in dialog units and its conversion to the pixels of the FLTK
// window. No toolkit header, so the tests can pin the pixel layout; used by dialog_window.cpp.
#pragma once

// Base units of the template's font, an 8-point "MS Shell Dlg" (Tahoma) at 96 DPI: its average
// character is 6 px wide and its line 13 px high. One horizontal dialog unit is a quarter of
// the width, one vertical unit an eighth of the height: x px = dlu * 6 / 4, y px = dlu * 13 / 8.
constexpr int BASE_UNIT_X_PIXELS = 6;
constexpr int BASE_UNIT_Y_PIXELS = 13;

// Pixel size of that font in FLTK: 8 pt * 96 / 72 = 10.67 px, rounded.
constexpr int DIALOG_FONT_PIXELS = 11;

struct UnitRect {
  int x, y, width, height;  // dialog units
};

struct PixelRect {
  int x, y, width, height;  // pixels, from the client area's top left
};

// units * basePixels / divisor, to the nearest pixel with halves away from zero (the rounding of
// Win32's MulDiv): 105 * 6 / 4 = 157.5 gives 158, and -157.5 gives -158.
constexpr int dialogUnitsToPixels(int units, int basePixels, int divisor) {
  const long long product = static_cast<long long>(units) * basePixels;
  const long long half = divisor / 2;
  return static_cast<int>(product >= 0 ? (product + half) / divisor : -((-product + half) / divisor));
}

// Each edge is converted on its own, as the dialog manager maps a control's rectangle, so the
// width is px(x + width) - px(x) and controls that share an edge in units share it in pixels.
// The button: left 105 -> 157.5 -> 158, right 155 -> 232.5 -> 233, so 75 px wide.
constexpr PixelRect toPixels(UnitRect r) {
  const int left = dialogUnitsToPixels(r.x, BASE_UNIT_X_PIXELS, 4);
  const int top = dialogUnitsToPixels(r.y, BASE_UNIT_Y_PIXELS, 8);
  const int right = dialogUnitsToPixels(r.x + r.width, BASE_UNIT_X_PIXELS, 4);
  const int bottom = dialogUnitsToPixels(r.y + r.height, BASE_UNIT_Y_PIXELS, 8);
  return {left, top, right - left, bottom - top};
}

// The template, in tab order for the three controls that take the focus.
constexpr UnitRect DIALOG_CLIENT_UNITS = {0, 0, 162, 62};
constexpr UnitRect CHANGE_BUTTON_UNITS = {105, 39, 50, 14};
constexpr UnitRect NAME_FIELD_UNITS = {52, 7, 103, 14};
constexpr UnitRect CHAR_NAME_LABEL_UNITS = {8, 9, 37, 8};
constexpr UnitRect NEW_LEVEL_LABEL_UNITS = {8, 24, 34, 8};
// The template gives the list 57 units of height, which include its drop-down part; closed it
// is one line high like the name field.
constexpr UnitRect LEVEL_LIST_UNITS = {52, 23, 103, 14};
constexpr UnitRect POWERED_LABEL_UNITS = {8, 41, 92, 8};
