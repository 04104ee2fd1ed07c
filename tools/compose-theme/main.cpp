// compose-theme OUT.xm: writes the built-in theme, "Level Up", as an XM file.
#include <cstdio>

#include "tools/compose-theme/theme.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "Usage: compose-theme OUT.xm\nWrites the built-in theme \"Level Up\" as an XM file.\n");
    return 2;
  }
  if (!saveXm(composeTheme(), argv[1])) {
    std::fprintf(stderr, "compose-theme: cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
