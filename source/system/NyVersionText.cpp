#include "NyVersionText.h"

#include <string>

namespace {

template <typename Ch>
bool Parse(const Ch* pText, NyFileVersion* pVersion) {
  if (pText == nullptr || pVersion == nullptr) return false;
  std::basic_string<Ch> text;
  for (const Ch* p = pText; *p != 0; ++p) {
    if (*p == Ch(' ')) continue;
    text += *p == Ch(',') ? Ch('.') : *p;
  }
  NyFileVersion version;
  int nPart = 0;
  bool bDigitSeen = false;
  for (Ch c : text) {
    if (c == Ch('.')) {
      if (!bDigitSeen || ++nPart > 3) return false;
      bDigitSeen = false;
      continue;
    }
    if (c < Ch('0') || c > Ch('9')) return false;
    version.au4Parts[nPart] = (version.au4Parts[nPart] * 10 + uint32_t(c - Ch('0'))) % 65536;
    bDigitSeen = true;
  }
  if (nPart != 3 || !bDigitSeen) return false;
  *pVersion = version;
  return true;
}

uint64_t AsNumber(const NyFileVersion& v) {
  return (uint64_t(v.au4Parts[0]) << 48) | (uint64_t(v.au4Parts[1]) << 32) | (uint64_t(v.au4Parts[2]) << 16) |
         uint64_t(v.au4Parts[3]);
}

}  // namespace

bool ParseVersionText(const char* pszText, NyFileVersion* pVersion) { return Parse(pszText, pVersion); }

bool ParseVersionText(const wchar_t* pwszText, NyFileVersion* pVersion) { return Parse(pwszText, pVersion); }

int CompareVersions(const NyFileVersion& a, const NyFileVersion& b) {
  const uint64_t x = AsNumber(a), y = AsNumber(b);
  return x > y ? 1 : (x < y ? -1 : 0);
}
