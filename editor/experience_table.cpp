// The experience table's reader: whitespace-separated tokens of XPHex.txt, kept as bytes.
// Pairs with experience_table.h.
#include "editor/experience_table.h"

#include <cstdio>

#include "editor/file_kind.h"

namespace {

// Exactly the six bytes of the C locale's isspace, fixed here so that no locale can widen them.
bool isTableWhitespace(int byte) {
  return byte == ' ' || byte == '\t' || byte == '\n' || byte == '\v' || byte == '\f' ||
         byte == '\r';
}

}  // namespace

ExperienceTableLoad loadExperienceTable() {
  ExperienceTableLoad load;
  // Binary: a text-mode read on Windows would fold CR LF and stop at a 1A byte. Only a regular
  // file: a folder opens on Linux and reads as an empty table, a FIFO would block the start
  // until some writer came, and /dev/zero would be one endless token.
  std::FILE* file = isRegularFile("XPHex.txt") ? std::fopen("XPHex.txt", "rb") : nullptr;
  if (file == nullptr) {
    load.failure = EditorMessage{"Can not open file 'XPHex.txt'!", "Error"};
    return load;
  }
  // getc yields EOF at the end and on a read error alike, so an error ends the loop like the
  // end of the file and the token being read is still kept.
  int byte = std::getc(file);
  for (;;) {
    while (byte != EOF && isTableWhitespace(byte)) byte = std::getc(file);
    if (byte == EOF) break;
    std::string token;
    while (byte != EOF && !isTableWhitespace(byte)) {
      token.push_back(static_cast<char>(byte));
      byte = std::getc(file);
    }
    load.table.push_back(std::move(token));
  }
  std::fclose(file);
  return load;
}
