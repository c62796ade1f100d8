#include "rtl/CodePage.h"

#include <cstdint>

namespace rtl {

namespace {

// 0x80..0x9F of Windows-1252; the undefined positions map to the C1 control of
// the same value.
constexpr char16_t kHigh[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

constexpr char32_t kBad = 0xFFFFFFFF;

// Decodes one UTF-8 sequence at text[i], advancing i; kBad (one byte consumed)
// for a malformed, overlong or surrogate sequence.
char32_t DecodeUtf8(std::string_view text, size_t& i) {
  auto b0 = static_cast<uint8_t>(text[i]);
  if (b0 < 0x80) {
    ++i;
    return b0;
  }
  int len = 0;
  char32_t cp = 0;
  char32_t min = 0;
  if ((b0 & 0xE0) == 0xC0) {
    len = 2, cp = b0 & 0x1F, min = 0x80;
  } else if ((b0 & 0xF0) == 0xE0) {
    len = 3, cp = b0 & 0x0F, min = 0x800;
  } else if ((b0 & 0xF8) == 0xF0) {
    len = 4, cp = b0 & 0x07, min = 0x10000;
  } else {
    ++i;
    return kBad;
  }
  if (i + len > text.size()) {
    ++i;
    return kBad;
  }
  for (int k = 1; k < len; ++k) {
    auto b = static_cast<uint8_t>(text[i + k]);
    if ((b & 0xC0) != 0x80) {
      ++i;
      return kBad;
    }
    cp = (cp << 6) | (b & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
    ++i;
    return kBad;
  }
  i += len;
  return cp;
}

char CodePointToWin1252(char32_t cp, bool* lossy) {
  if (cp <= 0xFFFF) return Char16ToWin1252(static_cast<char16_t>(cp), lossy);
  if (lossy) *lossy = true;
  return '?';
}

}  // namespace

char16_t Win1252ToChar16(char c) {
  auto b = static_cast<uint8_t>(c);
  if (b >= 0x80 && b < 0xA0) return kHigh[b - 0x80];
  return b;
}

char Char16ToWin1252(char16_t c, bool* lossy) {
  if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) return static_cast<char>(c);
  for (int k = 0; k < 32; ++k) {
    if (kHigh[k] == c) return static_cast<char>(0x80 + k);
  }
  if (lossy) *lossy = true;
  return '?';
}

std::u16string Win1252ToUtf16(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  for (char c : text) out += Win1252ToChar16(c);
  return out;
}

std::string Utf16ToWin1252(std::u16string_view text, bool* lossy) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    char16_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      ++i;  // one character, one '?'
      if (lossy) *lossy = true;
      out += '?';
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      if (lossy) *lossy = true;
      out += '?';
    } else {
      out += Char16ToWin1252(c, lossy);
    }
  }
  return out;
}

std::string Win1252ToUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) AppendUtf8(out, Win1252ToChar16(c));
  return out;
}

std::string Utf8ToWin1252(std::string_view text, bool* lossy) {
  std::string out;
  out.reserve(text.size());
  size_t i = 0;
  while (i < text.size()) {
    char32_t cp = DecodeUtf8(text, i);
    if (cp == kBad) {
      if (lossy) *lossy = true;
      out += '?';
    } else {
      out += CodePointToWin1252(cp, lossy);
    }
  }
  return out;
}

std::string Utf16ToUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    char32_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = 0xFFFD;  // an unpaired surrogate has no UTF-8 form
    }
    AppendUtf8(out, c);
  }
  return out;
}

std::u16string Utf8ToUtf16(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  size_t i = 0;
  while (i < text.size()) {
    char32_t cp = DecodeUtf8(text, i);
    if (cp == kBad) cp = 0xFFFD;
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (cp >> 10));
      out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    } else {
      out += static_cast<char16_t>(cp);
    }
  }
  return out;
}

char AnsiUpperChar(char c) {
  auto b = static_cast<uint8_t>(c);
  if (b >= 'a' && b <= 'z') return static_cast<char>(b - 32);
  if (b >= 0xE0 && b <= 0xFE && b != 0xF7) return static_cast<char>(b - 32);
  switch (b) {
    case 0x9A:
      return static_cast<char>(0x8A);  // š
    case 0x9C:
      return static_cast<char>(0x8C);  // œ
    case 0x9E:
      return static_cast<char>(0x8E);  // ž
    case 0xFF:
      return static_cast<char>(0x9F);  // ÿ
    default:
      return c;
  }
}

char AnsiLowerChar(char c) {
  auto b = static_cast<uint8_t>(c);
  if (b >= 'A' && b <= 'Z') return static_cast<char>(b + 32);
  if (b >= 0xC0 && b <= 0xDE && b != 0xD7) return static_cast<char>(b + 32);
  switch (b) {
    case 0x8A:
      return static_cast<char>(0x9A);
    case 0x8C:
      return static_cast<char>(0x9C);
    case 0x8E:
      return static_cast<char>(0x9E);
    case 0x9F:
      return static_cast<char>(0xFF);
    default:
      return c;
  }
}

std::string AnsiUpperCase(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = AnsiUpperChar(c);
  return out;
}

std::string AnsiLowerCase(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = AnsiLowerChar(c);
  return out;
}

std::string UpperCase(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
  }
  return out;
}

bool SameText(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 32);
    if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 32);
    if (x != y) return false;
  }
  return true;
}

std::string LowerCase(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  }
  return out;
}

}  // namespace rtl
