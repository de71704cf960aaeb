// Registry routines on real keys, in both views of the 64-bit prefix and in
// the single view of the 32-bit one.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "CaptureLogger.h"
#include "NyRegistryUtil.h"
#include "NyResult.h"
#include "NySystem_Win.h"
#include "ScratchDir.h"
#include "TestProcess.h"

namespace {

const wchar_t kBase[] = L"Software\\ZorvakTest";

// Reads a value the way an outside program would, in a chosen view.
bool ReadValue(const std::wstring& subKey, const wchar_t* pwszName, REGSAM view, DWORD* pdwType, std::string* pData) {
  HKEY hKey = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, subKey.c_str(), 0, KEY_READ | view, &hKey) != ERROR_SUCCESS) return false;
  BYTE ab[1024];
  DWORD cb = sizeof(ab);
  const bool bOk = RegQueryValueExW(hKey, pwszName, nullptr, pdwType, ab, &cb) == ERROR_SUCCESS;
  RegCloseKey(hKey);
  if (bOk) pData->assign(reinterpret_cast<char*>(ab), cb);
  return bOk;
}

bool KeyExists(const std::wstring& subKey, REGSAM view) {
  HKEY hKey = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, subKey.c_str(), 0, KEY_READ | view, &hKey) != ERROR_SUCCESS) return false;
  RegCloseKey(hKey);
  return true;
}

RegistryKeyRef Ref(const std::wstring& subKey, const std::wstring& name, BOOL b64) {
  RegistryKeyRef ref;
  ref.hRoot = HKEY_LOCAL_MACHINE;
  ref.subKey = subKey;
  ref.valueName = name;
  ref.b64Key = b64;
  return ref;
}

class RegistryRoutines : public testing::Test {
 protected:
  void SetUp() override { TearDown(); }
  void TearDown() override {
    DeleteRegistryTree(HKEY_LOCAL_MACHINE, kBase, TRUE);
    DeleteRegistryTree(HKEY_LOCAL_MACHINE, kBase, FALSE);
  }
};

TEST_F(RegistryRoutines, RootNamesAreExact) {
  EXPECT_EQ(RegistryRootFromName(L"HKEY_LOCAL_MACHINE"), HKEY_LOCAL_MACHINE);
  EXPECT_EQ(RegistryRootFromName(L"HKEY_CURRENT_CONFIG"), HKEY_CURRENT_CONFIG);
  EXPECT_EQ(RegistryRootFromName(L"HKLM"), nullptr);
  EXPECT_EQ(RegistryRootFromName(L"hkey_local_machine"), nullptr);
}

TEST_F(RegistryRoutines, WritesCreateEachLevelInTheChosenView) {
  const std::wstring subKey = std::wstring(kBase) + L"\\Level1\\Level2";
  const wchar_t sz[] = L"abc";
  ASSERT_EQ(SetRegistryValue(Ref(subKey, L"Text", FALSE), REG_SZ, sz, 6), 0u);
  DWORD dwType = 0;
  std::string data;
  ASSERT_TRUE(ReadValue(subKey, L"Text", KEY_WOW64_32KEY, &dwType, &data));
  EXPECT_EQ(dwType, DWORD(REG_SZ));
  // The routine passes no terminator; the system may add one (NT does when
  // the character after the data is zero), so only the text is compared.
  EXPECT_EQ(data.substr(0, 6), std::string("a\0b\0c\0", 6));
  if (IsOs64Bit()) {
    EXPECT_FALSE(ReadValue(subKey, L"Text", KEY_WOW64_64KEY, &dwType, &data)) << "32-bit view only";
    const DWORD dw = 1033;
    ASSERT_EQ(SetRegistryValue(Ref(subKey, L"", TRUE), REG_DWORD, &dw, 4), 0u);
    ASSERT_TRUE(ReadValue(subKey, L"", KEY_WOW64_64KEY, &dwType, &data));
    EXPECT_EQ(dwType, DWORD(REG_DWORD));
    EXPECT_FALSE(ReadValue(subKey, L"", KEY_WOW64_32KEY, &dwType, &data));
  } else {
    // One view only: Key64 addresses the same key.
    ASSERT_TRUE(ReadValue(subKey, L"Text", KEY_WOW64_64KEY, &dwType, &data));
  }
}

TEST_F(RegistryRoutines, EmptyPathElementsAreRefused) {
  const DWORD dw = 1;
  EXPECT_EQ(SetRegistryValue(Ref(L"\\Software\\ZorvakTest", L"v", FALSE), REG_DWORD, &dw, 4), NY_E_FAIL);
  EXPECT_EQ(SetRegistryValue(Ref(std::wstring(kBase) + L"\\\\x", L"v", FALSE), REG_DWORD, &dw, 4), NY_E_FAIL);
  EXPECT_FALSE(KeyExists(std::wstring(kBase) + L"\\x", 0));
  // A trailing backslash leaves no empty element before it.
  EXPECT_EQ(SetRegistryValue(Ref(std::wstring(kBase) + L"\\", L"v", FALSE), REG_DWORD, &dw, 4), 0u);
}

TEST_F(RegistryRoutines, AFailedWriteLogsOneLineNamingTheKeyAndTheError) {
  // A volatile key can hold no lasting subkey: the write below it fails.
  HKEY hVolatile = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, (std::wstring(kBase) + L"\\Volatile").c_str(), 0, nullptr,
                            REG_OPTION_VOLATILE, KEY_ALL_ACCESS | KEY_WOW64_32KEY, nullptr, &hVolatile, nullptr),
            ERROR_SUCCESS);
  RegCloseKey(hVolatile);
  CaptureLogger log;
  const DWORD dw = 1;
  EXPECT_EQ(SetRegistryValue(Ref(std::wstring(kBase) + L"\\Volatile\\Lasting", L"v", FALSE), REG_DWORD, &dw,
                             sizeof(dw)),
            static_cast<uint32_t>(ERROR_CHILD_MUST_BE_VOLATILE));
  ASSERT_EQ(log.lines.size(), 1u);
  EXPECT_EQ(log.lines[0].u4Level, LOG_LEVEL_ERROR);
  EXPECT_EQ(log.lines[0].text, std::string("RegCreateKeyExW failed for HKEY_LOCAL_MACHINE\\") + "Software\\ZorvakTest" +
                                   "\\Volatile\\Lasting (32-bit view) (error 0x000003FD)");
}

// Consecutive writes share one open key; a key deleted by somebody else in
// between is made again, not written into while deleted.
TEST_F(RegistryRoutines, AWriteAfterTheKeyWasDeletedElsewhereMakesItAgain) {
  const std::wstring subKey = std::wstring(kBase) + L"\\Again";
  const DWORD dw = 7;
  ASSERT_EQ(SetRegistryValue(Ref(subKey, L"a", FALSE), REG_DWORD, &dw, sizeof(dw)), 0u);
  ASSERT_EQ(RegDeleteKeyExW(HKEY_LOCAL_MACHINE, subKey.c_str(), KEY_WOW64_32KEY, 0), ERROR_SUCCESS);
  ASSERT_EQ(SetRegistryValue(Ref(subKey, L"b", FALSE), REG_DWORD, &dw, sizeof(dw)), 0u);
  DWORD dwType = 0;
  std::string data;
  EXPECT_TRUE(ReadValue(subKey, L"b", KEY_WOW64_32KEY, &dwType, &data));
  EXPECT_FALSE(ReadValue(subKey, L"a", KEY_WOW64_32KEY, &dwType, &data));
}

TEST_F(RegistryRoutines, TreeDeletionTouchesOneViewOnly) {
  const DWORD dw = 1;
  for (BOOL b64 : {TRUE, FALSE}) {
    for (const wchar_t* pwszLeaf : {L"\\A\\B\\C", L"\\A\\D", L"\\E"})
      ASSERT_EQ(SetRegistryValue(Ref(std::wstring(kBase) + pwszLeaf, L"v", b64), REG_DWORD, &dw, 4), 0u);
  }
  EXPECT_EQ(DeleteRegistryTree(HKEY_LOCAL_MACHINE, kBase, TRUE), 0u);
  EXPECT_FALSE(KeyExists(kBase, KEY_WOW64_64KEY));
  EXPECT_EQ(KeyExists(kBase, KEY_WOW64_32KEY), IsOs64Bit() ? true : false);
  EXPECT_EQ(DeleteRegistryTree(HKEY_LOCAL_MACHINE, kBase, FALSE), IsOs64Bit() ? 0u : 2u);
  EXPECT_EQ(DeleteRegistryTree(HKEY_LOCAL_MACHINE, kBase, FALSE), 2u);
}

TEST_F(RegistryRoutines, ValueDeletionAndStringReads) {
  const std::wstring subKey = std::wstring(kBase) + L"\\Product";
  const wchar_t szVersion[] = L"1.0.0.1";
  ASSERT_EQ(SetRegistryValue(Ref(subKey, L"DisplayVersion", FALSE), REG_SZ, szVersion, sizeof(szVersion)), 0u);
  const RegistryKeyRef ref = Ref(subKey, L"DisplayVersion", FALSE);
  size_t cch = 0;
  ASSERT_EQ(ReadRegistryString(&ref, nullptr, &cch), 0u);
  EXPECT_EQ(cch, 9u) << "16 bytes with the terminator: 8 characters and one more";
  wchar_t wszSmall[4] = {};
  cch = 4;
  EXPECT_EQ(ReadRegistryString(&ref, wszSmall, &cch), NY_E_BUFFER_TOO_SMALL);
  EXPECT_EQ(cch, 9u);
  wchar_t wsz[16];
  cch = 16;
  ASSERT_EQ(ReadRegistryString(&ref, wsz, &cch), 0u);
  EXPECT_EQ(std::wstring(wsz), L"1.0.0.1");
  EXPECT_EQ(ReadRegistryString(nullptr, wsz, &cch), NY_E_INVALID_PARAM);

  EXPECT_EQ(DeleteRegistryValue(Ref(subKey, L"", FALSE)), NY_E_INVALID_PARAM);
  EXPECT_EQ(DeleteRegistryValue(ref), 0u);
  EXPECT_EQ(DeleteRegistryValue(ref), 2u);
  EXPECT_EQ(ReadRegistryString(&ref, wsz, &cch), 2u);
  EXPECT_EQ(DeleteRegistryValue(Ref(std::wstring(kBase) + L"\\Missing", L"v", FALSE)), 2u);
}

TEST_F(RegistryRoutines, RegeditImportsIntoTheChosenView) {
  ScratchDir dir(L"ny_regedit");
  // A blank in the path: the importer must get it quoted.
  const std::wstring regFile = dir / L"import me.reg";
  ASSERT_TRUE(WriteTextFile(regFile,
                            "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\ZorvakTest\\Imported]\r\n\"Value\"=\"x\"\r\n"));
  const std::wstring imported = std::wstring(kBase) + L"\\Imported";
  EXPECT_EQ(RunRegeditFile(L"", FALSE), NY_E_INVALID_PARAM);
  wchar_t wszWindows[MAX_PATH] = {};
  GetSystemWindowsDirectoryW(wszWindows, MAX_PATH);
  EXPECT_EQ(RegeditProgramPath(TRUE), std::wstring(wszWindows) + L"\\regedit.exe");
  EXPECT_EQ(RegeditProgramPath(FALSE),
            std::wstring(wszWindows) + (IsOs64Bit() ? L"\\SysWOW64\\regedit.exe" : L"\\regedit.exe"));
#if defined(_WIN64)
  // A 64-bit process: the native regedit writes the 64-bit view.
  ASSERT_EQ(RunRegeditFile(regFile, TRUE), 0u);
  EXPECT_TRUE(KeyExists(imported, KEY_WOW64_64KEY));
  EXPECT_FALSE(KeyExists(imported, KEY_WOW64_32KEY));
  DeleteRegistryTree(HKEY_LOCAL_MACHINE, kBase, TRUE);
  // The 32-bit view needs the 32-bit regedit, which a machine that cannot
  // start 32-bit programs cannot run: a clear failure, nothing imported.
  if (!Can32BitProgramsRun()) {
    EXPECT_NE(RunRegeditFile(regFile, FALSE), 0u);
    EXPECT_FALSE(KeyExists(imported, KEY_WOW64_32KEY));
    return;
  }
#endif
  // The 64-bit view's import is not run from a 32-bit process here: Wine
  // starts its 32-bit regedit for C:\windows\regedit.exe when the caller is
  // a 32-bit process, where Windows runs the native one.
  ASSERT_EQ(RunRegeditFile(regFile, FALSE), 0u);
  EXPECT_TRUE(KeyExists(imported, KEY_WOW64_32KEY));
  if (IsOs64Bit()) {
    EXPECT_FALSE(KeyExists(imported, KEY_WOW64_64KEY));
  }
}

}  // namespace
