#pragma once
// A file's version resource, read through version.dll, which is no KnownDLL
// and therefore loaded from the system folder at run time.
#include <windows.h>

#include <cstdint>
#include <vector>

#include "NyHandle.h"

class CNyVersionResource {
 public:
  CNyVersionResource();

  // Reads the resource of a file; 0 or the platform's error code.
  uint32_t Load(const wchar_t* pwszPath);
  // Queries a value of the loaded resource ("\\", "\\VarFileInfo\\Translation",
  // ...); 0 or the platform's error code.
  uint32_t Query(const wchar_t* pwszSubBlock, const void** ppvValue, UINT* pcbValue) const;
  const VS_FIXEDFILEINFO* Fixed() const;

 private:
  using GetFileVersionInfoSizeFn = DWORD(WINAPI*)(LPCWSTR, LPDWORD);
  using GetFileVersionInfoFn = BOOL(WINAPI*)(LPCWSTR, DWORD, DWORD, LPVOID);
  using VerQueryValueFn = BOOL(WINAPI*)(LPCVOID, LPCWSTR, LPVOID*, PUINT);

  CNyModule m_version;
  GetFileVersionInfoSizeFn m_pfnSize = nullptr;
  GetFileVersionInfoFn m_pfnInfo = nullptr;
  VerQueryValueFn m_pfnQuery = nullptr;
  std::vector<BYTE> m_data;
};
