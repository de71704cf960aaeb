// The host build's conversion primitives for CNyString: UTF-8 only (code page
// 0, the system ANSI code page, is taken as UTF-8 on the host). The wide form
// is the host's wchar_t (UTF-32). Invalid UTF-8 becomes U+FFFD, like the
// Windows conversion without MB_ERR_INVALID_CHARS. Other code pages fail.
#include <new>

#include "NyString.h"

namespace {

bool IsUtf8CodePage(uint32_t u4CodePage) { return u4CodePage == NY_CP_UTF8 || u4CodePage == NY_CP_ACP; }

constexpr uint32_t kReplacement = 0xFFFD;

// Decodes one code point at p (n bytes left, n > 0); returns the bytes used.
size_t DecodeOne(const unsigned char* p, size_t n, uint32_t* pu4) {
  const unsigned char c = p[0];
  if (c < 0x80) {
    *pu4 = c;
    return 1;
  }
  size_t need = 0;
  uint32_t cp = 0;
  uint32_t min = 0;
  if (c >= 0xC2 && c <= 0xDF) {
    need = 1;
    cp = c & 0x1F;
    min = 0x80;
  } else if (c >= 0xE0 && c <= 0xEF) {
    need = 2;
    cp = c & 0x0F;
    min = 0x800;
  } else if (c >= 0xF0 && c <= 0xF4) {
    need = 3;
    cp = c & 0x07;
    min = 0x10000;
  } else {
    *pu4 = kReplacement;
    return 1;
  }
  size_t i = 1;
  for (; i <= need; ++i) {
    if (i >= n || (p[i] & 0xC0) != 0x80) {
      *pu4 = kReplacement;
      return i;
    }
    cp = (cp << 6) | (p[i] & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
    *pu4 = kReplacement;
    return i;
  }
  *pu4 = cp;
  return i;
}

size_t EncodeOne(uint32_t cp, char* out) {
  if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = kReplacement;
  if (cp < 0x80) {
    out[0] = static_cast<char>(cp);
    return 1;
  }
  if (cp < 0x800) {
    out[0] = static_cast<char>(0xC0 | (cp >> 6));
    out[1] = static_cast<char>(0x80 | (cp & 0x3F));
    return 2;
  }
  if (cp < 0x10000) {
    out[0] = static_cast<char>(0xE0 | (cp >> 12));
    out[1] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out[2] = static_cast<char>(0x80 | (cp & 0x3F));
    return 3;
  }
  out[0] = static_cast<char>(0xF0 | (cp >> 18));
  out[1] = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
  out[2] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
  out[3] = static_cast<char>(0x80 | (cp & 0x3F));
  return 4;
}

}  // namespace

bool NyMultiByteToWide(uint32_t u4CodePage, const char* psz, size_t cb, std::wstring* pOut) {
  pOut->clear();
  if (psz == nullptr || cb == 0 || !IsUtf8CodePage(u4CodePage)) return false;
  try {
    // At most one wide character per byte.
    pOut->reserve(cb);
    const unsigned char* p = reinterpret_cast<const unsigned char*>(psz);
    for (size_t i = 0; i < cb;) {
      uint32_t cp = 0;
      i += DecodeOne(p + i, cb - i, &cp);
      pOut->push_back(static_cast<wchar_t>(cp));
    }
  } catch (const std::bad_alloc&) {
    pOut->clear();
    return false;
  }
  return true;
}

bool NyWideToMultiByte(uint32_t u4CodePage, const wchar_t* pwsz, size_t cch, std::string* pOut) {
  pOut->clear();
  if (pwsz == nullptr || cch == 0 || !IsUtf8CodePage(u4CodePage)) return false;
  if (cch > (static_cast<size_t>(-1) - 1) / 4) return false;
  try {
    pOut->resize(cch * 4);
  } catch (const std::bad_alloc&) {
    return false;
  }
  size_t o = 0;
  for (size_t i = 0; i < cch; ++i) o += EncodeOne(static_cast<uint32_t>(pwsz[i]), &(*pOut)[o]);
  pOut->resize(o);
  return true;
}
