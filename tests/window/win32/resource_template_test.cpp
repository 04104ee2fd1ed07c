// Checks the compiled resources of the Win32 front end byte for byte: the dialog template
// IDD_MAIN and the icon group IDI_MAIN as windres writes them into a .res file (and, in the
// Windows build, as they sit in the linked level-editor.exe). Pairs with level_editor.rc.
#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

using Bytes = std::vector<std::uint8_t>;

// Little-endian reads that stop at the end of the bytes: a read past it yields 0 and sets
// overrun, so a truncated resource fails the test instead of reading out of bounds.
struct Reader {
  const Bytes& bytes;
  std::size_t offset = 0;
  bool overrun = false;

  std::uint32_t read(int byteCount) {
    if (offset + byteCount > bytes.size()) {
      overrun = true;
      offset = bytes.size();
      return 0;
    }
    std::uint32_t value = 0;
    for (int i = 0; i < byteCount; ++i) value |= std::uint32_t{bytes[offset + i]} << (8 * i);
    offset += byteCount;
    return value;
  }
  std::uint16_t u16() { return static_cast<std::uint16_t>(read(2)); }
  std::uint32_t u32() { return read(4); }
  // Templates and .res headers align their records to 4 bytes from the record's start.
  void alignTo4(std::size_t start) {
    while ((offset - start) % 4 != 0 && offset < bytes.size()) ++offset;
  }
  // A UTF-16 string up to its terminator; characters above 0x7F come back as '?', which no
  // expected text contains.
  std::string text() {
    std::string result;
    for (std::uint16_t c = u16(); c != 0 && !overrun; c = u16())
      result += c < 0x80 ? static_cast<char>(c) : '?';
    return result;
  }
};

// A name-or-ordinal field: 0xFFFF then a 16-bit ordinal, else a string (empty = none).
struct NameOrOrdinal {
  bool isOrdinal = false;
  std::uint16_t ordinal = 0;
  std::string text;
};

NameOrOrdinal readNameOrOrdinal(Reader& reader) {
  NameOrOrdinal field;
  const std::size_t start = reader.offset;
  if (reader.u16() == 0xFFFF) {
    field.isOrdinal = true;
    field.ordinal = reader.u16();
  } else {
    reader.offset = start;
    field.text = reader.text();
  }
  return field;
}

struct Resource {
  NameOrOrdinal type, name;
  std::uint16_t languageId = 0;
  Bytes data;
};

// A .res file: records of (data size, header size, type, name, 4-byte alignment, data
// version, memory flags, language, version, characteristics), each followed by its data
// padded to 4 bytes. The first record is the empty one that marks the format.
std::vector<Resource> readResFile(const Bytes& file, bool* wellFormed) {
  std::vector<Resource> resources;
  Reader reader{file};
  *wellFormed = true;
  while (reader.offset < file.size()) {
    const std::size_t start = reader.offset;
    const std::uint32_t dataBytes = reader.u32();
    const std::uint32_t headerBytes = reader.u32();
    Resource resource;
    resource.type = readNameOrOrdinal(reader);
    resource.name = readNameOrOrdinal(reader);
    reader.alignTo4(start);
    reader.u32();  // data version
    reader.u16();  // memory flags
    resource.languageId = reader.u16();
    if (reader.overrun || headerBytes < 32 || reader.offset + 8 != start + headerBytes ||
        start + headerBytes + dataBytes > file.size()) {
      *wellFormed = false;
      return resources;
    }
    const auto dataStart = file.begin() + static_cast<std::ptrdiff_t>(start + headerBytes);
    resource.data.assign(dataStart, dataStart + dataBytes);
    reader.offset = start + headerBytes + dataBytes;
    reader.alignTo4(start);
    if (start != 0) resources.push_back(resource);
  }
  return resources;
}

constexpr std::uint16_t TYPE_ICON = 3, TYPE_DIALOG = 5, TYPE_GROUP_ICON = 14;

const Resource* findResource(const std::vector<Resource>& resources, std::uint16_t type,
                             std::uint16_t id) {
  for (const Resource& resource : resources)
    if (resource.type.isOrdinal && resource.type.ordinal == type && resource.name.isOrdinal &&
        resource.name.ordinal == id)
      return &resource;
  return nullptr;
}

// Style bits with the values of the Win32 headers, written out so that this test does not
// take them from the same headers as the resource script.
constexpr std::uint32_t POPUP = 0x80000000, CHILD = 0x40000000, VISIBLE = 0x10000000,
                        CAPTION = 0x00C00000, BORDER = 0x00800000, SYSMENU = 0x00080000,
                        VSCROLL = 0x00200000, GROUP = 0x00020000, TABSTOP = 0x00010000,
                        CENTER = 0x0800, SETFONT = 0x40, FIXEDSYS = 0x08;
constexpr std::uint32_t DEFPUSHBUTTON = 0x1, AUTOHSCROLL = 0x80, LEFT = 0x0,
                        DROPDOWNLIST = 0x3, LOWERCASE = 0x4000;
constexpr std::uint32_t STATIC_ID = 0xFFFFFFFF;  // -1 with all 32 bits set
constexpr std::uint16_t BUTTON = 0x80, EDIT = 0x81, STATIC = 0x82, COMBOBOX = 0x85;

struct ExpectedControl {
  const char* name;
  std::uint32_t style;
  std::uint16_t x, y, width, height;  // dialog units
  std::uint32_t id;
  std::uint16_t classOrdinal;
  const char* text;
};

// Template order, which is also the tab order.
constexpr std::uint32_t LABEL = CHILD | VISIBLE | GROUP | LEFT;
const ExpectedControl EXPECTED_CONTROLS[] = {
    {"change button", CHILD | VISIBLE | TABSTOP | DEFPUSHBUTTON, 105, 39, 50, 14, 1004, BUTTON,
     "&Change"},
    {"name field", CHILD | VISIBLE | BORDER | TABSTOP | AUTOHSCROLL, 52, 7, 103, 14, 1001, EDIT,
     ""},
    {"name label", LABEL, 8, 9, 37, 8, STATIC_ID, STATIC, "CharName:"},
    {"level label", LABEL, 8, 24, 34, 8, STATIC_ID, STATIC, "NewLevel:"},
    {"level list", CHILD | VISIBLE | VSCROLL | TABSTOP | DROPDOWNLIST | LOWERCASE, 52, 23, 103,
     57, 1003, COMBOBOX, ""},
    {"credit", LABEL, 8, 41, 92, 8, STATIC_ID, STATIC, "^(Powered By Pemrak)^"},
};

class CompiledResources : public ::testing::Test {
 protected:
  void SetUp() override {
    std::ifstream file(LE_RESOURCE_FILE, std::ios::binary);
    ASSERT_TRUE(file) << "cannot open " << LE_RESOURCE_FILE;
    const Bytes bytes{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    bool wellFormed = false;
    resources = readResFile(bytes, &wellFormed);
    ASSERT_TRUE(wellFormed) << "the .res file's record headers do not add up";
  }
  std::vector<Resource> resources;
};

// The fixed header of the extended template: version 1, signature 0xFFFF, help id, extended
// style, style, control count, x, y, width, height; then no menu, the dialog class, the
// caption and the font (point size, weight, italic, character set, face).
TEST_F(CompiledResources, DialogHeaderIsTheExtendedTemplateOfTheTable) {
  const Resource* dialog = findResource(resources, TYPE_DIALOG, 9);
  ASSERT_NE(dialog, nullptr);
  Reader r{dialog->data};
  EXPECT_EQ((std::vector<std::uint32_t>{r.u16(), r.u16(), r.u32(), r.u32(), r.u32(), r.u16(), r.u16(),
                                        r.u16(), r.u16(), r.u16()}),
            (std::vector<std::uint32_t>{1, 0xFFFF, 0, 0, POPUP | CAPTION | SYSMENU | CENTER | SETFONT | FIXEDSYS,
                                        std::size(EXPECTED_CONTROLS), 0, 0, 162, 62}));
  const NameOrOrdinal menu = readNameOrOrdinal(r);
  const NameOrOrdinal windowClass = readNameOrOrdinal(r);
  EXPECT_TRUE(!menu.isOrdinal && menu.text.empty()) << "no menu";
  EXPECT_TRUE(!windowClass.isOrdinal && windowClass.text.empty()) << "the dialog class";
  EXPECT_EQ(r.text(), "Level Editor");
  EXPECT_EQ((std::vector<std::uint32_t>{r.u16(), r.u16(), r.read(1), r.read(1)}),
            (std::vector<std::uint32_t>{8, 400, 0, 1}));
  EXPECT_EQ(r.text(), "MS Shell Dlg");
  EXPECT_FALSE(r.overrun);
}

// Each control: help id, extended style, style, x, y, width, height, id, class ordinal, text
// and no creation data, 4-byte aligned from the template's start.
TEST_F(CompiledResources, ControlsFollowTheTableInTabOrder) {
  const Resource* dialog = findResource(resources, TYPE_DIALOG, 9);
  ASSERT_NE(dialog, nullptr);
  Reader r{dialog->data};
  r.offset = 26;  // past the fixed header, then menu, class, caption and font
  readNameOrOrdinal(r);
  readNameOrOrdinal(r);
  r.text();
  r.offset += 6;
  r.text();
  for (const ExpectedControl& expected : EXPECTED_CONTROLS) {
    SCOPED_TRACE(expected.name);
    r.alignTo4(0);
    EXPECT_EQ((std::vector<std::uint32_t>{r.u32(), r.u32(), r.u32(), r.u16(), r.u16(), r.u16(), r.u16(), r.u32()}),
              (std::vector<std::uint32_t>{0, 0, expected.style, expected.x, expected.y, expected.width,
                                          expected.height, expected.id}));
    const NameOrOrdinal windowClass = readNameOrOrdinal(r);
    const NameOrOrdinal text = readNameOrOrdinal(r);
    EXPECT_TRUE(windowClass.isOrdinal && !text.isOrdinal) << "class " << windowClass.text;
    EXPECT_EQ(windowClass.ordinal, expected.classOrdinal) << "class ordinal";
    EXPECT_EQ(text.text, expected.text);
    EXPECT_EQ(r.u16(), 0) << "creation data bytes";
  }
  EXPECT_FALSE(r.overrun);
  EXPECT_EQ(r.offset, dialog->data.size()) << "bytes after the last control";
}

// The group: reserved, type 1 (icon), one entry of 32 x 32 pixels, 16 colours, 1 plane, 4 bits
// per pixel, then the image's size and id. The image: a 40-byte bitmap header, 16 palette
// entries, 32 rows of 16 bytes of colour and 32 of 4 bytes of mask; its height counts both.
TEST_F(CompiledResources, IconIsOne32x32ImageIn16Colours) {
  EXPECT_EQ(resources.size(), 3u) << "resources besides the dialog, the icon group and its image";
  const Resource* group = findResource(resources, TYPE_GROUP_ICON, 104);
  ASSERT_NE(group, nullptr);
  Reader entry{group->data};
  EXPECT_EQ((std::vector<std::uint32_t>{entry.u16(), entry.u16(), entry.u16(), entry.read(1), entry.read(1),
                                        entry.read(1), entry.read(1), entry.u16(), entry.u16()}),
            (std::vector<std::uint32_t>{0, 1, 1, 32, 32, 16, 0, 1, 4}));
  const std::uint32_t imageBytes = entry.u32();
  const Resource* image = findResource(resources, TYPE_ICON, entry.u16());
  EXPECT_EQ(entry.offset, group->data.size());
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(image->data.size(), imageBytes);
  EXPECT_EQ(imageBytes, 40u + 16 * 4 + 32 * 16 + 32 * 4);
  Reader header{image->data};
  EXPECT_EQ((std::vector<std::uint32_t>{header.u32(), header.u32(), header.u32(), header.u16(), header.u16(),
                                        header.u32()}),
            (std::vector<std::uint32_t>{40, 32, 64, 1, 4, 0}));
}

#ifdef _WIN32
// The same resources, as the dialog manager finds them in the linked program.
TEST_F(CompiledResources, LinkedProgramCarriesTheSameBytes) {
  HMODULE program = LoadLibraryExA(LE_PROGRAM_FILE, nullptr, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(program, nullptr) << "cannot load " << LE_PROGRAM_FILE;
  const struct {
    const char* name;
    LPCSTR type;
    std::uint16_t typeOrdinal, id;
  } cases[] = {{"dialog", MAKEINTRESOURCEA(5), TYPE_DIALOG, 9},
               {"icon group", MAKEINTRESOURCEA(14), TYPE_GROUP_ICON, 104}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Resource* expected = findResource(resources, c.typeOrdinal, c.id);
    ASSERT_NE(expected, nullptr);
    HRSRC found = FindResourceA(program, MAKEINTRESOURCEA(c.id), c.type);
    ASSERT_NE(found, nullptr);
    const auto* data = static_cast<const std::uint8_t*>(LockResource(LoadResource(program, found)));
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(Bytes(data, data + SizeofResource(program, found)), expected->data);
  }
  FreeLibrary(program);
}
#endif

}  // namespace
