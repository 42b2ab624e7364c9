/* UTF-8 <-> UTF-16 for C hosts: the module takes and gives NUL-terminated UTF-16 paths and
 * messages, C programs usually hold UTF-8. Header-only, no allocation, no locale.
 *
 *   SLChar16 path[512];
 *   if (sl_utf8_to_utf16("/tmp/café.txt", path, 512) >= 512) ... too long
 *   char text[1024];
 *   sl_utf16_to_utf8(info.message, text, sizeof text);
 *
 * Both return, like snprintf, how many units the whole conversion needs without the NUL; a
 * result >= capacity means `out` was too small and holds a terminated prefix of whole
 * characters. `out` may be null when capacity is 0 (to ask for the size). Malformed input
 * never fails: an invalid UTF-8 sequence or a lone surrogate becomes U+FFFD. */
#ifndef SLSERVICES_SL_TEXT_H_
#define SLSERVICES_SL_TEXT_H_

#include "slservices/sl_result.h"

SL_EXTERN_C_BEGIN

/* Decodes one code point at *in and moves past it (one byte for a malformed sequence). */
static inline uint32_t sl_text_decode_utf8(const unsigned char** in) {
  const unsigned char* s = *in;
  uint32_t c = s[0];
  size_t extra = 0;
  uint32_t minimum = 0;
  size_t i;
  if (c < 0x80) {
    *in = s + 1;
    return c;
  }
  if ((c & 0xE0) == 0xC0) {
    extra = 1, c &= 0x1F, minimum = 0x80;
  } else if ((c & 0xF0) == 0xE0) {
    extra = 2, c &= 0x0F, minimum = 0x800;
  } else if ((c & 0xF8) == 0xF0) {
    extra = 3, c &= 0x07, minimum = 0x10000;
  } else {
    *in = s + 1;
    return 0xFFFD;
  }
  for (i = 1; i <= extra; ++i) {
    if ((s[i] & 0xC0) != 0x80) { /* also stops at the NUL */
      *in = s + 1;
      return 0xFFFD;
    }
    c = (c << 6) | (s[i] & 0x3Fu);
  }
  *in = s + 1;
  if (c < minimum || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return 0xFFFD;
  *in = s + 1 + extra;
  return c;
}

static inline size_t sl_utf8_to_utf16(const char* in, SLChar16* out, size_t capacity) {
  const unsigned char* s = (const unsigned char*)in;
  size_t needed = 0;
  int fits = 1;
  while (*s != 0) {
    const uint32_t c = sl_text_decode_utf8(&s);
    const size_t units = c >= 0x10000 ? 2 : 1;
    if (fits && needed + units < capacity) {
      if (units == 2) {
        out[needed] = (SLChar16)(0xD800 + ((c - 0x10000) >> 10));
        out[needed + 1] = (SLChar16)(0xDC00 + ((c - 0x10000) & 0x3FF));
      } else {
        out[needed] = (SLChar16)c;
      }
    } else if (fits) {
      fits = 0;
      if (capacity > 0) out[needed] = 0;
    }
    needed += units;
  }
  if (fits && capacity > 0) out[needed] = 0;
  return needed;
}

static inline size_t sl_utf16_to_utf8(const SLChar16* in, char* out, size_t capacity) {
  size_t needed = 0;
  int fits = 1;
  size_t i = 0;
  while (in[i] != 0) {
    uint32_t c = in[i++];
    unsigned char bytes[4];
    size_t count;
    size_t k;
    if (c >= 0xD800 && c <= 0xDBFF && in[i] >= 0xDC00 && in[i] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (in[i++] - 0xDC00u);
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = 0xFFFD;
    }
    if (c < 0x80) {
      bytes[0] = (unsigned char)c, count = 1;
    } else if (c < 0x800) {
      bytes[0] = (unsigned char)(0xC0 | (c >> 6)), count = 2;
    } else if (c < 0x10000) {
      bytes[0] = (unsigned char)(0xE0 | (c >> 12)), count = 3;
    } else {
      bytes[0] = (unsigned char)(0xF0 | (c >> 18)), count = 4;
    }
    for (k = 1; k < count; ++k) {
      bytes[k] = (unsigned char)(0x80 | ((c >> (6 * (count - 1 - k))) & 0x3F));
    }
    if (fits && needed + count < capacity) {
      for (k = 0; k < count; ++k) out[needed + k] = (char)bytes[k];
    } else if (fits) {
      fits = 0;
      if (capacity > 0) out[needed] = 0;
    }
    needed += count;
  }
  if (fits && capacity > 0) out[needed] = 0;
  return needed;
}

SL_EXTERN_C_END

#endif /* SLSERVICES_SL_TEXT_H_ */
