// What takes separate processes: one setup of a product at a time, the
// installed uninstaller that runs from a temporary copy of itself and
// deletes that copy when it ends, and a setup whose package the reader
// refuses.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "MemExtractFiles.h"
#include "NyPackageFormat.h"
#include "NyShareMem.h"
#include "PackageBytes.h"
#include "ScratchDir.h"
#include "SetupTestSupport.h"
#include "TestProcess.h"

namespace {

std::wstring DriverPath() { return ExeDir() + L"ny_setup_driver.exe"; }

bool MutexExists(const wchar_t* pwszName) {
  wchar_t wszFull[MAX_PATH] = {};
  KernelObjectName(NyKernelObjectKind::Mutex, pwszName, false, wszFull, MAX_PATH);
  HANDLE h = OpenMutexW(SYNCHRONIZE, FALSE, wszFull);
  if (h == nullptr) return false;
  CloseHandle(h);
  return true;
}

// Makes `package` the only resource of a program: with no other language of
// the package resource left, FindResourceW can find only these bytes.
bool ReplacePackage(const std::wstring& exe, const std::string& package) {
  HANDLE hUpdate = BeginUpdateResourceW(exe.c_str(), TRUE);
  if (hUpdate == nullptr) return false;
  const BOOL bAdded = UpdateResourceW(hUpdate, MAKEINTRESOURCEW(NY_PACKAGE_RESOURCE_TYPE),
                                      MAKEINTRESOURCEW(NY_PACKAGE_RESOURCE_ID),
                                      MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL),
                                      const_cast<char*>(package.data()), DWORD(package.size()));
  return EndUpdateResourceW(hUpdate, !bAdded) && bAdded;
}

TEST(SetupPackage, AnEntryNamedAfterADeviceFailsTheSetup) {
  // The script of the package with three registry writes, beside "NUL.txt",
  // which Windows would swallow without a trace: the setup would succeed.
  const BYTE* pbThree = nullptr;
  DWORD cbThree = 0;
  ASSERT_EQ(LoadPackageResource(kPackageThree, &pbThree, &cbThree), 0u);
  std::vector<NyPackageEntry> entries;
  ASSERT_TRUE(NyPackageReadList(pbThree, cbThree, entries));
  ASSERT_EQ(entries.at(0).name, "SetupScript.xml");
  const std::string script(reinterpret_cast<const char*>(pbThree) + entries[0].u4Offset, entries[0].u4Size);
  PackageBytes bytes;
  bytes.Raw(script).Raw("x").Record(0, DWORD(script.size()), 0, "SetupScript.xml");
  bytes.Record(DWORD(script.size()), 1, 0, "NUL.txt").TableEnd(0, 2);
  const uint32_t u4Folder = bytes.Size();
  bytes.Record(0, u4Folder, 0x80, "PackageFiles").TableEnd(0, 1).Trailer();

  ScratchDir scratch(L"ny_device_package");
  const std::wstring setup = scratch / L"ZorvakSetup.exe";
  ASSERT_TRUE(CopyFileW(DriverPath().c_str(), setup.c_str(), FALSE));
  ASSERT_TRUE(ReplacePackage(setup, bytes.Str()));
  Process run(setup, L"/S");
  EXPECT_EQ(run.Wait(), 1603u);
  EXPECT_EQ(ReadRegString(HKEY_CURRENT_USER, L"Software\\ZorvakSetupTest\\Run", L"One", FALSE), L"<missing>");
  DeleteRegistryTree(HKEY_CURRENT_USER, L"Software\\ZorvakSetupTest", FALSE);
}

TEST(SetupInstance, ASecondSetupOfTheProductIsRefused) {
  TestSetupExec exec;
  ASSERT_TRUE(exec.HandleSetupResources(kPackageFull, kScriptPath, TRUE));
  Process first(DriverPath(), L"--hold-instance");
  ASSERT_TRUE(WaitFor("the first setup to take the instance",
                      [&] { return MutexExists(L"{ZorvakSetupTest-0001}") || first.HasEnded(); }));
  ASSERT_FALSE(first.HasEnded()) << "the first setup ended with " << first.Wait();
  EXPECT_FALSE(exec.SetInstance(nullptr));
  TerminateProcess(first.Handle(), 0);
  first.Wait();
  EXPECT_TRUE(exec.SetInstance(nullptr));
  // Another product is another instance.
  TestSetupExec other;
  ASSERT_TRUE(other.HandleSetupResources(kPackageThree, kScriptPath, TRUE));
  EXPECT_TRUE(other.SetInstance(nullptr));
  EXPECT_FALSE(other.SetInstance(L"{ZorvakSetupTest-0001}"));
  exec.Clear();
  EXPECT_FALSE(MutexExists(L"{ZorvakSetupTest-0001}"));
}

TEST(SetupUninstaller, RunsFromACopyThatDeletesItself) {
  ScratchDir scratch(L"ny_uninstaller");
  // The installer, started from a folder of its own, never deletes itself.
  const std::wstring setup = scratch / L"ZorvakSetup.exe";
  ASSERT_TRUE(CopyFileW(DriverPath().c_str(), setup.c_str(), FALSE));
  Process install(setup, L"/S");
  ASSERT_EQ(install.Wait(), 0u);
  EXPECT_TRUE(PathExists(setup));

  TestSetupExec facts;
  ASSERT_TRUE(facts.HandleSetupResources(kPackageFull, kScriptPath, TRUE));
  const std::wstring installDir = facts.SetupInfo().m_strInstallDir.GetWide();
  const std::wstring uninstaller = installDir + L"\\Uninstall.exe";
  ASSERT_TRUE(PathExists(uninstaller));
  EXPECT_EQ(ReadRegString(HKEY_LOCAL_MACHINE, kFullUninstallKey, L"DisplayVersion", FALSE), L"2.1.0.5");

  // The copy may have deleted itself by the time the launcher's wait ends:
  // its name comes from the launcher's log, not from the folder.
  const std::wstring log = scratch / L"uninstall.log";
  Process launcher(uninstaller, L"/S \"/LOG=" + log + L"\"");
  ASSERT_EQ(launcher.Wait(), 0u);
  const std::string text = ReadTextFile(log);
  const std::string marker = "->Run '";
  const size_t begin = text.find(marker);
  ASSERT_NE(begin, std::string::npos) << "the launcher started no temporary copy";
  const size_t end = text.find("' OK!", begin);
  ASSERT_NE(end, std::string::npos);
  const std::string copyAnsi = text.substr(begin + marker.size(), end - begin - marker.size());
  const std::wstring copy(copyAnsi.begin(), copyAnsi.end());
  EXPECT_NE(copy.find(L"\\Uninstallation_"), std::wstring::npos) << copyAnsi;

  // The copy uninstalls, then its file goes once it has ended.
  WaitFor("the copy to uninstall and delete itself", [&] { return !PathExists(copy) && !PathExists(installDir); });
  EXPECT_FALSE(PathExists(uninstaller));
  EXPECT_EQ(ReadRegString(HKEY_LOCAL_MACHINE, kFullUninstallKey, L"DisplayVersion", FALSE), L"<missing>");
  EXPECT_EQ(ReadRegString(HKEY_CURRENT_USER, L"Software\\ZorvakSetupTest", L"Finish", FALSE), L"uninstall");
  DeleteRegistryTree(HKEY_CURRENT_USER, L"Software\\ZorvakSetupTest", FALSE);
}

}  // namespace
