// The system facts of the built-in variables on Windows.
#include <windows.h>
#include <shlobj.h>

#include "NyConfigScript.h"
#include "NyResult.h"
#include "NySystem_Win.h"

namespace {

class CNySystemBuiltinSource : public INyBuiltinSource {
 public:
  bool Is64Bit() override { return IsOs64Bit(); }
  void SetFsRedirection(bool bDisable) override { ::SetFsRedirection(bDisable ? TRUE : FALSE); }

  uint32_t GetFolder(int nCsidl, CNyString* pFolder) override {
    wchar_t wszPath[MAX_PATH] = {};
    // The 32-bit system folder is named, never made: on a 64-bit system
    // without the 32-bit subsystem a made SysWOW64 would pretend to be one.
    const int nFlags = nCsidl == CSIDL_SYSTEMX86 ? CSIDL_FLAG_DONT_VERIFY : CSIDL_FLAG_CREATE;
    const HRESULT hr =
        SHGetFolderPathW(nullptr, nCsidl | nFlags | CSIDL_FLAG_DONT_UNEXPAND, nullptr, SHGFP_TYPE_DEFAULT, wszPath);
    if (FAILED(hr)) return static_cast<uint32_t>(hr);
    wszPath[MAX_PATH - 1] = 0;
    if (!pFolder->Assign(wszPath) && wszPath[0] != 0) return NY_E_INVALID_DATA;
    return NY_SUCCESS;
  }

  uint32_t GetModulePath(CNyString* pPath) override {
    wchar_t wszPath[MAX_PATH] = {};
    const DWORD cch = GetModuleFileNameW(nullptr, wszPath, MAX_PATH);
    if (cch == 0) return GetLastError();
    wszPath[MAX_PATH - 1] = 0;
    if (!pPath->Assign(wszPath)) return NY_E_INVALID_DATA;
    return NY_SUCCESS;
  }
};

}  // namespace

INyBuiltinSource* NyGetSystemBuiltinSource() {
  static CNySystemBuiltinSource s_source;
  return &s_source;
}
