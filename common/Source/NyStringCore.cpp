// CNyString: the portable part. The code-page conversions themselves are in
// NyString.cpp (Windows) and NyString_Host.cpp (host build).
#include <cstring>
#include <cwchar>
#include <new>
#include <utility>

#include "NyString.h"

namespace {

size_t WideLen(const wchar_t* p) {
  size_t n = 0;
  while (p[n] != 0) ++n;
  return n;
}

}  // namespace

CNyString::CNyString()
    : m_pszAnsi(nullptr), m_pwszWide(nullptr), m_pszText(nullptr), m_u4CodePage(NY_CP_UTF8),
      m_cchAnsi(0), m_cchWide(0), m_cchText(0) {}

CNyString::CNyString(const char* pszText, uint32_t u4SrcCodePage) : CNyString() { Assign(pszText, u4SrcCodePage); }

CNyString::CNyString(const wchar_t* pwszText) : CNyString() { Assign(pwszText); }

CNyString::CNyString(const CNyString& other) : CNyString() { Copy(other); }

CNyString::CNyString(CNyString&& other) noexcept
    : m_pszAnsi(other.m_pszAnsi), m_pwszWide(other.m_pwszWide), m_pszText(other.m_pszText),
      m_u4CodePage(other.m_u4CodePage), m_cchAnsi(other.m_cchAnsi), m_cchWide(other.m_cchWide),
      m_cchText(other.m_cchText) {
  other.m_pszAnsi = nullptr;
  other.m_pwszWide = nullptr;
  other.m_pszText = nullptr;
  other.Clear();
}

CNyString& CNyString::operator=(const CNyString& other) {
  if (this != &other) Copy(other);
  return *this;
}

CNyString& CNyString::operator=(CNyString&& other) noexcept {
  if (this != &other) {
    Clear();
    std::swap(m_pszAnsi, other.m_pszAnsi);
    std::swap(m_pwszWide, other.m_pwszWide);
    std::swap(m_pszText, other.m_pszText);
    m_u4CodePage = other.m_u4CodePage;
    m_cchAnsi = other.m_cchAnsi;
    m_cchWide = other.m_cchWide;
    m_cchText = other.m_cchText;
    other.Clear();
  }
  return *this;
}

CNyString::~CNyString() { Clear(); }

void CNyString::Clear() {
  delete[] m_pszAnsi;
  delete[] m_pwszWide;
  delete[] m_pszText;
  m_pszAnsi = nullptr;
  m_pwszWide = nullptr;
  m_pszText = nullptr;
  m_u4CodePage = NY_CP_UTF8;
  m_cchAnsi = m_cchWide = m_cchText = 0;
}

bool CNyString::TakeWide(wchar_t* pwszOwned, size_t cch) {
  char* pszAnsi = nullptr;
  char* pszText = nullptr;
  size_t cbAnsi = 0;
  size_t cbText = 0;
  if (!NyWideToMultiByte(NY_CP_ACP, pwszOwned, cch, &pszAnsi, &cbAnsi) ||
      !NyWideToMultiByte(m_u4CodePage, pwszOwned, cch, &pszText, &cbText)) {
    delete[] pszAnsi;
    delete[] pwszOwned;
    Clear();
    return false;
  }
  delete[] m_pszAnsi;
  delete[] m_pwszWide;
  delete[] m_pszText;
  m_pszAnsi = pszAnsi;
  m_pwszWide = pwszOwned;
  m_pszText = pszText;
  m_cchAnsi = cbAnsi;
  m_cchWide = cch;
  m_cchText = cbText;
  return true;
}

bool CNyString::AppendWide(const wchar_t* pwsz, size_t cch) {
  if (pwsz == nullptr || cch == 0) return true;
  const size_t cchTotal = m_cchWide + cch;
  if (cchTotal < cch) {
    Clear();
    return false;
  }
  wchar_t* pwszNew = new (std::nothrow) wchar_t[cchTotal + 1];
  if (pwszNew == nullptr) {
    Clear();
    return false;
  }
  if (m_cchWide != 0) memcpy(pwszNew, m_pwszWide, m_cchWide * sizeof(wchar_t));
  memcpy(pwszNew + m_cchWide, pwsz, cch * sizeof(wchar_t));
  pwszNew[cchTotal] = 0;
  return TakeWide(pwszNew, cchTotal);
}

bool CNyString::Assign(const char* pszText, uint32_t u4SrcCodePage) {
  Clear();
  return Append(pszText, u4SrcCodePage);
}

bool CNyString::Assign(const wchar_t* pwszText) {
  Clear();
  return Append(pwszText);
}

bool CNyString::Append(const char* pszText, uint32_t u4SrcCodePage) {
  if (pszText == nullptr || pszText[0] == 0) return true;
  wchar_t* pwsz = nullptr;
  size_t cch = 0;
  if (!NyMultiByteToWide(u4SrcCodePage, pszText, strlen(pszText), &pwsz, &cch)) {
    Clear();
    return false;
  }
  const bool bOk = AppendWide(pwsz, cch);
  delete[] pwsz;
  return bOk;
}

bool CNyString::Append(const wchar_t* pwszText) {
  if (pwszText == nullptr || pwszText[0] == 0) return true;
  return AppendWide(pwszText, WideLen(pwszText));
}

bool CNyString::SetCodePage(uint32_t u4CodePage) {
  if (m_pwszWide == nullptr) {
    m_u4CodePage = u4CodePage;
    return true;
  }
  char* pszText = nullptr;
  size_t cbText = 0;
  if (!NyWideToMultiByte(u4CodePage, m_pwszWide, m_cchWide, &pszText, &cbText)) {
    Clear();
    return false;
  }
  delete[] m_pszText;
  m_pszText = pszText;
  m_cchText = cbText;
  m_u4CodePage = u4CodePage;
  return true;
}

bool CNyString::Copy(const CNyString& other) {
  if (this == &other) return true;
  Clear();
  if (other.m_pwszWide == nullptr) {
    m_u4CodePage = other.m_u4CodePage;
    return true;
  }
  char* pszAnsi = new (std::nothrow) char[other.m_cchAnsi + 1];
  wchar_t* pwszWide = new (std::nothrow) wchar_t[other.m_cchWide + 1];
  char* pszText = new (std::nothrow) char[other.m_cchText + 1];
  if (pszAnsi == nullptr || pwszWide == nullptr || pszText == nullptr) {
    delete[] pszAnsi;
    delete[] pwszWide;
    delete[] pszText;
    return false;
  }
  memcpy(pszAnsi, other.m_pszAnsi, other.m_cchAnsi + 1);
  memcpy(pwszWide, other.m_pwszWide, (other.m_cchWide + 1) * sizeof(wchar_t));
  memcpy(pszText, other.m_pszText, other.m_cchText + 1);
  m_pszAnsi = pszAnsi;
  m_pwszWide = pwszWide;
  m_pszText = pszText;
  m_u4CodePage = other.m_u4CodePage;
  m_cchAnsi = other.m_cchAnsi;
  m_cchWide = other.m_cchWide;
  m_cchText = other.m_cchText;
  return true;
}

int CNyString::ReplaceAll(const wchar_t* pwszFind, const wchar_t* pwszWith) {
  if (pwszFind == nullptr || pwszFind[0] == 0 || m_pwszWide == nullptr) return 0;
  if (pwszWith == nullptr) pwszWith = L"";
  const size_t cchFind = WideLen(pwszFind);
  const size_t cchWith = WideLen(pwszWith);
  // First pass: count, so the result is built in one buffer of exact size.
  size_t nCount = 0;
  for (size_t i = 0; i + cchFind <= m_cchWide;) {
    if (wmemcmp(m_pwszWide + i, pwszFind, cchFind) == 0) {
      ++nCount;
      i += cchFind;
    } else {
      ++i;
    }
  }
  if (nCount == 0) return 0;
  const size_t cchNew = m_cchWide - nCount * cchFind + nCount * cchWith;
  if (cchNew == 0) {
    const uint32_t u4CodePage = m_u4CodePage;
    Clear();
    m_u4CodePage = u4CodePage;
    return static_cast<int>(nCount);
  }
  wchar_t* pwszNew = new (std::nothrow) wchar_t[cchNew + 1];
  if (pwszNew == nullptr) {
    Clear();
    return -1;
  }
  size_t o = 0;
  for (size_t i = 0; i < m_cchWide;) {
    if (i + cchFind <= m_cchWide && wmemcmp(m_pwszWide + i, pwszFind, cchFind) == 0) {
      if (cchWith != 0) wmemcpy(pwszNew + o, pwszWith, cchWith);
      o += cchWith;
      i += cchFind;
    } else {
      pwszNew[o++] = m_pwszWide[i++];
    }
  }
  pwszNew[o] = 0;
  return TakeWide(pwszNew, o) ? static_cast<int>(nCount) : -1;
}
