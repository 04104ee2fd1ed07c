// stat-based kind check of a character path. Pairs with editor/file_kind.h.
#include "editor/file_kind.h"

#include <sys/stat.h>

bool isRegularFile(const char* path) {
  struct stat status {};
  return stat(path, &status) == 0 && S_ISREG(status.st_mode);
}
