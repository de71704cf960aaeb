#include "NyShareMem.h"

#include <aclapi.h>
#include <sddl.h>

#include <cstring>
#include <utility>

#include "NyLog.h"
#include "NyResult.h"
#include "NySafeStr.h"
#include "NySystem_Win.h"

namespace {

const wchar_t kNamespaceName[] = L"NAMESPACE_D1F14A9F-D7A0-4a22-9EE9-19DC2078C280";
const wchar_t kBoundaryName[] = L"BOUNDARY_D1F14A9F-D7A0-4a22-9EE9-19DC2078C280";
const wchar_t kMutexPrefixForRegion[] = L"ShareMemoryMutext_";

using CreateBoundaryDescriptorFn = HANDLE(WINAPI*)(LPCWSTR, ULONG);
using AddSidToBoundaryDescriptorFn = BOOL(WINAPI*)(HANDLE*, PSID);
using DeleteBoundaryDescriptorFn = VOID(WINAPI*)(HANDLE);
using OpenPrivateNamespaceFn = HANDLE(WINAPI*)(LPVOID, LPCWSTR);
using CreatePrivateNamespaceFn = HANDLE(WINAPI*)(LPSECURITY_ATTRIBUTES, LPVOID, LPCWSTR);
using ClosePrivateNamespaceFn = BOOLEAN(WINAPI*)(HANDLE, ULONG);

// Process-wide namespace state, changed only under the common library's
// start lock (NyCommonInit / NyCommonUninit).
struct NamespaceState {
  LONG lUseCount = 0;
  HANDLE hBoundary = nullptr;
  HANDLE hNamespace = nullptr;
};
NamespaceState g_namespace;

bool IsVistaOrLater() {
  // GetVersionEx lies to unmanifested programs about later systems, but
  // never reports a system older than the real one.
  OSVERSIONINFOW osvi{};
  osvi.dwOSVersionInfoSize = sizeof(osvi);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  if (!GetVersionExW(&osvi)) return true;
#pragma GCC diagnostic pop
  return osvi.dwMajorVersion >= 6;
}

// Builds the boundary with Everyone and, where the system knows it, the
// all-application-packages group.
HANDLE CreateBoundary() {
  auto pfnCreate = NyGetSystemProcAs<CreateBoundaryDescriptorFn>(L"kernel32.dll", "CreateBoundaryDescriptorW");
  auto pfnAddSid = NyGetSystemProcAs<AddSidToBoundaryDescriptorFn>(L"kernel32.dll", "AddSIDToBoundaryDescriptor");
  auto pfnDelete = NyGetSystemProcAs<DeleteBoundaryDescriptorFn>(L"kernel32.dll", "DeleteBoundaryDescriptor");
  if (pfnCreate == nullptr || pfnAddSid == nullptr || pfnDelete == nullptr) return nullptr;
  HANDLE hBoundary = pfnCreate(kBoundaryName, 0);
  if (hBoundary == nullptr) return nullptr;
  BYTE abSid[SECURITY_MAX_SID_SIZE];
  DWORD cbSid = sizeof(abSid);
  if (!CreateWellKnownSid(WinWorldSid, nullptr, abSid, &cbSid) || !pfnAddSid(&hBoundary, abSid)) {
    pfnDelete(hBoundary);
    return nullptr;
  }
  cbSid = sizeof(abSid);
  if (CreateWellKnownSid(static_cast<WELL_KNOWN_SID_TYPE>(84), nullptr, abSid, &cbSid)) {
    pfnAddSid(&hBoundary, abSid);
  }
  return hBoundary;
}

bool NamespaceOpen() { return g_namespace.hNamespace != nullptr; }

}  // namespace

void NyNamespaceAcquire() {
  if (g_namespace.lUseCount++ > 0) return;
  if (!IsVistaOrLater()) return;
  // Everything is resolved at run time: some systems lack these entry points
  // and Wine 8 ends the whole process when CreatePrivateNamespaceW is
  // called. Its CreateBoundaryDescriptorW fails, so a failed boundary means
  // the namespace entry points are never reached and names fall back to
  // "Global", which every process of the machine (the viewer too) resolves
  // the same way.
  HANDLE hBoundary = CreateBoundary();
  if (hBoundary == nullptr) return;
  auto pfnOpen = NyGetSystemProcAs<OpenPrivateNamespaceFn>(L"kernel32.dll", "OpenPrivateNamespaceW");
  auto pfnCreate =
      NyGetSystemProcAs<CreatePrivateNamespaceFn>(L"kernel32.dll", "CreatePrivateNamespaceW");
  auto pfnDelete = NyGetSystemProcAs<DeleteBoundaryDescriptorFn>(L"kernel32.dll", "DeleteBoundaryDescriptor");
  HANDLE hNamespace = nullptr;
  if (pfnOpen != nullptr && pfnCreate != nullptr) {
    hNamespace = pfnOpen(hBoundary, kNamespaceName);
    if (hNamespace == nullptr) {
      CNyObjectSecurity security;
      hNamespace = pfnCreate(security.Get(), hBoundary, kNamespaceName);
      // Another process may have created it between the two calls.
      if (hNamespace == nullptr && GetLastError() == ERROR_ALREADY_EXISTS) {
        hNamespace = pfnOpen(hBoundary, kNamespaceName);
      }
    }
  }
  if (hNamespace == nullptr) {
    pfnDelete(hBoundary);
    return;
  }
  g_namespace.hBoundary = hBoundary;
  g_namespace.hNamespace = hNamespace;
}

void NyNamespaceRelease() {
  if (g_namespace.lUseCount == 0 || --g_namespace.lUseCount > 0) return;
  if (g_namespace.hNamespace != nullptr) {
    auto pfnClose =
        NyGetSystemProcAs<ClosePrivateNamespaceFn>(L"kernel32.dll", "ClosePrivateNamespace");
    if (pfnClose != nullptr) pfnClose(g_namespace.hNamespace, 0);
  }
  if (g_namespace.hBoundary != nullptr) {
    auto pfnDelete = NyGetSystemProcAs<DeleteBoundaryDescriptorFn>(L"kernel32.dll", "DeleteBoundaryDescriptor");
    if (pfnDelete != nullptr) pfnDelete(g_namespace.hBoundary);
  }
  g_namespace.hNamespace = nullptr;
  g_namespace.hBoundary = nullptr;
}

uint32_t KernelObjectName(NyKernelObjectKind kind, const wchar_t* pwszShortName, bool bGlobal, wchar_t* pwszDest,
                          size_t cchDest) {
  if (pwszShortName == nullptr || pwszDest == nullptr || cchDest == 0) return NY_E_INVALID_PARAM;
  const wchar_t* pwszKind = L"\\Event";
  if (kind == NyKernelObjectKind::SharedMemory) pwszKind = L"\\SHARE_MEMORY_D1F14A9F-D7A0-4a22-9EE9-19DC2078C280";
  if (kind == NyKernelObjectKind::Mutex) pwszKind = L"\\Mutex";
  const wchar_t* pwszPrefix = (bGlobal || !NamespaceOpen()) ? L"Global" : kNamespaceName;
  pwszDest[0] = 0;
  if (!NyWcsCopy(pwszDest, cchDest, pwszPrefix) || !NyWcsCat(pwszDest, cchDest, pwszKind) ||
      !NyWcsCat(pwszDest, cchDest, pwszShortName)) {
    return NY_E_OUTOFMEMORY;
  }
  return NY_SUCCESS;
}

CNyObjectSecurity::CNyObjectSecurity() {
  // "AC" (all application packages) is unknown before Windows 8; such a
  // system gets the list without it.
  const wchar_t* apwszSddl[] = {L"D:(A;;GA;;;WD)(A;;GA;;;AC)", L"D:(A;;GA;;;WD)"};
  for (const wchar_t* pwszSddl : apwszSddl) {
    if (ConvertStringSecurityDescriptorToSecurityDescriptorW(pwszSddl, SDDL_REVISION_1, m_sd.Put(), nullptr)) break;
  }
  m_sa.nLength = sizeof(m_sa);
  m_sa.lpSecurityDescriptor = m_sd.Get();
  m_sa.bInheritHandle = FALSE;
}

void CNyObjectSecurity::ApplyLowIntegrityLabel(HANDLE hObject) {
  CNyLocalMemory sd;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(L"S:(ML;;NW;;;LW)", SDDL_REVISION_1, sd.Put(), nullptr)) {
    return;
  }
  PACL pSacl = nullptr;
  BOOL bPresent = FALSE, bDefaulted = FALSE;
  if (GetSecurityDescriptorSacl(sd.Get(), &bPresent, &pSacl, &bDefaulted) && bPresent) {
    SetSecurityInfo(hObject, SE_KERNEL_OBJECT, LABEL_SECURITY_INFORMATION, nullptr, nullptr, nullptr, pSacl);
  }
}

CNyHandle NyCreateNamedMutex(const wchar_t* pwszShortName, bool bGlobal) {
  wchar_t wszName[MAX_PATH] = {};
  if (KernelObjectName(NyKernelObjectKind::Mutex, pwszShortName, bGlobal, wszName, MAX_PATH) != 0) return CNyHandle();
  CNyHandle mutex(OpenMutexW(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, wszName));
  if (mutex) return mutex;
  CNyObjectSecurity security;
  mutex.Reset(CreateMutexW(security.Get(), FALSE, wszName));
  if (!mutex) {
    NYFAIL(GetLastError(), "CreateMutexW", wszName);
    return mutex;
  }
  if (GetLastError() != ERROR_ALREADY_EXISTS) CNyObjectSecurity::ApplyLowIntegrityLabel(mutex.Get());
  return mutex;
}

uint32_t NyShareMemOpen(const wchar_t* pwszShortName, size_t cbSize, bool bCreate, NyShareMemHandle* pHandle,
                        bool* pbCreated) {
  if (pwszShortName == nullptr || pHandle == nullptr || pbCreated == nullptr) return NY_E_INVALID_PARAM;
  *pHandle = NyShareMemHandle();
  *pbCreated = false;
  wchar_t wszName[MAX_PATH] = {};
  const uint32_t u4Result = KernelObjectName(NyKernelObjectKind::SharedMemory, pwszShortName, false, wszName, MAX_PATH);
  if (u4Result != 0) return NYFAIL(u4Result, "KernelObjectName", pwszShortName);

  // A region that does not exist yet is no failure: the caller creates it
  // or, as the viewer does, reports that no program has opened it.
  CNyHandle mapping(OpenFileMappingW(FILE_MAP_READ | FILE_MAP_WRITE, FALSE, wszName));
  if (!mapping) {
    if (!bCreate) return GetLastError();
    CNyObjectSecurity security;
    const uint64_t u8Size = cbSize;
    mapping.Reset(CreateFileMappingW(INVALID_HANDLE_VALUE, security.Get(), PAGE_READWRITE,
                                     static_cast<DWORD>(u8Size >> 32), static_cast<DWORD>(u8Size), wszName));
    if (!mapping) return NYFAIL(GetLastError(), "CreateFileMappingW", wszName);
    // Another process may have created it since the open failed.
    *pbCreated = GetLastError() != ERROR_ALREADY_EXISTS;
    if (*pbCreated) CNyObjectSecurity::ApplyLowIntegrityLabel(mapping.Get());
  }
  CNyMappedView view(MapViewOfFile(mapping.Get(), FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, 0));
  if (!view) return NYFAIL(GetLastError(), "MapViewOfFile", wszName);
  MEMORY_BASIC_INFORMATION mbi{};
  if (VirtualQuery(view.Get(), &mbi, sizeof(mbi)) == 0) return NYFAIL(GetLastError(), "VirtualQuery", wszName);
  // A fresh pagefile-backed section is zero-filled by the system; it only
  // needs its size word.
  auto* pu4SizeWord = static_cast<volatile uint32_t*>(view.Get());
  if (*pbCreated) *pu4SizeWord = static_cast<uint32_t>(cbSize);
  const size_t cbRegion = *pbCreated ? cbSize : *pu4SizeWord;
  // A region whose size word claims more than was mapped is not trusted.
  if (cbRegion < sizeof(uint32_t) || cbRegion > mbi.RegionSize) {
    return NYFAIL(NY_E_INVALID_DATA, "check of the size word", wszName);
  }

  wchar_t wszMutex[MAX_PATH] = {};
  NyWcsCopy(wszMutex, MAX_PATH, kMutexPrefixForRegion);
  NyWcsCat(wszMutex, MAX_PATH, pwszShortName);
  pHandle->mutex = NyCreateNamedMutex(wszMutex, false);
  pHandle->mapping = std::move(mapping);
  pHandle->view = std::move(view);
  pHandle->cbSize = cbRegion;
  return NY_SUCCESS;
}
