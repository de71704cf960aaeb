#pragma once
// What the setup tests share: the packages embedded in the test program,
// reading what an install left in the registry, and a recording callback.
#include <windows.h>

#include <string>
#include <vector>

#include "NyRegistryUtil.h"
#include "NySetupExec.h"
#include "NySystem_Win.h"

// Resource ids of the embedded test packages, in the order they are built;
// each but kPackageThree has its digest beside it.
constexpr UINT kPackageFull = 136;        // files, folders, both registry views
constexpr UINT kPackageBadVersion = 137;  // Version "1.0"
constexpr UINT kPackageThree = 138;       // three actions; empty uninstall list; no digest
constexpr UINT kPackageUnknown = 139;     // an unknown element between two actions
constexpr UINT kPackageNoDesc = 140;      // an action without a template
const wchar_t kScriptPath[] = L"\\PackageFiles\\SetupScript.xml";
const wchar_t kFullUninstallKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{ZorvakSetupTest-0001}";

inline std::wstring ReadRegString(HKEY hRoot, const std::wstring& subKey, const wchar_t* pwszName, BOOL b64) {
  RegistryKeyRef ref;
  ref.hRoot = hRoot;
  ref.subKey = subKey;
  ref.valueName = pwszName;
  ref.b64Key = b64;
  wchar_t wsz[1024] = {};
  size_t cch = ARRAYSIZE(wsz);
  if (ReadRegistryString(&ref, wsz, &cch) != 0) return L"<missing>";
  return wsz;
}

// The driver as the tests use it: whatever mode a test puts it in, it never
// deletes this test program when it is destroyed (an uninstall-mode driver
// deletes its own executable in Clear).
class TestSetupExec : public CNySetupExec {
 public:
  ~TestSetupExec() override { SetupInfo().m_nSetupMode = SETUP_MODE_INSTALL; }
};

// Sets the mode the way the command line would.
inline void SetModeBySwitch(CNySetupExec* pExec, const wchar_t* pwszSwitch) {
  std::wstring self = L"C:\\ZorvakSetup.exe", sw = pwszSwitch;
  wchar_t* argv[] = {&self[0], &sw[0]};
  uint32_t bExit = 0;
  pExec->HandleArguments(sw.empty() ? 1 : 2, argv, self, &bExit);
}

// The system folders as the product sees them: sys32 is the 32-bit one
// (SysWOW64 on a 64-bit system), sys64 the native one.
inline std::wstring WindowsFolder() {
  wchar_t wsz[MAX_PATH] = {};
  GetSystemWindowsDirectoryW(wsz, MAX_PATH);
  return wsz;
}

inline bool NativeFileExists(const std::wstring& path) {
  SetFsRedirection(TRUE);
  const bool bExists = GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
  SetFsRedirection(FALSE);
  return bExists;
}

struct RecordedCall {
  uint32_t u4Completed, u4Total, bDone, u4Result;
  std::string name;
};

// Records every call and answers from a script of answers (then 0).
struct Recorder {
  std::vector<RecordedCall> calls;
  std::vector<uint32_t> answers;
  static uint32_t Callback(CNySetupStatus* pStatus, void* pvContext) {
    auto* pSelf = static_cast<Recorder*>(pvContext);
    pSelf->calls.push_back({pStatus->m_u4Completed, pStatus->m_u4Total, pStatus->m_bDone, pStatus->m_u4Result,
                            pStatus->m_strActionName.GetAnsi()});
    const size_t i = pSelf->calls.size() - 1;
    if (i < pSelf->answers.size()) return pSelf->answers[i];
    return ActionFailureMayPass(pStatus->m_failure, pStatus->m_u4Result) ? NY_PROGRESS_CONTINUE : NY_PROGRESS_ABORT;
  }
};
