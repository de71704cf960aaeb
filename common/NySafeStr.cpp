#include "NySafeStr.h"

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <type_traits>

#include "NyLog.h"

namespace {

void LogFailure(const char* pszRoutine, const char* pszCondition) {
  NyLog(LOG_LEVEL_OUTCOME, __FILE__, __LINE__, "%s failed due to %s", pszRoutine, pszCondition);
}

template <typename Ch>
size_t Length(const Ch* p) {
  size_t n = 0;
  while (p[n] != 0) ++n;
  return n;
}

template <typename Ch>
bool Copy(const char* pszRoutine, Ch* d, size_t n, const Ch* s) {
  if (d == nullptr || n == 0 || s == nullptr) {
    LogFailure(pszRoutine, "paramters are invalid");
    return false;
  }
  const size_t len = Length(s);
  const size_t take = len < n - 1 ? len : n - 1;
  memmove(d, s, take * sizeof(Ch));
  d[take] = 0;
  if (len > n - 1) {
    LogFailure(pszRoutine, "srclen > (cchDest-1)");
    return false;
  }
  return true;
}

template <typename Ch>
bool Cat(const char* pszRoutine, Ch* d, size_t n, const Ch* s) {
  if (d == nullptr || n == 0 || s == nullptr) {
    LogFailure(pszRoutine, "paramters are invalid");
    return false;
  }
  if (s[0] == 0) return true;
  // Bounded scan: a destination without a terminator inside its capacity
  // counts as full.
  size_t dlen = 0;
  while (dlen < n && d[dlen] != 0) ++dlen;
  if (n <= dlen) {
    LogFailure(pszRoutine, "cchDest <= dstlen");
    return false;
  }
  const size_t len = Length(s);
  const size_t room = n - dlen - 1;
  const size_t take = len < room ? len : room;
  memmove(d + dlen, s, take * sizeof(Ch));
  d[dlen + take] = 0;
  if (len > room) {
    LogFailure(pszRoutine, "srclen > (cchDest - dstlen - 1)");
    return false;
  }
  return true;
}

}  // namespace

bool NyStrCopy(char* pszDest, size_t cchDest, const char* pszSrc) {
  return Copy("NyStrCopy", pszDest, cchDest, pszSrc);
}

bool NyWcsCopy(wchar_t* pwszDest, size_t cchDest, const wchar_t* pwszSrc) {
  return Copy("NyWcsCopy", pwszDest, cchDest, pwszSrc);
}

bool NyStrCat(char* pszDest, size_t cchDest, const char* pszSrc) {
  return Cat("NyStrCat", pszDest, cchDest, pszSrc);
}

bool NyWcsCat(wchar_t* pwszDest, size_t cchDest, const wchar_t* pwszSrc) {
  return Cat("NyWcsCat", pwszDest, cchDest, pwszSrc);
}

bool NyStrVPrintf(char* pszDest, size_t cchDest, const char* pszFormat, va_list* pArgList) {
  if (pszDest == nullptr || cchDest == 0 || pszFormat == nullptr) {
    LogFailure("NyStrVPrintf", "paramters are invalid");
    return false;
  }
  if (pArgList == nullptr) {
    LogFailure("NyStrVPrintf", "argList is NULL");
    return false;
  }
  va_list args;
  va_copy(args, *pArgList);
  const int n = vsnprintf(pszDest, cchDest, pszFormat, args);
  va_end(args);
  if (n < 0) {
    pszDest[0] = 0;
    LogFailure("NyStrVPrintf", "buffer may be too small");
    return false;
  }
  if (static_cast<size_t>(n) > cchDest - 1) {
    LogFailure("NyStrVPrintf", "buffer may be too small");
    return false;
  }
  return true;
}

bool NyWcsVPrintf(wchar_t* pwszDest, size_t cchDest, const wchar_t* pwszFormat, va_list* pArgList) {
  if (pwszDest == nullptr || cchDest == 0 || pwszFormat == nullptr) {
    LogFailure("NyWcsVPrintf", "paramters are invalid");
    return false;
  }
  if (pArgList == nullptr) {
    LogFailure("NyWcsVPrintf", "argList is NULL");
    return false;
  }
  va_list args;
  va_copy(args, *pArgList);
#if defined(_WIN32)
  // msvcrt's _vsnwprintf keeps the Windows rule that "%s" in a wide format is
  // a wide string; it returns -1 when the text does not fit and then leaves
  // the buffer unterminated.
  const int n = _vsnwprintf(pwszDest, cchDest - 1, pwszFormat, args);
  va_end(args);
  pwszDest[cchDest - 1] = 0;
  if (n < 0) {
    LogFailure("NyWcsVPrintf", "buffer may be too small");
    return false;
  }
  pwszDest[n] = 0;
  return true;
#else
  // vswprintf reports -1 both for a text that does not fit and for a bad
  // format; either way the destination holds what it could.
  const int n = vswprintf(pwszDest, cchDest, pwszFormat, args);
  va_end(args);
  pwszDest[cchDest - 1] = 0;
  if (n < 0) {
    LogFailure("NyWcsVPrintf", "buffer may be too small");
    return false;
  }
  return true;
#endif
}

bool NyStrPrintf(char* pszDest, size_t cchDest, const char* pszFormat, ...) {
  va_list args;
  va_start(args, pszFormat);
  const bool bOk = NyStrVPrintf(pszDest, cchDest, pszFormat, &args);
  va_end(args);
  return bOk;
}

bool NyWcsPrintf(wchar_t* pwszDest, size_t cchDest, const wchar_t* pwszFormat, ...) {
  va_list args;
  va_start(args, pwszFormat);
  const bool bOk = NyWcsVPrintf(pwszDest, cchDest, pwszFormat, &args);
  va_end(args);
  return bOk;
}

size_t SafeStrLen(const char* psz) { return psz == nullptr ? 0 : strlen(psz); }

size_t SafeWcsLen(const wchar_t* pwsz) { return pwsz == nullptr ? 0 : wcslen(pwsz); }

int SafeStrCmp(const char* psz1, const char* psz2) {
  return strcmp(psz1 == nullptr ? "" : psz1, psz2 == nullptr ? "" : psz2);
}

namespace {

template <typename Ch>
int CompareIgnoringAsciiCase(const Ch* a, const Ch* b) {
  auto fold = [](Ch c) -> unsigned {
    const unsigned u = static_cast<unsigned>(static_cast<typename std::make_unsigned<Ch>::type>(c));
    return (u >= 'A' && u <= 'Z') ? u - 'A' + 'a' : u;
  };
  for (;; ++a, ++b) {
    const unsigned ca = fold(*a), cb = fold(*b);
    if (ca != cb) return ca < cb ? -1 : 1;
    if (ca == 0) return 0;
  }
}

}  // namespace

int SafeStrICmp(const char* psz1, const char* psz2) {
  return CompareIgnoringAsciiCase(psz1 == nullptr ? "" : psz1, psz2 == nullptr ? "" : psz2);
}

int SafeWcsICmp(const wchar_t* pwsz1, const wchar_t* pwsz2) {
  return CompareIgnoringAsciiCase(pwsz1 == nullptr ? L"" : pwsz1, pwsz2 == nullptr ? L"" : pwsz2);
}

bool SafeStrToUInt(const char* psz, uint32_t* pu4Value) {
  if (psz == nullptr || pu4Value == nullptr) return false;
  const char* p = psz;
  while (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\v' || *p == '\f' || *p == '\r') ++p;
  bool bNegative = false;
  if (*p == '+' || *p == '-') bNegative = *p++ == '-';
  if (*p < '0' || *p > '9') return false;
  uint64_t u8Value = 0;
  for (; *p >= '0' && *p <= '9'; ++p) {
    u8Value = u8Value * 10 + static_cast<uint64_t>(*p - '0');
    if (u8Value > 0xFFFFFFFFu) u8Value = 0x100000000ull;
  }
  uint32_t u4Value = u8Value > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(u8Value);
  if (bNegative && u8Value <= 0xFFFFFFFFu) u4Value = 0u - u4Value;
  *pu4Value = u4Value;
  return true;
}

uint32_t CopyOut(const void* pvSrc, size_t cbSrc, void* pvDest, size_t* pcbDest) {
  if (pcbDest == nullptr || (pvSrc == nullptr && cbSrc != 0)) return 0xE0600007;
  if (pvDest == nullptr) {
    *pcbDest = cbSrc;
    return 0;
  }
  if (*pcbDest < cbSrc) {
    *pcbDest = cbSrc;
    return 0xE0600005;
  }
  if (cbSrc != 0) memcpy(pvDest, pvSrc, cbSrc);
  *pcbDest = cbSrc;
  return 0;
}
