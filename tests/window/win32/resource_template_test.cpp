// The Win32 dialog template as windres compiles it, against the FLTK window's layout table
// (app/fltk/layout.h): both front ends show the same controls, in the same tab order, at the
// same places, and the FLTK pixels are worked out from the font the template names.
#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "app/fltk/layout.h"
#include "app/resource.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// Little-endian reads through a template; at() throws past the end, which fails the test.
struct Reader {
  const Bytes& bytes;
  std::size_t at = 0;
  const std::uint8_t* take(std::size_t n) { return &bytes.at((at += n) - 1) - (n - 1); }
  std::uint16_t u16() {
    const std::uint8_t* at = take(2);
    return static_cast<std::uint16_t>(at[0] | at[1] << 8);
  }
  std::uint32_t u32() {
    const std::uint32_t low = u16();
    return low | std::uint32_t{u16()} << 16;
  }
  // A UTF-16 string to its terminator, as ASCII.
  std::string text() {
    std::string result;
    for (std::uint16_t c = u16(); c != 0; c = u16()) result += static_cast<char>(c);
    return result;
  }
};

// IDD_MAIN's data in a .res file, whose records are a data size, a header size, then the type
// and the name, each 0xFFFF and an ordinal when numeric; records are padded to 4 bytes.
Bytes dialogTemplate(const Bytes& file) {
  constexpr std::uint16_t TYPE_DIALOG = 5;
  Reader r{file};
  while (r.at < file.size()) {
    const std::size_t start = r.at;
    const std::uint32_t dataBytes = r.u32(), headerBytes = r.u32();
    const std::size_t data = start + headerBytes;
    if (data + dataBytes > file.size()) break;
    const std::uint32_t type = r.u32();
    if (type == (TYPE_DIALOG << 16 | 0xFFFFu) && r.u32() == (IDD_MAIN << 16 | 0xFFFFu))
      return Bytes(file.begin() + data, file.begin() + data + dataBytes);
    r.at = (data + dataBytes + 3) & ~std::size_t{3};
  }
  return {};
}

TEST(DialogTemplate, MatchesTheFltkLayout) {
  std::ifstream file(LE_RESOURCE_FILE, std::ios::binary);
  ASSERT_TRUE(file) << "cannot open " << LE_RESOURCE_FILE;
  const Bytes dialog = dialogTemplate({std::istreambuf_iterator<char>(file), {}});
  ASSERT_FALSE(dialog.empty()) << "no dialog " << IDD_MAIN;

  // The extended template: version, signature, help id, extended style, style, control count,
  // x, y, width, height; no menu, the default class, the caption, then the font (point size,
  // weight, italic, character set, face), whose base units layout.h converts with.
  Reader r{dialog};
  EXPECT_EQ(r.u32(), 0xFFFF0001u);
  r.at += 12;
  const struct { const char* name; unsigned classOrdinal; int id; UnitRect units; const char* text; } controls[] = {
      {"change button", 0x80, IDC_CHANGE, CHANGE_BUTTON_UNITS, "&Change"},
      {"name field", 0x81, IDC_NAME, NAME_FIELD_UNITS, ""},
      {"name label", 0x82, -1, CHAR_NAME_LABEL_UNITS, "CharName:"},
      {"level label", 0x82, -1, NEW_LEVEL_LABEL_UNITS, "NewLevel:"},
      {"level list", 0x85, IDC_LEVEL, LEVEL_LIST_UNITS, ""},
      {"credit", 0x82, -1, POWERED_LABEL_UNITS, "^(Powered By Pemrak)^"},
  };
  EXPECT_EQ(r.u16(), std::size(controls));
  const UnitRect client = {r.u16(), r.u16(), r.u16(), r.u16()};
  EXPECT_EQ(std::vector({client.x, client.y, client.width, client.height}),
            std::vector({DIALOG_CLIENT_UNITS.x, DIALOG_CLIENT_UNITS.y, DIALOG_CLIENT_UNITS.width,
                         DIALOG_CLIENT_UNITS.height}));
  EXPECT_EQ(r.u32(), 0u) << "a menu or a class";
  EXPECT_EQ(r.text(), "Level Editor");
  EXPECT_EQ(r.u16(), 8) << "point size";
  r.at += 4;
  EXPECT_EQ(r.text(), "MS Shell Dlg");

  // Each control, 4-byte aligned: help id, extended style, style, x, y, width, height, id,
  // class (0xFFFF and an ordinal), text, creation data size.
  for (const auto& expected : controls) {
    SCOPED_TRACE(expected.name);
    r.at = (r.at + 3) & ~std::size_t{3};
    r.at += 12;
    const UnitRect units = {r.u16(), r.u16(), r.u16(), r.u16()};
    // Closed, the list is one line high in FLTK; the template's height includes the drop-down.
    const int height = expected.id == IDC_LEVEL ? 57 : expected.units.height;
    EXPECT_EQ(std::vector({units.x, units.y, units.width, units.height}),
              std::vector({expected.units.x, expected.units.y, expected.units.width, height}));
    EXPECT_EQ(static_cast<int>(r.u32()), expected.id);
    EXPECT_EQ(r.u32(), 0xFFFFu | expected.classOrdinal << 16) << "class ordinal";
    EXPECT_EQ(r.text(), expected.text);
    EXPECT_EQ(r.u16(), 0) << "creation data";
  }
  EXPECT_EQ(r.at, dialog.size()) << "bytes after the last control";
}

}  // namespace
