// CNyString: the portable part. The code-page conversions themselves are in
// NyString.cpp (Windows) and NyString_Host.cpp (host build).
#include <cstring>
#include <new>
#include <utility>

#include "NyString.h"

CNyString::CNyString() = default;

CNyString::CNyString(const char* pszText, uint32_t u4SrcCodePage) { Assign(pszText, u4SrcCodePage); }

CNyString::CNyString(const wchar_t* pwszText) { Assign(pwszText); }

CNyString::CNyString(const CNyString& other) { Copy(other); }

CNyString::CNyString(CNyString&& other) noexcept
    : m_ansi(std::move(other.m_ansi)), m_wide(std::move(other.m_wide)), m_text(std::move(other.m_text)),
      m_u4CodePage(other.m_u4CodePage) {
  other.Clear();
}

CNyString& CNyString::operator=(const CNyString& other) {
  if (this != &other) Copy(other);
  return *this;
}

CNyString& CNyString::operator=(CNyString&& other) noexcept {
  if (this != &other) {
    m_ansi = std::move(other.m_ansi);
    m_wide = std::move(other.m_wide);
    m_text = std::move(other.m_text);
    m_u4CodePage = other.m_u4CodePage;
    other.Clear();
  }
  return *this;
}

void CNyString::Clear() {
  m_ansi.clear();
  m_wide.clear();
  m_text.clear();
  m_u4CodePage = NY_CP_UTF8;
}

bool CNyString::TakeWide(std::wstring&& wide) {
  std::string ansi, text;
  if (wide.empty() || !NyWideToMultiByte(NY_CP_ACP, wide.data(), wide.size(), &ansi) ||
      !NyWideToMultiByte(m_u4CodePage, wide.data(), wide.size(), &text)) {
    Clear();
    return false;
  }
  m_ansi = std::move(ansi);
  m_wide = std::move(wide);
  m_text = std::move(text);
  return true;
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
  std::wstring wide;
  if (!NyMultiByteToWide(u4SrcCodePage, pszText, strlen(pszText), &wide)) {
    Clear();
    return false;
  }
  return Append(wide.c_str());
}

bool CNyString::Append(const wchar_t* pwszText) {
  if (pwszText == nullptr || pwszText[0] == 0) return true;
  // Texts cross the layers as plain values: running out of memory is a
  // failed conversion, never an exception.
  try {
    return TakeWide(m_wide + pwszText);
  } catch (const std::bad_alloc&) {
    Clear();
    return false;
  }
}

bool CNyString::SetCodePage(uint32_t u4CodePage) {
  if (IsEmpty()) {
    m_u4CodePage = u4CodePage;
    return true;
  }
  std::string text;
  if (!NyWideToMultiByte(u4CodePage, m_wide.data(), m_wide.size(), &text)) {
    Clear();
    return false;
  }
  m_text = std::move(text);
  m_u4CodePage = u4CodePage;
  return true;
}

bool CNyString::Copy(const CNyString& other) {
  if (this == &other) return true;
  try {
    m_ansi = other.m_ansi;
    m_wide = other.m_wide;
    m_text = other.m_text;
    m_u4CodePage = other.m_u4CodePage;
    return true;
  } catch (const std::bad_alloc&) {
    Clear();
    return false;
  }
}

int CNyString::ReplaceAll(const wchar_t* pwszFind, const wchar_t* pwszWith) {
  if (pwszFind == nullptr || pwszFind[0] == 0 || IsEmpty()) return 0;
  const std::wstring find(pwszFind), with(pwszWith != nullptr ? pwszWith : L"");
  try {
    std::wstring result;
    int nCount = 0;
    size_t from = 0;
    for (size_t at = m_wide.find(find); at != std::wstring::npos; at = m_wide.find(find, from)) {
      result.append(m_wide, from, at - from).append(with);
      from = at + find.size();
      ++nCount;
    }
    if (nCount == 0) return 0;
    result.append(m_wide, from, std::wstring::npos);
    if (result.empty()) {
      const uint32_t u4CodePage = m_u4CodePage;
      Clear();
      m_u4CodePage = u4CodePage;
      return nCount;
    }
    return TakeWide(std::move(result)) ? nCount : -1;
  } catch (const std::bad_alloc&) {
    Clear();
    return -1;
  }
}
