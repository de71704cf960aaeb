// The action run: progress reports, answers of the callback, failures, the
// finish lists, and a whole install and uninstall of a test product.
#include <windows.h>

#include <gtest/gtest.h>

#include "CaptureLogger.h"
#include "NyData.h"
#include "NyFileUtil.h"
#include "NyResult.h"
#include "ScratchDir.h"
#include "TestProcess.h"
#include "SetupTestSupport.h"

namespace {

const wchar_t kRunKey[] = L"Software\\ZorvakSetupTest\\Run";

class SetupRun : public testing::Test {
 protected:
  void SetUp() override { TearDown(); }
  void TearDown() override {
    for (BOOL b64 : {TRUE, FALSE}) DeleteRegistryTree(HKEY_CURRENT_USER, L"Software\\ZorvakSetupTest", b64);
  }
  std::wstring RunValue(const wchar_t* pwszName) {
    DWORD dw = 0, cb = sizeof(dw);
    if (RegGetValueW(HKEY_CURRENT_USER, kRunKey, pwszName, RRF_RT_REG_DWORD, nullptr, &dw, &cb) != ERROR_SUCCESS)
      return L"<missing>";
    return std::to_wstring(dw);
  }
  // Prepares a package in the mode given by a switch ("" for install).
  void Prepare(CNySetupExec* pExec, UINT uPackage, const wchar_t* pwszSwitch = L"") {
    SetModeBySwitch(pExec, pwszSwitch);
    ASSERT_TRUE(pExec->HandleSetupResources(uPackage, kScriptPath, FALSE));
  }
};

TEST_F(SetupRun, ProgressBeforeAndAfterEachAction) {
  TestSetupExec exec;
  Prepare(&exec, kPackageThree);
  Recorder recorder;
  ASSERT_TRUE(exec.RunActionList(Recorder::Callback, &recorder));
  ASSERT_EQ(recorder.calls.size(), 6u);
  for (int i = 0; i < 3; ++i) {
    const RecordedCall& before = recorder.calls[2 * i];
    const RecordedCall& after = recorder.calls[2 * i + 1];
    EXPECT_EQ(before.bDone, 0u);
    EXPECT_EQ(after.bDone, 1u);
    EXPECT_EQ(before.name, "AddRegister");
    EXPECT_EQ(before.u4Total, 3u);
    EXPECT_EQ(before.u4Completed, static_cast<uint32_t>(i));
    EXPECT_EQ(after.u4Completed, static_cast<uint32_t>(i + 1));
  }
  EXPECT_EQ(RunValue(L"Three"), L"3");
}

TEST_F(SetupRun, AnswersAbortAndRepeat) {
  {
    TestSetupExec exec;
    Prepare(&exec, kPackageThree);
    Recorder recorder;
    recorder.answers = {NY_PROGRESS_ABORT};
    EXPECT_FALSE(exec.RunActionList(Recorder::Callback, &recorder));
    EXPECT_EQ(exec.LastResult(), NY_E_ABORTED);
    EXPECT_EQ(RunValue(L"One"), L"<missing>") << "aborted before its Do";
  }
  TestSetupExec exec;
  Prepare(&exec, kPackageThree);
  Recorder recorder;
  recorder.answers = {0, NY_PROGRESS_REPEAT, 0, 0, 0, NY_PROGRESS_ABORT};
  EXPECT_FALSE(exec.RunActionList(Recorder::Callback, &recorder));
  ASSERT_EQ(recorder.calls.size(), 6u);
  // The repeated action is described and run again and counted once.
  EXPECT_EQ(recorder.calls[2].u4Completed, 0u);
  EXPECT_EQ(recorder.calls[3].u4Completed, 1u);
  EXPECT_EQ(recorder.calls[5].u4Completed, 2u);
  EXPECT_EQ(RunValue(L"Two"), L"2");
  EXPECT_EQ(RunValue(L"Three"), L"<missing>");
}

TEST_F(SetupRun, UnknownElementStopsTheRunThere) {
  TestSetupExec exec;
  Prepare(&exec, kPackageUnknown);
  Recorder recorder;
  EXPECT_FALSE(exec.RunActionList(Recorder::Callback, &recorder));
  EXPECT_EQ(exec.LastResult(), NY_E_NOT_FOUND);
  ASSERT_EQ(recorder.calls.size(), 3u);
  EXPECT_EQ(recorder.calls[2].name, "Bogus");
  EXPECT_EQ(recorder.calls[2].u4Result, 0xFFFFFFFFu);
  EXPECT_EQ(RunValue(L"One"), L"1");
  EXPECT_EQ(RunValue(L"Three"), L"<missing>");
}

TEST_F(SetupRun, MissingTemplateModesAndStopFlag) {
  {
    TestSetupExec exec;
    Prepare(&exec, kPackageNoDesc);
    Recorder recorder;
    EXPECT_FALSE(exec.RunActionList(Recorder::Callback, &recorder));
    EXPECT_EQ(exec.LastResult(), NY_E_NO_TEMPLATE);
    EXPECT_TRUE(recorder.calls.empty());
  }
  for (const wchar_t* pwszMode : {L"/REPAIR", L"/UPGRADE"}) {
    TestSetupExec exec;
    Prepare(&exec, kPackageThree, pwszMode);
    Recorder recorder;
    EXPECT_FALSE(exec.RunActionList(Recorder::Callback, &recorder));
    EXPECT_EQ(exec.LastResult(), NY_E_NOT_FOUND);
    EXPECT_FALSE(exec.RunFinishList());
  }
  TestSetupExec exec;
  Prepare(&exec, kPackageThree);
  exec.RequestStop();
  Recorder recorder;
  EXPECT_TRUE(exec.RunActionList(Recorder::Callback, &recorder));
  EXPECT_TRUE(recorder.calls.empty());
  EXPECT_EQ(RunValue(L"One"), L"<missing>");
}

TEST_F(SetupRun, EmptyListSucceedsAndStillRefreshesIcons) {
  TestSetupExec exec;
  Prepare(&exec, kPackageThree, L"/UNINSTALL");
  CaptureLogger log;
  Recorder recorder;
  EXPECT_TRUE(exec.RunActionList(Recorder::Callback, &recorder));
  EXPECT_TRUE(recorder.calls.empty());
  EXPECT_TRUE(log.Contains("ie4uinit.exe"));
  // A package without finish lists: nothing to finish is a failure.
  EXPECT_FALSE(exec.RunFinishList());
}

TEST(SetupInstalledVersion, ComparesWithTheUninstallEntry) {
  TestSetupExec exec;
  ASSERT_TRUE(exec.HandleSetupResources(kPackageThree, kScriptPath, TRUE));  // version 1.0.0.0
  const std::wstring key = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{ZorvakSetupTest-three}";
  DeleteRegistryTree(HKEY_LOCAL_MACHINE, key, FALSE);
  VersionCompareResult result = VERSION_INSTALLED_HIGHER;
  ASSERT_TRUE(exec.CompareInstalledVersion(&result));
  EXPECT_EQ(result, VERSION_NOT_INSTALLED);
  const struct {
    const wchar_t* pwszInstalled;
    VersionCompareResult expected;
  } cases[] = {{L"1.0.0.0", VERSION_INSTALLED_EQUAL},
               {L"1, 0, 0, 0", VERSION_INSTALLED_EQUAL},
               {L"0.9.9.9", VERSION_INSTALLED_LOWER},
               {L"1.0.0.1", VERSION_INSTALLED_HIGHER},
               {L"not a version", VERSION_INSTALLED_LOWER}};
  for (const auto& c : cases) {
    RegistryKeyRef ref;
    ref.hRoot = HKEY_LOCAL_MACHINE;
    ref.subKey = key;
    ref.valueName = L"DisplayVersion";
    ASSERT_EQ(SetRegistryValue(ref, REG_SZ, c.pwszInstalled, DWORD((wcslen(c.pwszInstalled) + 1) * 2)), 0u);
    ASSERT_TRUE(exec.CompareInstalledVersion(&result));
    EXPECT_EQ(result, c.expected) << std::string(c.pwszInstalled, c.pwszInstalled + wcslen(c.pwszInstalled));
  }
  DeleteRegistryTree(HKEY_LOCAL_MACHINE, key, FALSE);
  TestSetupExec unprepared;
  EXPECT_FALSE(unprepared.CompareInstalledVersion(&result));
}

class SetupFullProduct : public SetupRun {
 protected:
  void ExpectInstalled(bool bInstalled) {
    const std::wstring windows = WindowsFolder();
    const std::wstring sys32 = windows + (IsOs64Bit() ? L"\\SysWOW64\\" : L"\\System32\\");
    EXPECT_EQ(PathExists(sys32 + L"zorvak_setup_test.dat"), bInstalled);
    if (IsOs64Bit()) {
      EXPECT_EQ(NativeFileExists(windows + L"\\System32\\zorvak_setup_test.dat"), bInstalled);
    }
    EXPECT_EQ(PathExists(m_installDir + L"\\readme.txt"), bInstalled);
    EXPECT_EQ(PathExists(m_installDir + L"\\Sub\\nested.txt"), bInstalled);
    EXPECT_EQ(PathExists(m_installDir + L"\\Uninstall.exe"), bInstalled);
    const std::wstring missing = L"<missing>";
    EXPECT_EQ(ReadRegString(HKEY_LOCAL_MACHINE, L"SOFTWARE\\ZorvakSetupTest\\Deep", L"View", FALSE),
              bInstalled ? L"32" : missing);
    EXPECT_EQ(ReadRegString(HKEY_LOCAL_MACHINE, L"SOFTWARE\\ZorvakSetupTest\\Deep", L"View", TRUE),
              bInstalled ? (IsOs64Bit() ? L"64" : L"32") : missing);
    EXPECT_EQ(ReadRegString(HKEY_LOCAL_MACHINE, kFullUninstallKey, L"DisplayVersion", FALSE),
              bInstalled ? L"2.1.0.5" : missing);
  }
  std::wstring m_installDir;
};

TEST_F(SetupFullProduct, InstallThenUninstallLeavesTheMachineAsBefore) {
  {
    TestSetupExec exec;
    Prepare(&exec, kPackageFull);
    m_installDir = exec.SetupInfo().m_strInstallDir.GetWide();
    ExpectInstalled(false);
    // Another process of the same user can neither overwrite, rename nor
    // delete an extracted file while the run holds it.
    const std::wstring extracted =
        std::wstring(exec.SetupInfo().m_strExtractDir.GetWide()) + L"PackageFiles\\Sys\\zorvak_setup_test.dat";
    const std::string packaged = ReadTextFile(extracted);
    Process attacker(TestHelperExe(), L"attack \"" + extracted + L"\"");
    EXPECT_EQ(attacker.Wait(), 0u) << "1 overwrite, 2 rename, 4 delete worked";
    Recorder recorder;
    ASSERT_TRUE(exec.RunActionList(Recorder::Callback, &recorder));
    // The first DelRegister finds nothing (2) and is let pass.
    EXPECT_EQ(recorder.calls[11].name, "DelRegister");
    EXPECT_EQ(recorder.calls[11].u4Result, 2u);
    EXPECT_TRUE(exec.RunFinishList());
    EXPECT_EQ(ReadRegString(HKEY_CURRENT_USER, L"Software\\ZorvakSetupTest", L"Finish", FALSE), L"install");
    ExpectInstalled(true);
    EXPECT_EQ(ReadTextFile(WindowsFolder() + (IsOs64Bit() ? L"\\SysWOW64" : L"\\System32") +
                           L"\\zorvak_setup_test.dat"),
              packaged);
    VersionCompareResult result = VERSION_NOT_INSTALLED;
    ASSERT_TRUE(exec.CompareInstalledVersion(&result));
    EXPECT_EQ(result, VERSION_INSTALLED_EQUAL);
  }
  TestSetupExec exec;
  Prepare(&exec, kPackageFull, L"/UNINSTALL");
  Recorder recorder;
  ASSERT_TRUE(exec.RunActionList(Recorder::Callback, &recorder));
  for (const RecordedCall& call : recorder.calls) {
    EXPECT_EQ(call.u4Result, 0u) << call.name;
  }
  EXPECT_TRUE(exec.RunFinishList());
  EXPECT_EQ(ReadRegString(HKEY_CURRENT_USER, L"Software\\ZorvakSetupTest", L"Finish", FALSE), L"uninstall");
  ExpectInstalled(false);
  EXPECT_FALSE(PathExists(m_installDir));
  EXPECT_FALSE(PathExists(m_installDir.substr(0, m_installDir.rfind(L'\\'))));
  EXPECT_EQ(ReadRegString(HKEY_LOCAL_MACHINE, L"SOFTWARE\\ZorvakSetupTest", L"", FALSE), L"<missing>");
}

// Another process renames the extraction folder during the run (Wine lets a
// folder with open files in it be renamed) and puts its own files at the
// same paths: what is installed is still the package's bytes.
TEST_F(SetupFullProduct, AnExtractionFolderSwappedDuringTheRunStillInstallsThePackagesBytes) {
  const std::wstring sysFile =
      WindowsFolder() + (IsOs64Bit() ? L"\\SysWOW64" : L"\\System32") + L"\\zorvak_setup_test.dat";
  {
    TestSetupExec exec;
    Prepare(&exec, kPackageFull);
    m_installDir = exec.SetupInfo().m_strInstallDir.GetWide();
    const std::wstring extractDir = exec.SetupInfo().m_strExtractDir.GetWide();
    const std::wstring folder = extractDir.substr(0, extractDir.size() - 1), moved = folder + L".moved";
    const wchar_t* const files[] = {L"PackageFiles\\Sys\\zorvak_setup_test.dat", L"PackageFiles\\Program\\readme.txt",
                                    L"PackageFiles\\Program\\Sub\\nested.txt"};
    // The Program folder is only copied, so its bytes never left the package.
    const std::string packaged[] = {ReadTextFile(extractDir + files[0]), "program file\r\n", "nested\r\n"};
    if (!MoveFileW(folder.c_str(), moved.c_str())) GTEST_SKIP() << "the folder cannot be renamed here";
    for (const wchar_t* pwszFile : files) {
      ASSERT_EQ(CreateDirectoryTree((extractDir + pwszFile).c_str()), 0u);
      ASSERT_TRUE(WriteTextFile(extractDir + pwszFile, "planted"));
    }
    Recorder recorder;
    const bool bRan = exec.RunActionList(Recorder::Callback, &recorder);
    DeleteDirectoryTree(folder, nullptr);
    ASSERT_TRUE(MoveFileW(moved.c_str(), folder.c_str()));
    ASSERT_TRUE(bRan);
    EXPECT_EQ(ReadTextFile(sysFile), packaged[0]);
    EXPECT_EQ(ReadTextFile(m_installDir + L"\\readme.txt"), packaged[1]);
    EXPECT_EQ(ReadTextFile(m_installDir + L"\\Sub\\nested.txt"), packaged[2]);
  }
  TestSetupExec exec;
  Prepare(&exec, kPackageFull, L"/UNINSTALL");
  Recorder recorder;
  ASSERT_TRUE(exec.RunActionList(Recorder::Callback, &recorder));
  ExpectInstalled(false);
}

}  // namespace
