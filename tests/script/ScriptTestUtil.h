#pragma once
// Helpers of the configuration-script tests.
#include <map>
#include <string>

#include "NyConfigScript.h"
#include "NyResult.h"
#include "NyString.h"

#if defined(_WIN32)
#include <windows.h>
#endif

namespace nytest {

// The shipped setup script: on the host its path in the source tree; under
// Wine the copy that the build puts beside the test program.
inline std::string ShippedScriptPath() {
#if defined(_WIN32)
  wchar_t wszPath[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, wszPath, MAX_PATH);
  std::wstring path(wszPath);
  path = path.substr(0, path.find_last_of(L'\\') + 1) + L"SetupScript.xml";
  CNyString text(path.c_str());
  return text.GetAnsi();
#else
  return NY_SHIPPED_SCRIPT_PATH;
#endif
}

// A built-in source with fixed answers, for either kind of system.
class FakeBuiltinSource : public INyBuiltinSource {
 public:
  explicit FakeBuiltinSource(bool b64Bit) : m_b64Bit(b64Bit) {
    folders[NY_CSIDL_DESKTOP] = L"C:\\Users\\T\\Desktop";
    folders[NY_CSIDL_PROGRAMS] = L"C:\\Users\\T\\Start Menu\\Programs";
    folders[NY_CSIDL_COMMON_PROGRAMS] = L"C:\\ProgramData\\Start Menu\\Programs";
    folders[NY_CSIDL_COMMON_DESKTOPDIRECTORY] = L"C:\\Users\\Public\\Desktop";
    folders[NY_CSIDL_APPDATA] = L"C:\\Users\\T\\AppData\\Roaming";
    folders[NY_CSIDL_COMMON_APPDATA] = L"C:\\ProgramData";
    folders[NY_CSIDL_WINDOWS] = L"C:\\Windows";
    if (b64Bit) {
      // What a 32-bit process is told on a 64-bit system.
      folders[NY_CSIDL_SYSTEM] = L"C:\\Windows\\system32";
      folders[NY_CSIDL_SYSTEMX86] = L"C:\\Windows\\system32";
      folders[NY_CSIDL_PROGRAM_FILES] = L"C:\\Program Files (x86)";
      folders[NY_CSIDL_PROGRAM_FILESX86] = L"C:\\Program Files (x86)";
    } else {
      folders[NY_CSIDL_SYSTEM] = L"C:\\Windows\\system32";
      folders[NY_CSIDL_PROGRAM_FILES] = L"C:\\Program Files";
    }
  }
  bool Is64Bit() override { return m_b64Bit; }
  void SetFsRedirection(bool bDisable) override {
    if (bDisable) ++nDisable; else ++nRevert;
    redirectionOff = bDisable;
  }
  uint32_t GetFolder(int nCsidl, CNyString* pFolder) override {
    if (failing.count(nCsidl) != 0) return failing[nCsidl];
    auto it = folders.find(nCsidl);
    if (it == folders.end()) return 0x80070057;
    if (m_b64Bit && !redirectionOff) ++nReadsWithRedirection;
    pFolder->Assign(it->second.c_str());
    return NY_SUCCESS;
  }
  uint32_t GetModulePath(CNyString* pPath) override {
    pPath->Assign(L"C:\\Temp\\Setup.exe");
    return NY_SUCCESS;
  }

  std::map<int, std::wstring> folders;
  std::map<int, uint32_t> failing;
  int nDisable = 0;
  int nRevert = 0;
  int nReadsWithRedirection = 0;
  bool redirectionOff = false;

 private:
  bool m_b64Bit;
};

// The value of a variable after the last successful Update, as UTF-8 (the
// code-page form of a UTF-8 script) or "<missing>".
inline std::string Value(const CNyXmlConfigScript& script, const char* pszName) {
  CNyString value;
  if (script.GetValue(pszName, &value) != NY_SUCCESS) return "<missing>";
  return value.GetText();
}

}  // namespace nytest
