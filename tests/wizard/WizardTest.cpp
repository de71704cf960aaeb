// The shipped installer end to end: silent install and uninstall, the wizard
// driven through window messages, a second setup, a file in use, a DLL
// planted beside the program, a damaged download and the signed program.
#include <windows.h>
#include <objbase.h>
#include <shlobj.h>
#include <softpub.h>
#include <wintrust.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <cstdio>
#include <cstring>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "NyFileSigner.h"
#include "NyHandle.h"
#include "NyFileUtil.h"
#include "NyPackageFormat.h"
#include "NyRegistryUtil.h"
#include "NyShareMem.h"
#include "NyShmLogger.h"
#include "NySystem_Win.h"
#include "PngShot.h"
#include "PendingRenames.h"
#include "ScratchDir.h"
#include "TestProcess.h"
#include "resource.h"

namespace {

const wchar_t kUninstallKey[] =
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{A1111111-B897-4b94-A031-598EB296D75B}";
const wchar_t* const kCardKeys[] = {L"SOFTWARE\\Microsoft\\Cryptography\\Calais\\SmartCards\\Zorvak PIV Token",
                                    L"SOFTWARE\\Microsoft\\Cryptography\\Calais\\SmartCards\\Zorvak ID Device"};

std::wstring SetupPath() { return ExeDir() + NY_SETUP_RELPATH; }

std::wstring Folder(int nCsidl) {
  wchar_t wsz[MAX_PATH] = {};
  SHGetFolderPathW(nullptr, nCsidl, nullptr, 0, wsz);
  return wsz;
}

std::wstring InstallDir() {
  return Folder(IsOs64Bit() ? CSIDL_PROGRAM_FILESX86 : CSIDL_PROGRAM_FILES) + L"\\Zorvak\\MiniDriver";
}

std::wstring ShortcutPath() {
  return Folder(CSIDL_COMMON_PROGRAMS) + L"\\Zorvak Smart Card Minidriver\\Uninstall.lnk";
}

std::wstring SystemFolder() {
  wchar_t wsz[MAX_PATH] = {};
  GetSystemDirectoryW(wsz, MAX_PATH);
  return wsz;
}

std::wstring WindowsFolder() {
  wchar_t wsz[MAX_PATH] = {};
  GetSystemWindowsDirectoryW(wsz, MAX_PATH);
  return wsz;
}

// The system folders as the product sees them: the 32-bit one, and on a
// 64-bit system the native one, reached with redirection switched off.
bool SystemFileExists(bool bNative, const wchar_t* pwszName) {
  const std::wstring path =
      WindowsFolder() + (bNative || !IsOs64Bit() ? L"\\System32\\" : L"\\SysWOW64\\") + pwszName;
  if (bNative) SetFsRedirection(TRUE);
  const bool bExists = GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
  if (bNative) SetFsRedirection(FALSE);
  return bExists;
}

int ValueCount(const std::wstring& subKey, BOOL b64) {
  HKEY hKey = nullptr;
  const REGSAM view = IsOs64Bit() ? (b64 ? KEY_WOW64_64KEY : KEY_WOW64_32KEY) : 0;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, subKey.c_str(), 0, KEY_READ | view, &hKey) != ERROR_SUCCESS) return -1;
  DWORD dwValues = 0;
  RegQueryInfoKeyW(hKey, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &dwValues, nullptr, nullptr, nullptr,
                   nullptr);
  RegCloseKey(hKey);
  return static_cast<int>(dwValues);
}

uint64_t FileBytes(const std::wstring& path, bool bNative = false) {
  if (bNative) SetFsRedirection(TRUE);
  WIN32_FILE_ATTRIBUTE_DATA data{};
  const bool bFound = GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data) != FALSE;
  if (bNative) SetFsRedirection(FALSE);
  return bFound ? (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow : 0;
}

// A value of the uninstall entry, which lives in the 32-bit view.
bool ReadUninstallValue(const wchar_t* pwszName, DWORD dwFlags, void* pvData, DWORD cbData) {
  const REGSAM view = IsOs64Bit() ? KEY_WOW64_32KEY : 0;
  HKEY hKey = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kUninstallKey, 0, KEY_READ | view, &hKey) != ERROR_SUCCESS) return false;
  const bool bOk = RegGetValueW(hKey, nullptr, pwszName, dwFlags, nullptr, pvData, &cbData) == ERROR_SUCCESS;
  RegCloseKey(hKey);
  return bOk;
}

std::wstring UninstallValue(const wchar_t* pwszName) {
  wchar_t wsz[512] = {};
  return ReadUninstallValue(pwszName, RRF_RT_REG_SZ, wsz, sizeof(wsz)) ? wsz : L"<missing>";
}

DWORD UninstallNumber(const wchar_t* pwszName) {
  DWORD dw = 0xFFFFFFFF;
  ReadUninstallValue(pwszName, RRF_RT_REG_DWORD, &dw, sizeof(dw));
  return dw;
}

// What deployment tools read of the uninstall entry: the silent uninstall,
// where the product is and how big (what the install copied, in KB), the
// day of the install, and that the entry offers no Modify or Repair.
void ExpectFullUninstallEntry() {
  EXPECT_EQ(ValueCount(kUninstallKey, FALSE), 12);
  EXPECT_EQ(UninstallValue(L"QuietUninstallString"), L"\"" + InstallDir() + L"\\Uninstall.exe\" /S");
  EXPECT_EQ(UninstallValue(L"InstallLocation"), InstallDir());
  EXPECT_EQ(UninstallNumber(L"NoModify"), 1u);
  EXPECT_EQ(UninstallNumber(L"NoRepair"), 1u);
  SYSTEMTIME today{};
  GetLocalTime(&today);
  wchar_t wszDate[16] = {};
  swprintf(wszDate, 16, L"%04u%02u%02u", today.wYear, today.wMonth, today.wDay);
  EXPECT_EQ(UninstallValue(L"InstallDate"), wszDate);
  const std::wstring wow = WindowsFolder() + (IsOs64Bit() ? L"\\SysWOW64\\" : L"\\System32\\");
  uint64_t u8Bytes = FileBytes(wow + L"ZorvakMiniDriver.dll") + FileBytes(wow + L"ZorvakMiniDriver.cfg") +
                     FileBytes(InstallDir() + L"\\Uninstall.exe");
  if (IsOs64Bit()) {
    const std::wstring native = WindowsFolder() + L"\\System32\\";
    u8Bytes += FileBytes(native + L"ZorvakMiniDriver.dll", true) + FileBytes(native + L"ZorvakMiniDriver.cfg", true);
  }
  EXPECT_EQ(UninstallNumber(L"EstimatedSize"), static_cast<DWORD>((u8Bytes + 1023) / 1024));
}

std::wstring ShortcutTarget() {
  std::wstring target;
  if (FAILED(CoInitialize(nullptr))) return target;
  IShellLinkW* pLink = nullptr;
  if (SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                 reinterpret_cast<void**>(&pLink)))) {
    IPersistFile* pFile = nullptr;
    if (SUCCEEDED(pLink->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&pFile)))) {
      wchar_t wsz[MAX_PATH] = {};
      if (SUCCEEDED(pFile->Load(ShortcutPath().c_str(), STGM_READ)) &&
          SUCCEEDED(pLink->GetPath(wsz, MAX_PATH, nullptr, 0))) {
        target = wsz;
      }
      pFile->Release();
    }
    pLink->Release();
  }
  CoUninitialize();
  return target;
}

std::set<std::wstring> TempEntries(const wchar_t* pwszPattern) {
  wchar_t wszTemp[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, wszTemp);
  std::set<std::wstring> entries;
  WIN32_FIND_DATAW fd;
  HANDLE hFind = FindFirstFileW((std::wstring(wszTemp) + pwszPattern).c_str(), &fd);
  if (hFind == INVALID_HANDLE_VALUE) return entries;
  do entries.insert(std::wstring(wszTemp) + fd.cFileName);
  while (FindNextFileW(hFind, &fd));
  FindClose(hFind);
  return entries;
}

bool IsInstalled() { return PathExists(InstallDir() + L"\\Uninstall.exe"); }

// Nothing of the product anywhere: no file in either system folder, no card
// key in either view, no uninstall entry, no shortcut, no install folder.
void ExpectNothingInstalled() {
  for (const wchar_t* pwszFile : {L"ZorvakMiniDriver.dll", L"ZorvakMiniDriver.cfg"}) {
    EXPECT_FALSE(SystemFileExists(false, pwszFile));
    EXPECT_FALSE(SystemFileExists(true, pwszFile));
  }
  for (const wchar_t* pwszKey : kCardKeys) {
    EXPECT_EQ(ValueCount(pwszKey, FALSE), -1);
    EXPECT_EQ(ValueCount(pwszKey, TRUE), -1);
  }
  EXPECT_EQ(ValueCount(kUninstallKey, FALSE), -1);
  EXPECT_FALSE(PathExists(ShortcutPath()));
  EXPECT_FALSE(PathExists(InstallDir()));
}

// Flips a byte in the middle of the 64-bit minidriver inside the package of
// a copy of the setup, as a damaged download would have it. The package is
// found through the copy loaded as a data file, which maps the file as it is.
bool FlipPayloadByte(const std::wstring& exe) {
  std::string bytes = ReadTextFile(exe);
  HMODULE hFile = LoadLibraryExW(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  if (hFile == nullptr) return false;
  const auto* pbFile = reinterpret_cast<const char*>(reinterpret_cast<ULONG_PTR>(hFile) & ~ULONG_PTR(3));
  HRSRC hPackage = FindResourceW(hFile, MAKEINTRESOURCEW(136), MAKEINTRESOURCEW(256));
  const char* pbPackage = nullptr;
  DWORD cbPackage = 0;
  if (hPackage != nullptr) {
    pbPackage = static_cast<const char*>(LockResource(LoadResource(hFile, hPackage)));
    cbPackage = SizeofResource(hFile, hPackage);
  }
  size_t at = 0;
  std::vector<NyPackageEntry> list;
  if (pbPackage != nullptr && NyPackageReadList(reinterpret_cast<const uint8_t*>(pbPackage), cbPackage, list) &&
      bytes.compare(pbPackage - pbFile, cbPackage, pbPackage, cbPackage) == 0) {
    for (const NyPackageEntry& entry : list)
      if (entry.relativePath == "\\PackageFiles\\System32(x64)\\ZorvakMiniDriver.dll")
        at = (pbPackage - pbFile) + entry.u4Offset + entry.u4Size / 2;
  }
  FreeLibrary(hFile);
  if (at == 0) return false;
  bytes[at] ^= 1;
  return WriteTextFile(exe, bytes);
}

// WinVerifyTrust's verdict on a file, with no window and no network.
LONG VerifyTrust(const std::wstring& path) {
  using WinVerifyTrustFn = LONG(WINAPI*)(HWND, GUID*, LPVOID);
  const auto pfnVerify = NyGetProcAs<WinVerifyTrustFn>(NyLoadSystemLibrary(L"wintrust.dll"), "WinVerifyTrust");
  if (pfnVerify == nullptr) return -1;
  WINTRUST_FILE_INFO file{sizeof(file), path.c_str(), nullptr, nullptr};
  WINTRUST_DATA data{};
  data.cbStruct = sizeof(data);
  data.dwUIChoice = WTD_UI_NONE;
  data.fdwRevocationChecks = WTD_REVOKE_NONE;
  data.dwProvFlags = WTD_CACHE_ONLY_URL_RETRIEVAL | WTD_REVOCATION_CHECK_NONE;
  data.dwUnionChoice = WTD_CHOICE_FILE;
  data.pFile = &file;
  GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
  return pfnVerify(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
}

// Uninstalls silently through the installed uninstaller, which returns when
// the removal is done; its temporary copy deletes itself right after.
DWORD UninstallSilently() {
  const std::set<std::wstring> before = TempEntries(L"Uninstallation_*.exe");
  Process launcher(InstallDir() + L"\\Uninstall.exe", L"/S");
  const DWORD dwExit = launcher.Wait();
  WaitFor("the uninstaller's copy to delete itself", [&] {
    for (const std::wstring& copy : TempEntries(L"Uninstallation_*.exe"))
      if (before.count(copy) == 0) return false;
    return true;
  }, 10000);
  return dwExit;
}

// The wizard window of a running setup, found through its process.
struct FindData {
  DWORD dwPid;
  const wchar_t* pwszExcept;
  HWND hFound;
};

BOOL CALLBACK FindDialog(HWND hWnd, LPARAM lParam) {
  auto* pData = reinterpret_cast<FindData*>(lParam);
  DWORD dwPid = 0;
  GetWindowThreadProcessId(hWnd, &dwPid);
  wchar_t wszClass[64] = {};
  GetClassNameW(hWnd, wszClass, 64);
  if (dwPid != pData->dwPid || wcscmp(wszClass, L"#32770") != 0 || !IsWindowVisible(hWnd)) return TRUE;
  if (pData->pwszExcept != nullptr && GetDlgItem(hWnd, IDC_BTN_INSTALL) != nullptr) return TRUE;
  pData->hFound = hWnd;
  return FALSE;
}

// Waits for the process's wizard dialog (bMessageBox false) or for one of
// its message boxes; null when the process ends first.
HWND WaitForWindow(Process& process, bool bMessageBox) {
  HWND hFound = nullptr;
  WaitFor(bMessageBox ? "a message box of the setup" : "the setup's wizard", [&] {
    FindData data{process.Pid(), bMessageBox ? L"box" : nullptr, nullptr};
    EnumWindows(FindDialog, reinterpret_cast<LPARAM>(&data));
    if (data.hFound != nullptr && (bMessageBox || GetDlgItem(data.hFound, IDC_BTN_INSTALL) != nullptr)) {
      hFound = data.hFound;
      return true;
    }
    return process.HasEnded();
  });
  return hFound;
}

std::wstring Text(HWND hWnd, int nId = 0) {
  wchar_t wsz[512] = {};
  if (nId == 0) {
    GetWindowTextW(hWnd, wsz, 512);
  } else {
    GetDlgItemTextW(hWnd, nId, wsz, 512);
  }
  return wsz;
}

bool Shown(HWND hDlg, int nId) { return IsWindowVisible(GetDlgItem(hDlg, nId)) != FALSE; }

void Click(HWND hDlg, int nId) {
  PostMessageW(hDlg, WM_COMMAND, MAKEWPARAM(nId, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(hDlg, nId)));
}

void Screenshot(HWND hWnd, const wchar_t* pwszName) {
  const std::wstring arch = IsOs64Bit() ? L"win64" : L"win32";
  CreateDirectoryW((ExeDir() + L"screens").c_str(), nullptr);
  // Give the page a moment to paint before it is captured.
  UpdateWindow(hWnd);
  Sleep(200);
  EXPECT_TRUE(SaveWindowPng(hWnd, ExeDir() + L"screens\\" + arch + L"-" + pwszName + L".png"));
}

void WaitForFinishPage(HWND hDlg) {
  WaitFor("the finish page",
          [&] { return Shown(hDlg, IDC_BTN_FINISH) && IsWindowEnabled(GetDlgItem(hDlg, IDC_BTN_FINISH)); });
}

// The page a failed run ends on: what failed, under the wizard's welcome
// title. Finish ends the program: its exit code.
DWORD FinishFailed(Process& setup, HWND hDlg, const wchar_t* pwszBody, const wchar_t* pwszTitle,
                   const wchar_t* pwszScreenshot) {
  WaitForFinishPage(hDlg);
  EXPECT_EQ(Text(hDlg, IDC_STATIC_BODY), pwszBody);
  EXPECT_EQ(Text(hDlg, IDC_STATIC_TITLE), pwszTitle);
  Screenshot(hDlg, pwszScreenshot);
  Click(hDlg, IDC_BTN_FINISH);
  return setup.Wait();
}

class Installer : public testing::Test {
 protected:
  void SetUp() override {
    if (IsInstalled()) UninstallSilently();
    ASSERT_FALSE(IsInstalled());
  }
  void TearDown() override {
    if (IsInstalled()) UninstallSilently();
  }
};

TEST_F(Installer, SilentInstallThenSilentUninstall) {
  const std::set<std::wstring> packagesBefore = TempEntries(L"NyKeyPackage_*");
  Process install(SetupPath(), L"/S");
  ASSERT_EQ(install.Wait(), 0u);
  for (const std::wstring& folder : TempEntries(L"NyKeyPackage_*")) {
    EXPECT_EQ(packagesBefore.count(folder), 1u) << "the extraction folder was left behind";
  }

  for (const wchar_t* pwszFile : {L"ZorvakMiniDriver.dll", L"ZorvakMiniDriver.cfg"}) {
    EXPECT_TRUE(SystemFileExists(false, pwszFile)) << "32-bit system folder";
    if (IsOs64Bit()) {
      EXPECT_TRUE(SystemFileExists(true, pwszFile)) << "native system folder";
    }
  }
  for (const wchar_t* pwszKey : kCardKeys) {
    EXPECT_EQ(ValueCount(pwszKey, FALSE), 5);
    if (IsOs64Bit()) {
      EXPECT_EQ(ValueCount(pwszKey, TRUE), 5);
    }
  }
  ExpectFullUninstallEntry();
  EXPECT_TRUE(PathExists(InstallDir() + L"\\Uninstall.exe"));
  EXPECT_EQ(_wcsicmp(ShortcutTarget().c_str(), (InstallDir() + L"\\Uninstall.exe").c_str()), 0) << "shortcut";

  // The installed uninstaller returns when the removal is done.
  EXPECT_EQ(UninstallSilently(), 0u);
  ExpectNothingInstalled();
}

TEST_F(Installer, WizardInstallsAsksBeforeTheSameVersionAndUninstalls) {
  {
    Process setup(SetupPath(), L"");
    HWND hDlg = WaitForWindow(setup, false);
    ASSERT_NE(hDlg, nullptr) << "no wizard; exit code " << setup.Wait();
    EXPECT_EQ(Text(hDlg), L"Zorvak Smart Card Minidriver Setup");
    EXPECT_EQ(Text(hDlg, IDC_STATIC_TITLE), L"Welcome to Zorvak Smart Card Minidriver Setup Wizard");
    EXPECT_EQ(Text(hDlg, IDC_STATIC_BODY),
              L"The Setup Wizard will install Zorvak Smart Card Minidriver on your computer. Click Next to continue or "
              L"Cancel to exit Setup Wizard.");
    EXPECT_EQ(Text(hDlg, IDC_BTN_INSTALL), L"Next");
    EXPECT_EQ(Text(hDlg, IDC_BTN_CANCEL), L"Cancel");
    EXPECT_TRUE(Shown(hDlg, IDC_BTN_INSTALL));
    EXPECT_FALSE(Shown(hDlg, IDC_BTN_UNINSTALL));
    EXPECT_FALSE(Shown(hDlg, IDC_BTN_FINISH));
    Screenshot(hDlg, L"install-welcome");
    Click(hDlg, IDC_BTN_INSTALL);
    WaitForFinishPage(hDlg);
    EXPECT_EQ(Text(hDlg, IDC_STATIC_TITLE), L"Completed Zorvak Smart Card Minidriver Setup Wizard");
    EXPECT_EQ(Text(hDlg, IDC_STATIC_BODY), L"Click Finish button to exit Setup Wizard.");
    EXPECT_EQ(Text(hDlg, IDC_BTN_FINISH), L"Finish");
    EXPECT_TRUE(Shown(hDlg, IDC_PROGRESS));
    EXPECT_EQ(SendDlgItemMessageW(hDlg, IDC_PROGRESS, 0x408 /* PBM_GETPOS */, 0, 0), 100);
    Screenshot(hDlg, L"install-finish");
    Click(hDlg, IDC_BTN_FINISH);
    EXPECT_EQ(setup.Wait(), 0u);
  }
  ASSERT_TRUE(IsInstalled());
  {
    // The same version again: the question, and No changes nothing.
    FILETIME ftBefore{};
    WIN32_FILE_ATTRIBUTE_DATA data;
    GetFileAttributesExW((InstallDir() + L"\\Uninstall.exe").c_str(), GetFileExInfoStandard, &data);
    ftBefore = data.ftLastWriteTime;
    Process setup(SetupPath(), L"");
    HWND hBox = WaitForWindow(setup, true);
    ASSERT_NE(hBox, nullptr);
    EXPECT_EQ(Text(hBox, 0xFFFF), L"Installed version is equal to installing version, continue installation?");
    Screenshot(hBox, L"install-equal-version");
    PostMessageW(hBox, WM_COMMAND, IDNO, 0);
    EXPECT_EQ(setup.Wait(), 1602u);
    GetFileAttributesExW((InstallDir() + L"\\Uninstall.exe").c_str(), GetFileExInfoStandard, &data);
    EXPECT_EQ(CompareFileTime(&ftBefore, &data.ftLastWriteTime), 0);
  }
  {
    // The uninstall wizard runs in the temporary copy the launcher starts;
    // the launcher waits for it and ends with its exit code.
    Process launcher(InstallDir() + L"\\Uninstall.exe", L"");
    HWND hDlg = nullptr;
    ASSERT_TRUE(WaitFor("the uninstall wizard", [&] {
      return (hDlg = FindWindowW(L"#32770", L"Uninstallation wizard for Zorvak Smart Card Minidriver")) != nullptr;
    }));
    EXPECT_EQ(Text(hDlg, IDC_STATIC_TITLE), L"Welcome to Zorvak Smart Card Minidriver Uninstall Wizard");
    EXPECT_TRUE(Shown(hDlg, IDC_BTN_UNINSTALL));
    EXPECT_FALSE(Shown(hDlg, IDC_BTN_INSTALL));
    Screenshot(hDlg, L"uninstall-welcome");
    Click(hDlg, IDC_BTN_UNINSTALL);
    WaitForFinishPage(hDlg);
    EXPECT_EQ(Text(hDlg, IDC_STATIC_BODY), L"Click Finish button to exit Uninstall Wizard.");
    Screenshot(hDlg, L"uninstall-finish");
    Click(hDlg, IDC_BTN_FINISH);
    EXPECT_EQ(launcher.Wait(), 0u);
    EXPECT_FALSE(PathExists(InstallDir()));
  }
  EXPECT_FALSE(IsInstalled());
}

TEST_F(Installer, CancelOnTheWelcomePage) {
  Process setup(SetupPath(), L"");
  HWND hDlg = WaitForWindow(setup, false);
  ASSERT_NE(hDlg, nullptr);
  // Escape does nothing; Cancel leaves.
  PostMessageW(hDlg, WM_COMMAND, IDCANCEL, 0);
  Sleep(200);
  EXPECT_FALSE(setup.HasEnded());
  Click(hDlg, IDC_BTN_CANCEL);
  EXPECT_EQ(setup.Wait(), 1602u);
  EXPECT_FALSE(IsInstalled());
}

// Nobody answers a silent run: a mode without an action list fails at once.
TEST_F(Installer, SilentRepairAndUpgradeEndWithoutAWindow) {
  for (const wchar_t* pwszSwitches : {L"/REPAIR /S", L"/UPGRADE /S"}) {
    Process setup(SetupPath(), pwszSwitches);
    EXPECT_EQ(setup.Wait(), 1603u) << (pwszSwitches[1] == L'R' ? "repair" : "upgrade");
  }
}

TEST_F(Installer, RepairShowsTheUninstallPagesAndFails) {
  Process setup(SetupPath(), L"/REPAIR");
  HWND hDlg = WaitForWindow(setup, false);
  ASSERT_NE(hDlg, nullptr);
  EXPECT_EQ(Text(hDlg), L"Uninstallation wizard for Zorvak Smart Card Minidriver");
  EXPECT_TRUE(Shown(hDlg, IDC_BTN_UNINSTALL));
  Click(hDlg, IDC_BTN_UNINSTALL);
  EXPECT_EQ(FinishFailed(setup, hDlg, L"Uninstall failed.", L"Welcome to Zorvak Smart Card Minidriver Uninstall Wizard",
                         L"repair-failed"),
            1603u);
}

TEST_F(Installer, ASecondSetupIsRefusedWhileTheFirstShowsItsWizard) {
  Process first(SetupPath(), L"");
  HWND hDlg = WaitForWindow(first, false);
  ASSERT_NE(hDlg, nullptr);
  Process silent(SetupPath(), L"/S");
  EXPECT_EQ(silent.Wait(), 1618u);
  Process second(SetupPath(), L"");
  HWND hBox = WaitForWindow(second, true);
  ASSERT_NE(hBox, nullptr);
  EXPECT_EQ(Text(hBox, 0xFFFF), L"Installer has already been running!");
  PostMessageW(hBox, WM_COMMAND, IDOK, 0);
  EXPECT_EQ(second.Wait(), 1618u);
  Click(hDlg, IDC_BTN_CANCEL);
  EXPECT_EQ(first.Wait(), 1602u);
}

// An install over a DLL in use leaves the new one for the restart; an
// uninstall before that restart takes it back, so that nothing of the
// product comes back when the machine restarts.
TEST_F(Installer, AnUninstallTakesBackWhatAnInstallLeftForTheRestart) {
  Process install(SetupPath(), L"/S");
  ASSERT_EQ(install.Wait(), 0u);
  const std::wstring dll = WindowsFolder() + (IsOs64Bit() ? L"\\SysWOW64\\" : L"\\System32\\") + L"ZorvakMiniDriver.dll";
  const PendingRenamesGuard pending;
  // Something of Wine's may still have the fresh file open for a moment
  // after the installer ended; the holder is started again then.
  auto holder = HoldFile(TestHelperExe(), dll);
  Process reinstall(SetupPath(), L"/S");
  EXPECT_EQ(reinstall.Wait(), 3010u);
  EXPECT_TRUE(PendingRestores(dll));
  TerminateProcess(holder->Handle(), 0);
  holder->Wait();
  // Nothing is in use any more: the uninstall removes everything at once
  // and leaves nothing for the restart to bring back.
  EXPECT_EQ(UninstallSilently(), 0u);
  EXPECT_FALSE(PendingRestores(dll));
  // The restart, as Wine does it: the pending renames and deletions run.
  Process restart(SystemFolder() + L"\\wineboot.exe", L"-r");
  EXPECT_EQ(restart.Wait(), 0u);
  WIN32_FIND_DATAW fd;
  for (const std::wstring& folder : {WindowsFolder() + L"\\SysWOW64\\", WindowsFolder() + L"\\System32\\"}) {
    if (folder.find(L"SysWOW64") != std::wstring::npos && !IsOs64Bit()) continue;
    SetFsRedirection(TRUE);
    const CNyFind find(FindFirstFileW((folder + L"ZorvakMiniDriver*").c_str(), &fd));
    SetFsRedirection(FALSE);
    EXPECT_FALSE(find) << "left in " << std::string(folder.begin(), folder.end()) << ": "
                       << std::string(fd.cFileName, fd.cFileName + wcslen(fd.cFileName));
  }
  EXPECT_FALSE(PathExists(InstallDir()));
}

// A removal that fails tells the caller so: a product file that cannot be
// deleted (a folder stands in its place) stops the uninstall, and the
// installed uninstaller ends with the failure's exit code. What it removed
// before stays removed: an uninstall is never rolled back.
TEST_F(Installer, AFailedRemovalEndsTheUninstallerWithItsCode) {
  Process install(SetupPath(), L"/S");
  ASSERT_EQ(install.Wait(), 0u);
  const std::wstring cfg =
      WindowsFolder() + (IsOs64Bit() ? L"\\SysWOW64\\" : L"\\System32\\") + L"ZorvakMiniDriver.cfg";
  ASSERT_TRUE(DeleteFileW(cfg.c_str()));
  ASSERT_TRUE(CreateDirectoryW(cfg.c_str(), nullptr));
  EXPECT_EQ(UninstallSilently(), 1603u);
  EXPECT_FALSE(PathExists(InstallDir())) << "an uninstall that fails is not rolled back";
  ASSERT_TRUE(RemoveDirectoryW(cfg.c_str()));
  // Put the product back whole, for the fixture to remove.
  Process reinstall(SetupPath(), L"/S");
  EXPECT_EQ(reinstall.Wait(), 0u);
}

// A failure (a folder has taken the name of the uninstaller the list
// copies) and a cancel while the install runs: both undo what the run did,
// end on the failure page, and exit with 1603 and 1602.
TEST_F(Installer, AFailedOrCancelledInstallIsRolledBack) {
  const std::wstring blocker = InstallDir() + L"\\Uninstall.exe";
  ASSERT_EQ(CreateDirectoryTree((blocker + L"\\").c_str()), 0u);
  const auto expectNoProduct = [](const char* pszWhen) {
    EXPECT_EQ(ValueCount(kUninstallKey, FALSE), -1) << pszWhen;
    for (const wchar_t* pwszKey : kCardKeys) {
      EXPECT_EQ(ValueCount(pwszKey, FALSE), -1) << pszWhen;
      EXPECT_EQ(ValueCount(pwszKey, TRUE), -1) << pszWhen;
    }
  };
  ScratchDir logs(L"ny_rollback_log");
  Process silent(SetupPath(), L"/S \"/LOG=" + (logs / L"install.log") + L"\"");
  EXPECT_EQ(silent.Wait(), 1603u);
  expectNoProduct("silent");
  const std::string log = ReadTextFile(logs / L"install.log");
  EXPECT_NE(log.find("rolling back "), std::string::npos);
  EXPECT_NE(log.find("rollback complete"), std::string::npos);
  {
    Process setup(SetupPath(), L"");
    HWND hDlg = WaitForWindow(setup, false);
    ASSERT_NE(hDlg, nullptr);
    Click(hDlg, IDC_BTN_INSTALL);
    EXPECT_EQ(FinishFailed(setup, hDlg, L"Install failed.", L"Welcome to Zorvak Smart Card Minidriver Setup Wizard",
                           L"install-rolled-back"),
              1603u);
    expectNoProduct("wizard");
  }
  ASSERT_TRUE(RemoveDirectoryW(blocker.c_str()));
  Process setup(SetupPath(), L"");
  HWND hDlg = WaitForWindow(setup, false);
  ASSERT_NE(hDlg, nullptr);
  Click(hDlg, IDC_BTN_INSTALL);
  Click(hDlg, IDC_BTN_CANCEL);
  WaitForFinishPage(hDlg);
  EXPECT_EQ(Text(hDlg, IDC_STATIC_BODY), L"Install failed.");
  Click(hDlg, IDC_BTN_FINISH);
  EXPECT_EQ(setup.Wait(), 1602u);
  expectNoProduct("cancelled");
}

// The lines of a log file, and whether each looks as the viewer prints a
// record: date, time, process, thread, level, source:line, text.
std::vector<std::string> LogLines(const std::wstring& path) {
  std::vector<std::string> lines;
  const std::string text = ReadTextFile(path);
  for (size_t at = 0, end; at < text.size(); at = end + 1) {
    end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(at, end - at));
  }
  return lines;
}

bool IsRecordLine(const std::string& line) {
  unsigned y, mo, d, h, mi, sec, ms, pid, tid, level;
  char szSource[64];
  return sscanf(line.c_str(), "%4u-%2u-%2u %2u:%2u:%2u.%3u %u %u %u %63s", &y, &mo, &d, &h, &mi, &sec, &ms, &pid, &tid,
                &level, szSource) == 11 &&
         strchr(szSource, ':') != nullptr;
}

std::string Pid(const std::string& line) {
  std::istringstream fields(line);
  std::string date, time, pid;
  fields >> date >> time >> pid;
  return pid;
}

TEST_F(Installer, LogFilesOfAnInstallAndOfAnUninstall) {
  ScratchDir logs(L"ny_logs");
  Process install(SetupPath(), L"/S \"/LOG=" + (logs / L"install.log") + L"\"");
  ASSERT_EQ(install.Wait(), 0u);
  std::vector<std::string> lines = LogLines(logs / L"install.log");
  ASSERT_GT(lines.size(), 100u);
  for (const std::string& line : lines) EXPECT_TRUE(IsRecordLine(line)) << line;
  EXPECT_NE(ReadTextFile(logs / L"install.log").find("CNyActionFile::Do"), std::string::npos);
  EXPECT_NE(lines.back().find("exit code 0"), std::string::npos) << lines.back();

  // The uninstaller's temporary copy writes into the launcher's file; the
  // last line is the launcher's. A relative path is the caller's folder's.
  SetCurrentDirectoryW(logs.Path().c_str());
  Process uninstall(InstallDir() + L"\\Uninstall.exe", L"/S /LOG=uninstall.log");
  ASSERT_EQ(uninstall.Wait(), 0u);
  lines = LogLines(logs / L"uninstall.log");
  ASSERT_GT(lines.size(), 50u);
  std::set<std::string> pids;
  for (const std::string& line : lines) pids.insert(Pid(line));
  EXPECT_EQ(pids.size(), 2u) << "the launcher and its copy";
  EXPECT_NE(ReadTextFile(logs / L"uninstall.log").find("CNyActionDeleteDir::Do"), std::string::npos);
  EXPECT_NE(lines.back().find("exit code 0"), std::string::npos) << lines.back();
  EXPECT_EQ(Pid(lines.back()), Pid(lines.front()));
  SetCurrentDirectoryW(ExeDir().c_str());
}

TEST_F(Installer, ALogFileThatCannotBeOpenedStopsTheRunBeforeItStarts) {
  Process install(SetupPath(), L"/S /LOG=C:\\zorvak-no-such-folder\\install.log");
  EXPECT_EQ(install.Wait(), 1603u);
  EXPECT_FALSE(IsInstalled());
  EXPECT_EQ(ValueCount(kUninstallKey, FALSE), -1);
}

TEST_F(Installer, ALogFileOfItsOwnNameAndAKilledRunsLines) {
  const std::set<std::wstring> before = TempEntries(L"ZorvakSetup_*.log");
  {
    // Killed while its wizard waits: what it logged up to then is in the file.
    Process setup(SetupPath(), L"/LOG");
    ASSERT_NE(WaitForWindow(setup, false), nullptr);
    TerminateProcess(setup.Handle(), 1);
    setup.Wait();
  }
  std::wstring created;
  for (const std::wstring& path : TempEntries(L"ZorvakSetup_*.log"))
    if (before.count(path) == 0) created = path;
  ASSERT_FALSE(created.empty()) << "no ZorvakSetup_yyyymmdd_hhmmss.log in the temporary folder";
  EXPECT_NE(ReadTextFile(created).find("CNySetupExec::HandleSetupResources... end successfully"), std::string::npos);
  DeleteFileW(created.c_str());
}

// A log file that stops taking writes, as one on a hung network share does
// (here a pipe that nobody reads), slows a silent install by at most a
// second, which still succeeds and says once in the log ring what the file
// missed. Each install is timed twice against the same install without the
// file, and the better times are compared, for a busy machine.
TEST_F(Installer, ALogFileThatTakesNoWritesCannotStallTheRun) {
  NyNamespaceAcquire();
  CNyShmLogger ring;
  ASSERT_TRUE(ring.OpenLogRingWriter());
  std::vector<LogRecord> records(64);
  const auto notices = [&] {
    int n = 0;
    for (uint32_t u4Read; (u4Read = ring.Queue().Read(records.data(), 64)) != 0;)
      for (uint32_t i = 0; i < u4Read; ++i) n += strstr(records[i].szText, "did not take") != nullptr;
    return n;
  };
  const auto timedInstall = [](const std::wstring& args) {
    const ULONGLONG ullStart = GetTickCount64();
    Process install(SetupPath(), args);
    EXPECT_EQ(install.Wait(), 0u) << args;
    const ULONGLONG ullMs = GetTickCount64() - ullStart;
    EXPECT_EQ(UninstallSilently(), 0u);
    return ullMs;
  };
  const std::wstring pipe = L"\\\\.\\pipe\\ny_blocked_log_" + std::to_wstring(GetCurrentProcessId());
  ULONGLONG ullPlain = ULLONG_MAX, ullBlocked = ULLONG_MAX;
  for (int i = 0; i < 2; ++i) {
    ullPlain = std::min(ullPlain, timedInstall(L"/S"));
    CNyFile server(CreateNamedPipeW(pipe.c_str(), PIPE_ACCESS_INBOUND, PIPE_TYPE_BYTE | PIPE_WAIT, 1, 4096, 4096, 0,
                                    nullptr));
    ASSERT_TRUE(server) << GetLastError();
    notices();
    ullBlocked = std::min(ullBlocked, timedInstall(L"/S /LOG=" + pipe));
    EXPECT_EQ(notices(), 1);
  }
  EXPECT_LE(ullBlocked, ullPlain + 1000) << "without the file " << ullPlain << " ms";
  ring.Close();
  NyNamespaceRelease();
}

// A damaged download proves itself damaged before it changes anything, with
// a window or without, and so does a damaged installed uninstaller.
TEST_F(Installer, ADamagedSetupChangesNothingAndEndsWith1620) {
  ScratchDir downloads(L"ny_damaged");
  const std::wstring setup = downloads / L"ZorvakSetup.exe";
  ASSERT_TRUE(CopyFileW(SetupPath().c_str(), setup.c_str(), FALSE));
  ASSERT_TRUE(FlipPayloadByte(setup));
  const std::set<std::wstring> before = TempEntries(L"NyKeyPackage_*");
  Process silent(setup, L"/S \"/LOG=" + (downloads / L"install.log") + L"\"");
  EXPECT_EQ(silent.Wait(), 1620u);
  EXPECT_EQ(TempEntries(L"NyKeyPackage_*"), before) << "an extraction folder was made";
  ExpectNothingInstalled();
  const std::string log = ReadTextFile(downloads / L"install.log");
  EXPECT_NE(log.find("The package is damaged: expected digest"), std::string::npos) << log;
  EXPECT_NE(log.find("exit code 1620"), std::string::npos);

  Process wizard(setup, L"");
  HWND hBox = WaitForWindow(wizard, true);
  ASSERT_NE(hBox, nullptr) << "no message box; exit code " << wizard.Wait();
  EXPECT_EQ(Text(hBox, 0xFFFF), L"The setup file is damaged. Please download it again.");
  Screenshot(hBox, L"damaged-package");
  PostMessageW(hBox, WM_COMMAND, IDOK, 0);
  EXPECT_EQ(wizard.Wait(), 1620u);
  ExpectNothingInstalled();

  // Installed, then the uninstaller damaged: it starts no copy and removes nothing.
  Process install(SetupPath(), L"/S");
  ASSERT_EQ(install.Wait(), 0u);
  const std::wstring uninstaller = InstallDir() + L"\\Uninstall.exe";
  ASSERT_TRUE(FlipPayloadByte(uninstaller));
  const std::set<std::wstring> copies = TempEntries(L"Uninstallation_*.exe");
  Process damaged(uninstaller, L"/S");
  EXPECT_EQ(damaged.Wait(), 1620u);
  EXPECT_EQ(TempEntries(L"Uninstallation_*.exe"), copies);
  EXPECT_EQ(ValueCount(kUninstallKey, FALSE), 12);
  // The uninstaller is the setup itself: the fixture removes the product with it.
  ASSERT_TRUE(CopyFileW(SetupPath().c_str(), uninstaller.c_str(), FALSE));
}

// The uninstaller an install leaves is the signed setup, byte for byte, and
// its signature holds; the log of a run names the signer. One byte after
// the signature and the file is unsigned to Windows and to the log.
TEST_F(Installer, TheInstalledUninstallerIsTheSignedSetup) {
  const std::wstring thumbprint = NY_SIGNER_THUMBPRINT;
  if (thumbprint.empty()) GTEST_SKIP() << "this build is not signed";
  ScratchDir logs(L"ny_signer");
  Process install(SetupPath(), L"/S \"/LOG=" + (logs / L"install.log") + L"\"");
  ASSERT_EQ(install.Wait(), 0u);
  EXPECT_NE(ReadTextFile(logs / L"install.log").find("thumbprint " + std::string(thumbprint.begin(), thumbprint.end())),
            std::string::npos);
  const std::wstring uninstaller = InstallDir() + L"\\Uninstall.exe";
  EXPECT_TRUE(ReadTextFile(uninstaller) == ReadTextFile(SetupPath())) << "Uninstall.exe is not the setup's copy";
  // Windows does not trust the test root (CERT_E_UNTRUSTEDROOT); Wine does.
  const LONG lTrust = VerifyTrust(uninstaller);
  EXPECT_TRUE(lTrust == 0 || lTrust == CERT_E_UNTRUSTEDROOT) << std::hex << lTrust;
  NyFileSigner signer;
  ASSERT_EQ(ReadFileSigner(uninstaller.c_str(), &signer), 0u);
  EXPECT_EQ(signer.thumbprint, thumbprint);

  const std::wstring appended = logs / L"appended.exe";
  ASSERT_TRUE(WriteTextFile(appended, ReadTextFile(SetupPath()) + "x"));
  EXPECT_EQ(VerifyTrust(appended), TRUST_E_NOSIGNATURE);
  ASSERT_EQ(ReadFileSigner(appended.c_str(), &signer), 0u);
  EXPECT_TRUE(signer.thumbprint.empty());
}

TEST_F(Installer, ADllPlantedBesideTheProgramIsNeverLoaded) {
  ScratchDir downloads(L"ny_downloads");
  const std::wstring setup = downloads / L"ZorvakSetup.exe";
  ASSERT_TRUE(CopyFileW(SetupPath().c_str(), setup.c_str(), FALSE));
  for (const wchar_t* pwszName : {L"version.dll", L"comctl32.dll", L"crypt32.dll"}) {
    ASSERT_TRUE(CopyFileW((ExeDir() + L"ny_planted.dll").c_str(), (downloads / pwszName).c_str(), FALSE));
  }
  Process install(setup, L"/S");
  EXPECT_EQ(install.Wait(), 0u);
  EXPECT_FALSE(PathExists(downloads / L"planted_dll_was_loaded.txt"));
}

#if defined(_WIN64)
// The 64-bit program on a 64-bit system without the 32-bit subsystem: the
// SysWOW64 folder is moved away for the test and put back after it.
class WithoutWow64 : public Installer {
 protected:
  void SetUp() override {
    Installer::SetUp();
    ASSERT_TRUE(MoveFileExW(Wow64().c_str(), Away().c_str(), 0)) << GetLastError();
  }
  void TearDown() override {
    if (PathExists(Away())) {
      RemoveDirectoryW(Wow64().c_str());
      EXPECT_TRUE(MoveFileExW(Away().c_str(), Wow64().c_str(), 0)) << GetLastError();
    }
    Installer::TearDown();
  }
  static std::wstring Wow64() {
    wchar_t wsz[MAX_PATH] = {};
    GetSystemWow64DirectoryW(wsz, MAX_PATH);
    return wsz;
  }
  static std::wstring Away() { return Wow64() + L".ny-away"; }
};

TEST_F(WithoutWow64, TheStepsForThe32BitSystemFolderAreSkipped) {
  ScratchDir logs(L"ny_wow64_log");
  Process install(SetupPath(), L"/S \"/LOG=" + (logs / L"install.log") + L"\"");
  ASSERT_EQ(install.Wait(), 0u);
  const std::string log = ReadTextFile(logs / L"install.log");
  EXPECT_NE(log.find("is in the 32-bit system folder, and this system has no 32-bit subsystem"), std::string::npos);
  EXPECT_FALSE(PathExists(Wow64())) << "the install made a SysWOW64 folder";
  for (const wchar_t* pwszFile : {L"ZorvakMiniDriver.dll", L"ZorvakMiniDriver.cfg"}) {
    EXPECT_TRUE(SystemFileExists(true, pwszFile)) << "native system folder";
  }
  for (const wchar_t* pwszKey : kCardKeys) {
    EXPECT_EQ(ValueCount(pwszKey, TRUE), 5);
  }
  EXPECT_EQ(ValueCount(kUninstallKey, FALSE), 12);
  EXPECT_EQ(_wcsicmp(ShortcutTarget().c_str(), (InstallDir() + L"\\Uninstall.exe").c_str()), 0) << "shortcut";

  UninstallSilently();
  EXPECT_FALSE(PathExists(Wow64()));
  ExpectNothingInstalled();
}
#endif

}  // namespace
