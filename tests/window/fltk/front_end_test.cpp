// The FLTK front end's toolkit-free parts: control text as the dialog logic reads it, and the
// dialog-unit layout in pixels.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <tuple>

#include "app/fltk/item_text.h"
#include "app/fltk/layout.h"

namespace {

TEST(CopyItemText, KeepsAtMostBufferBytesLessOneAndNeverHalfACharacter) {
  struct Case { const char* name; std::string text; int bufferBytes; std::string expected; };
  const std::string a(97, 'a');
  const Case cases[] = {
      {"short name whole", "Hero123", 99, "Hero123"},
      {"120 characters give their first 98", std::string(120, 'b'), 99, std::string(98, 'b')},
      {"two-byte character that ends at the limit", a.substr(1) + "\xC3\xA9", 99, a.substr(1) + "\xC3\xA9"},
      {"two-byte character across the limit", a + "\xC3\xA9", 99, a},
      {"three-byte character across the limit", a.substr(1) + "\xE2\x82\xAC", 99, a.substr(1)},
      {"four-byte character across the limit", a.substr(2) + "\xF0\x9F\x98\x80", 99, a.substr(2)},
      {"buffer of one byte", "abc", 1, ""},
      {"buffer of no bytes is left alone", "abc", 0, "xxxx"},
  };
  for (const Case& c : cases) {
    char buffer[128];
    std::memset(buffer, 'x', sizeof buffer);
    buffer[c.bufferBytes == 0 ? 4 : sizeof buffer - 1] = '\0';
    copyItemText(c.text.c_str(), buffer, c.bufferBytes);
    EXPECT_EQ(std::string(buffer), c.expected) << c.name;
    EXPECT_TRUE(c.bufferBytes == 0 || buffer[c.bufferBytes] == 'x') << c.name << ": wrote past the buffer";
  }
}

TEST(DialogLayout, TemplateInPixels) {
  // Worked by hand from the edges. The right edge at 155 units, shared by the name field, the
  // list and the button, is 232.5 px and rounds away from zero to 233 (to even it would be 232);
  // "CharName:"'s top, 9 * 13 / 8 = 14.625, rounds to 15 where truncation would give 14.
  struct Case { const char* name; UnitRect units; PixelRect pixels; };
  const Case cases[] = {
      {"client area", DIALOG_CLIENT_UNITS, {0, 0, 243, 101}},
      {"&Change", CHANGE_BUTTON_UNITS, {158, 63, 75, 23}},
      {"name field", NAME_FIELD_UNITS, {78, 11, 155, 23}},
      {"CharName:", CHAR_NAME_LABEL_UNITS, {12, 15, 56, 13}},
      {"NewLevel:", NEW_LEVEL_LABEL_UNITS, {12, 39, 51, 13}},
      {"level list", LEVEL_LIST_UNITS, {78, 37, 155, 23}},
      {"Powered By", POWERED_LABEL_UNITS, {12, 67, 138, 13}},
  };
  const PixelRect client = toPixels(DIALOG_CLIENT_UNITS);
  for (const Case& c : cases) {
    const PixelRect p = toPixels(c.units);
    EXPECT_EQ(std::make_tuple(p.x, p.y, p.width, p.height),
              std::make_tuple(c.pixels.x, c.pixels.y, c.pixels.width, c.pixels.height)) << c.name;
    EXPECT_TRUE(p.x + p.width <= client.width && p.y + p.height <= client.height)
        << c.name << " leaves the client area";
  }
}

}  // namespace
