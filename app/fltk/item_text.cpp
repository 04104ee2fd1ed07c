// Control text for the dialog logic: the copy with a byte limit and the signed integer reading.
#include "app/fltk/item_text.h"

#include <cstddef>
#include <cstring>

namespace {

// A UTF-8 continuation byte is 10xxxxxx.
bool isContinuationByte(unsigned char byte) { return (byte & 0xC0) == 0x80; }

}  // namespace

void copyItemText(const char* text, char* buffer, int bufferBytes) {
  if (bufferBytes <= 0) return;
  const std::size_t textBytes = std::strlen(text);
  std::size_t copyBytes = static_cast<std::size_t>(bufferBytes - 1);
  if (textBytes <= copyBytes) {
    copyBytes = textBytes;
  } else {
    // The cut falls before text[copyBytes]; while that byte continues a character, the
    // character's lead byte is before the cut too, so move the cut back over them all.
    while (copyBytes > 0 && isContinuationByte(static_cast<unsigned char>(text[copyBytes]))) {
      --copyBytes;
    }
  }
  std::memcpy(buffer, text, copyBytes);
  buffer[copyBytes] = '\0';
}

bool parseItemInt(const char* text, std::int32_t* value) {
  *value = 0;
  const char* at = text;
  while (*at == ' ' || *at == '\t') ++at;
  const bool negative = *at == '-';
  if (negative) ++at;
  if (*at < '0' || *at > '9') return false;
  // Magnitude in 64 bits; the limit is 2^31 for a negative value, 2^31 - 1 otherwise.
  const long long limit = negative ? 2147483648LL : 2147483647LL;
  long long magnitude = 0;
  for (; *at >= '0' && *at <= '9'; ++at) {
    magnitude = magnitude * 10 + (*at - '0');
    if (magnitude > limit) return false;
  }
  if (*at != '\0') return false;
  *value = static_cast<std::int32_t>(negative ? -magnitude : magnitude);
  return true;
}
