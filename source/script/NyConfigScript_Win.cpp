// The system facts of the built-in variables on Windows.
#include <windows.h>
#include <shlobj.h>

#include <map>
#include <mutex>
#include <new>
#include <string>

#include "NyConfigScript.h"
#include "NyLog.h"
#include "NyResult.h"
#include "NySystem_Win.h"

namespace {

class CNySystemBuiltinSource : public INyBuiltinSource {
 public:
  bool Is64Bit() override { return IsOs64Bit(); }
  void SetFsRedirection(bool bDisable) override { ::SetFsRedirection(bDisable ? TRUE : FALSE); }

  // The shell reads a folder from the registry, and checks that it exists,
  // on every call; a setup's folders do not move while it runs, so each is
  // read once per process.
  uint32_t GetFolder(int nCsidl, CNyString* pFolder) override {
    const std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_folders.find(nCsidl);
    if (it == m_folders.end()) {
      wchar_t wszPath[MAX_PATH] = {};
      // The 32-bit system folder is named, never made: on a 64-bit system
      // without the 32-bit subsystem a made SysWOW64 would pretend to be one.
      const int nFlags = nCsidl == CSIDL_SYSTEMX86 ? CSIDL_FLAG_DONT_VERIFY : CSIDL_FLAG_CREATE;
      const HRESULT hr =
          SHGetFolderPathW(nullptr, nCsidl | nFlags | CSIDL_FLAG_DONT_UNEXPAND, nullptr, SHGFP_TYPE_DEFAULT, wszPath);
      if (FAILED(hr)) {
        const std::string folder = "shell folder " + std::to_string(nCsidl);
        return NYFAIL(static_cast<uint32_t>(hr), "SHGetFolderPathW", folder.c_str());
      }
      wszPath[MAX_PATH - 1] = 0;
      try {
        it = m_folders.emplace(nCsidl, wszPath).first;
      } catch (const std::bad_alloc&) {
        return NY_E_OUTOFMEMORY;
      }
    }
    if (!pFolder->Assign(it->second.c_str()) && !it->second.empty()) return NY_E_INVALID_DATA;
    return NY_SUCCESS;
  }

  uint32_t GetModulePath(CNyString* pPath) override {
    wchar_t wszPath[MAX_PATH] = {};
    const DWORD cch = GetModuleFileNameW(nullptr, wszPath, MAX_PATH);
    if (cch == 0) return NYFAIL(GetLastError(), "GetModuleFileNameW", "the program's own file");
    wszPath[MAX_PATH - 1] = 0;
    if (!pPath->Assign(wszPath)) return NY_E_INVALID_DATA;
    return NY_SUCCESS;
  }

 private:
  std::mutex m_mutex;
  std::map<int, std::wstring> m_folders;
};

}  // namespace

INyBuiltinSource* NyGetSystemBuiltinSource() {
  static CNySystemBuiltinSource s_source;
  return &s_source;
}
