// Writes the program's icon, app/win32/level_editor.ico: one 32 x 32 image in 16 colours
// (4 bits per pixel) of a yellow up-arrow over four rising level bars. Deterministic: the
// committed .ico is this program's output, and a test checks that they still agree.
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <vector>

namespace {

constexpr int ICON_PIXELS = 32;  // width and height
constexpr int TRANSPARENT = -1;  // no colour: the AND mask lets the background through

// The 16 colours of the standard Windows palette, by index; the image uses four of them.
enum Colour : int { BLACK = 0, DARK_GREEN = 2, LIME = 10, YELLOW = 11 };
constexpr std::uint8_t PALETTE_RGB[16][3] = {
    {0x00, 0x00, 0x00}, {0x80, 0x00, 0x00}, {0x00, 0x80, 0x00}, {0x80, 0x80, 0x00},
    {0x00, 0x00, 0x80}, {0x80, 0x00, 0x80}, {0x00, 0x80, 0x80}, {0xC0, 0xC0, 0xC0},
    {0x80, 0x80, 0x80}, {0xFF, 0x00, 0x00}, {0x00, 0xFF, 0x00}, {0xFF, 0xFF, 0x00},
    {0x00, 0x00, 0xFF}, {0xFF, 0x00, 0xFF}, {0x00, 0xFF, 0xFF}, {0xFF, 0xFF, 0xFF}};

using Image = std::vector<int>;  // ICON_PIXELS rows of ICON_PIXELS indexes, top row first

int& at(Image& image, int x, int y) { return image[y * ICON_PIXELS + x]; }

bool insideArrow(int x, int y) {
  // Head: a triangle with its apex at (9, 2), 6 pixels wider on each side at row 8.
  if (y >= 2 && y <= 8) return x >= 9 - (y - 2) && x <= 9 + (y - 2);
  // Shaft: 5 pixels wide down to row 16, above the second bar.
  return y >= 9 && y <= 16 && x >= 7 && x <= 11;
}

// The colour of (x, y) in one of four bars, 6 pixels wide with gaps of 1, standing on row 29
// and each 5 pixels taller than the one before; the right two columns are shaded.
int barColour(int x, int y) {
  for (int bar = 0; bar < 4; ++bar) {
    const int left = 3 + 7 * bar, right = left + 5;
    const int top = 29 - (7 + 5 * bar);
    if (x >= left && x <= right && y >= top && y <= 29) return x >= right - 1 ? DARK_GREEN : LIME;
  }
  return TRANSPARENT;
}

Image drawIcon() {
  Image image(ICON_PIXELS * ICON_PIXELS, TRANSPARENT);
  for (int y = 0; y < ICON_PIXELS; ++y)
    for (int x = 0; x < ICON_PIXELS; ++x) {
      at(image, x, y) = insideArrow(x, y) ? YELLOW : barColour(x, y);
    }
  // A black outline, one pixel wide, around every shape (8-neighbourhood), so the icon reads
  // on light and dark title bars alike.
  Image outlined = image;
  for (int y = 0; y < ICON_PIXELS; ++y)
    for (int x = 0; x < ICON_PIXELS; ++x) {
      if (image[y * ICON_PIXELS + x] != TRANSPARENT) continue;
      for (int dy = -1; dy <= 1; ++dy)
        for (int dx = -1; dx <= 1; ++dx) {
          const int nx = x + dx, ny = y + dy;
          if (nx >= 0 && ny >= 0 && nx < ICON_PIXELS && ny < ICON_PIXELS &&
              image[ny * ICON_PIXELS + nx] != TRANSPARENT && image[ny * ICON_PIXELS + nx] != BLACK)
            at(outlined, x, y) = BLACK;
        }
    }
  return outlined;
}

void put16(std::vector<std::uint8_t>& out, unsigned value) {
  out.push_back(value & 0xFF);
  out.push_back((value >> 8) & 0xFF);
}
void put32(std::vector<std::uint8_t>& out, std::uint32_t value) {
  put16(out, value & 0xFFFF);
  put16(out, value >> 16);
}

// The .ico file: directory, one entry, then the image as a DIB whose height counts both the
// colour (XOR) bitmap and the AND mask, rows bottom-up, each row a multiple of 4 bytes.
std::vector<std::uint8_t> encodeIcon(const Image& image) {
  constexpr std::uint32_t HEADER_BYTES = 40, PALETTE_BYTES = 16 * 4;
  constexpr std::uint32_t XOR_ROW_BYTES = ICON_PIXELS / 2, AND_ROW_BYTES = ICON_PIXELS / 8;
  constexpr std::uint32_t BITS_BYTES = (XOR_ROW_BYTES + AND_ROW_BYTES) * ICON_PIXELS;
  constexpr std::uint32_t IMAGE_BYTES = HEADER_BYTES + PALETTE_BYTES + BITS_BYTES;  // 744
  constexpr std::uint32_t DIRECTORY_BYTES = 6 + 16;

  std::vector<std::uint8_t> out;
  put16(out, 0);  // reserved
  put16(out, 1);  // type: icon
  put16(out, 1);  // image count
  out.push_back(ICON_PIXELS);
  out.push_back(ICON_PIXELS);
  out.push_back(16);  // colours
  out.push_back(0);   // reserved
  put16(out, 1);      // planes
  put16(out, 4);      // bits per pixel
  put32(out, IMAGE_BYTES);
  put32(out, DIRECTORY_BYTES);

  put32(out, HEADER_BYTES);
  put32(out, ICON_PIXELS);
  put32(out, 2 * ICON_PIXELS);  // colour bitmap and mask stacked
  put16(out, 1);                // planes
  put16(out, 4);                // bits per pixel
  put32(out, 0);                // BI_RGB
  put32(out, BITS_BYTES);
  put32(out, 0);  // horizontal resolution: unused
  put32(out, 0);  // vertical resolution: unused
  put32(out, 0);  // colours used: 0 means all 16
  put32(out, 0);  // important colours: all
  for (const auto& rgb : PALETTE_RGB) {
    out.push_back(rgb[2]);
    out.push_back(rgb[1]);
    out.push_back(rgb[0]);
    out.push_back(0);
  }
  // Colour bitmap: the left pixel of each pair in the high nibble; transparent pixels are 0,
  // so that the mask's XOR leaves the background unchanged.
  for (int y = ICON_PIXELS - 1; y >= 0; --y)
    for (int x = 0; x < ICON_PIXELS; x += 2) {
      const int left = image[y * ICON_PIXELS + x], right = image[y * ICON_PIXELS + x + 1];
      out.push_back(static_cast<std::uint8_t>(((left < 0 ? 0 : left) << 4) | (right < 0 ? 0 : right)));
    }
  // AND mask: 1 bits are transparent, the leftmost pixel in the most significant bit.
  for (int y = ICON_PIXELS - 1; y >= 0; --y)
    for (int x = 0; x < ICON_PIXELS; x += 8) {
      std::uint8_t bits = 0;
      for (int i = 0; i < 8; ++i)
        if (image[y * ICON_PIXELS + x + i] == TRANSPARENT) bits |= 0x80 >> i;
      out.push_back(bits);
    }
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make-icon OUTPUT.ico\n");
    return 2;
  }
  const std::vector<std::uint8_t> bytes = encodeIcon(drawIcon());
  std::ofstream file(argv[1], std::ios::binary | std::ios::trunc);
  file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  file.close();
  if (!file) {
    std::fprintf(stderr, "make-icon: cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
