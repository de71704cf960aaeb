#include "NyVersionInfo_Win.h"

#include "NySystem_Win.h"

CNyVersionResource::CNyVersionResource() : m_version(NyLoadSystemLibrary(L"version.dll")) {
  if (!m_version) return;
  m_pfnSize = NyGetProcAs<GetFileVersionInfoSizeFn>(m_version.Get(), "GetFileVersionInfoSizeW");
  m_pfnInfo = NyGetProcAs<GetFileVersionInfoFn>(m_version.Get(), "GetFileVersionInfoW");
  m_pfnQuery = NyGetProcAs<VerQueryValueFn>(m_version.Get(), "VerQueryValueW");
}

uint32_t CNyVersionResource::Load(const wchar_t* pwszPath) {
  m_data.clear();
  if (m_pfnSize == nullptr || m_pfnInfo == nullptr || m_pfnQuery == nullptr) {
    return m_version ? ERROR_PROC_NOT_FOUND : ERROR_MOD_NOT_FOUND;
  }
  DWORD dwHandle = 0;
  const DWORD cb = m_pfnSize(pwszPath, &dwHandle);
  if (cb == 0) return GetLastError();
  m_data.resize(cb);
  if (!m_pfnInfo(pwszPath, 0, cb, m_data.data())) {
    const uint32_t u4Error = GetLastError();
    m_data.clear();
    return u4Error;
  }
  return 0;
}

uint32_t CNyVersionResource::Query(const wchar_t* pwszSubBlock, const void** ppvValue, UINT* pcbValue) const {
  if (m_data.empty()) return ERROR_RESOURCE_DATA_NOT_FOUND;
  void* pv = nullptr;
  UINT cb = 0;
  SetLastError(0);
  if (!m_pfnQuery(m_data.data(), pwszSubBlock, &pv, &cb) || pv == nullptr) {
    const uint32_t u4Error = GetLastError();
    return u4Error != 0 ? u4Error : ERROR_RESOURCE_TYPE_NOT_FOUND;
  }
  *ppvValue = pv;
  *pcbValue = cb;
  return 0;
}

const VS_FIXEDFILEINFO* CNyVersionResource::Fixed() const {
  const void* pv = nullptr;
  UINT cb = 0;
  if (Query(L"\\", &pv, &cb) != 0 || cb < sizeof(VS_FIXEDFILEINFO)) return nullptr;
  return static_cast<const VS_FIXEDFILEINFO*>(pv);
}
