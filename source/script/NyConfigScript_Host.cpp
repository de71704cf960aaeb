// The host build has no Windows system to ask: its built-in source answers
// the folders of an English 64-bit Windows as a 32-bit process sees them, so
// scripts (the shipped one included) expand the same way in unit tests and
// fuzzing.
#include "NyConfigScript.h"
#include "NyResult.h"

namespace {

class CNyHostBuiltinSource : public INyBuiltinSource {
 public:
  bool Is64Bit() override { return true; }
  void SetFsRedirection(bool) override {}

  uint32_t GetFolder(int nCsidl, CNyString* pFolder) override {
    const wchar_t* pwszFolder = nullptr;
    switch (nCsidl) {
      case NY_CSIDL_DESKTOP: pwszFolder = L"C:\\Users\\Zorvak\\Desktop"; break;
      case NY_CSIDL_PROGRAMS:
        pwszFolder = L"C:\\Users\\Zorvak\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs";
        break;
      case NY_CSIDL_COMMON_PROGRAMS: pwszFolder = L"C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs"; break;
      case NY_CSIDL_COMMON_DESKTOPDIRECTORY: pwszFolder = L"C:\\Users\\Public\\Desktop"; break;
      case NY_CSIDL_APPDATA: pwszFolder = L"C:\\Users\\Zorvak\\AppData\\Roaming"; break;
      case NY_CSIDL_COMMON_APPDATA: pwszFolder = L"C:\\ProgramData"; break;
      case NY_CSIDL_WINDOWS: pwszFolder = L"C:\\Windows"; break;
      case NY_CSIDL_SYSTEM: pwszFolder = L"C:\\Windows\\system32"; break;
      case NY_CSIDL_PROGRAM_FILES: pwszFolder = L"C:\\Program Files (x86)"; break;
      case NY_CSIDL_SYSTEMX86: pwszFolder = L"C:\\Windows\\SysWOW64"; break;
      case NY_CSIDL_PROGRAM_FILESX86: pwszFolder = L"C:\\Program Files (x86)"; break;
      default: return 0x80070057;  // E_INVALIDARG
    }
    return pFolder->Assign(pwszFolder) ? NY_SUCCESS : NY_E_INVALID_DATA;
  }

  uint32_t GetModulePath(CNyString* pPath) override {
    return pPath->Assign(L"C:\\Users\\Zorvak\\Downloads\\ZorvakSetup.exe") ? NY_SUCCESS : NY_E_INVALID_DATA;
  }
};

}  // namespace

INyBuiltinSource* NyGetSystemBuiltinSource() {
  static CNyHostBuiltinSource s_source;
  return &s_source;
}
