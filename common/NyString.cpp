#include "NyString.h"

#include <windows.h>

#include <new>

#include "NyResult.h"

namespace {

bool IsAllowedCodePage(uint32_t u4CodePage) {
  return u4CodePage == CP_ACP || u4CodePage == 54936 || u4CodePage == 950 || u4CodePage == CP_UTF8;
}

constexpr size_t kMaxConversionSize = 0x7FFFFFFF;

}  // namespace

uint32_t WideToCodePage(const wchar_t* pwszText, uint32_t u4CodePage, char* pszDest, size_t* pcbDest) {
  if (!IsAllowedCodePage(u4CodePage) || pwszText == nullptr || pwszText[0] == 0 || pcbDest == nullptr) {
    return NY_E_INVALID_PARAM;
  }
  if (pszDest != nullptr) {
    const int cbRoom = static_cast<int>(*pcbDest > kMaxConversionSize ? kMaxConversionSize : *pcbDest);
    const int cb = WideCharToMultiByte(u4CodePage, 0, pwszText, -1, pszDest, cbRoom, nullptr, nullptr);
    if (cb > 0) {
      *pcbDest = static_cast<size_t>(cb);
      return NY_SUCCESS;
    }
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) return NY_E_INVALID_DATA;
  }
  const int cbNeeded = WideCharToMultiByte(u4CodePage, 0, pwszText, -1, nullptr, 0, nullptr, nullptr);
  if (cbNeeded <= 0) return NY_E_INVALID_DATA;
  *pcbDest = static_cast<size_t>(cbNeeded);
  return pszDest != nullptr ? NY_E_BUFFER_TOO_SMALL : NY_SUCCESS;
}

uint32_t CodePageToWide(const char* pszText, uint32_t u4CodePage, wchar_t* pwszDest, size_t* pcchDest) {
  if (!IsAllowedCodePage(u4CodePage) || pszText == nullptr || pszText[0] == 0 || pcchDest == nullptr) {
    return NY_E_INVALID_PARAM;
  }
  if (pwszDest != nullptr) {
    const int cchRoom = static_cast<int>(*pcchDest > kMaxConversionSize ? kMaxConversionSize : *pcchDest);
    const int cch = MultiByteToWideChar(u4CodePage, 0, pszText, -1, pwszDest, cchRoom);
    if (cch > 0) {
      *pcchDest = static_cast<size_t>(cch);
      return NY_SUCCESS;
    }
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) return NY_E_INVALID_DATA;
  }
  const int cchNeeded = MultiByteToWideChar(u4CodePage, 0, pszText, -1, nullptr, 0);
  if (cchNeeded <= 0) return NY_E_INVALID_DATA;
  *pcchDest = static_cast<size_t>(cchNeeded);
  return pwszDest != nullptr ? NY_E_BUFFER_TOO_SMALL : NY_SUCCESS;
}

// The conversion primitives of CNyString: any code page the
// system knows, with the system's own handling of unmappable characters.
bool NyMultiByteToWide(uint32_t u4CodePage, const char* psz, size_t cb, std::wstring* pOut) {
  pOut->clear();
  if (psz == nullptr || cb == 0 || cb > kMaxConversionSize) return false;
  const int cchNeeded = MultiByteToWideChar(u4CodePage, 0, psz, static_cast<int>(cb), nullptr, 0);
  if (cchNeeded <= 0) return false;
  try {
    pOut->resize(static_cast<size_t>(cchNeeded));
  } catch (const std::bad_alloc&) {
    return false;
  }
  const int cch = MultiByteToWideChar(u4CodePage, 0, psz, static_cast<int>(cb), pOut->data(), cchNeeded);
  pOut->resize(cch > 0 ? static_cast<size_t>(cch) : 0);
  return cch > 0;
}

bool NyWideToMultiByte(uint32_t u4CodePage, const wchar_t* pwsz, size_t cch, std::string* pOut) {
  pOut->clear();
  if (pwsz == nullptr || cch == 0 || cch > kMaxConversionSize) return false;
  const int cbNeeded = WideCharToMultiByte(u4CodePage, 0, pwsz, static_cast<int>(cch), nullptr, 0, nullptr, nullptr);
  if (cbNeeded <= 0) return false;
  try {
    pOut->resize(static_cast<size_t>(cbNeeded));
  } catch (const std::bad_alloc&) {
    return false;
  }
  const int cb = WideCharToMultiByte(u4CodePage, 0, pwsz, static_cast<int>(cch), pOut->data(), cbNeeded, nullptr, nullptr);
  pOut->resize(cb > 0 ? static_cast<size_t>(cb) : 0);
  return cb > 0;
}
