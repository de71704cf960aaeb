// Preparation of a run: temporary folder, extraction folder, script, facts,
// and Clear.
#include <windows.h>
#include <aclapi.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <thread>

#include "CaptureLogger.h"
#include "NyFileDelete.h"
#include "NyFreshName.h"
#include "NyExtractFolder.h"
#include "NyHandle.h"
#include "NyPackageUse.h"
#include "NyResult.h"
#include "ScratchDir.h"
#include "SetupTestSupport.h"

namespace {

TEST(SetupPrepare, WholePackageAndFacts) {
  TestSetupExec exec;
  ASSERT_TRUE(exec.HandleSetupResources(kPackageFull, kScriptPath, FALSE));
  const CNySetupInfo& info = exec.SetupInfo();
  const std::wstring dir = info.m_strExtractDir.GetWide();
  ASSERT_FALSE(dir.empty());
  EXPECT_EQ(dir.back(), L'\\');
  EXPECT_NE(dir.find(L"NyKeyPackage_"), std::wstring::npos);
  EXPECT_TRUE(PathExists(dir + L"PackageFiles\\Sys\\zorvak_setup_test.dat"));
  // The install only copies the Program folder: its files stay in the package.
  EXPECT_FALSE(PathExists(dir + L"PackageFiles\\Program\\Sub\\nested.txt"));
  EXPECT_STREQ(info.m_strProductCode.GetAnsi(), "{ZorvakSetupTest-0001}");
  EXPECT_STREQ(info.m_strProductName.GetAnsi(), "Zorvak Setup Test");
  EXPECT_STREQ(info.m_strPublisher.GetAnsi(), "Zorvak");
  EXPECT_EQ(info.m_version.au4Parts[0], 2u);
  EXPECT_EQ(info.m_version.au4Parts[3], 5u);
  wchar_t wszPf[MAX_PATH] = {};
  SHGetFolderPathW(nullptr, IsOs64Bit() ? CSIDL_PROGRAM_FILESX86 : CSIDL_PROGRAM_FILES, nullptr, 0, wszPf);
  EXPECT_EQ(std::wstring(info.m_strInstallDir.GetWide()), std::wstring(wszPf) + L"\\ZorvakSetupTest\\App");
  // Within one process the folder is reused while it exists.
  ASSERT_TRUE(exec.HandleSetupResources(kPackageFull, kScriptPath, TRUE));
  EXPECT_EQ(std::wstring(info.m_strExtractDir.GetWide()), dir);
  EXPECT_TRUE(exec.Clear());
  EXPECT_FALSE(PathExists(dir));
}

// A folder the install only copies stays in the package; one that a program,
// a .reg file or a single file's copy reaches into, lies in or sits beside
// is extracted, however the path is written. An uninstall leaves such a
// folder in the package unless its own lists name it; a repair extracts all.
TEST(SetupPrepare, OnlyAFolderNothingElseReadsStaysInThePackage) {
  const std::string text = R"(<?xml version="1.0" encoding="utf-8"?><Config>
<Action name="Insall">
  <File Src="C:\x\Pkg\\Copied\*" Dest="C:\app\*" />
  <File Src="C:\x\Pkg\Tools\*" Dest="C:\app\tools\*" />
  <StartProcess Path="&quot;C:/x/pkg/tools/run.exe&quot; /q" />
  <File Src="C:\x\Pkg\Both\" Dest="C:\app\both\" />
  <File Src="C:\x\Pkg\Both\Sub\one.dll" Dest="C:\sys\one.dll" CmpVer="True" />
  <File Src="C:\x\Pkg\Root\Inner\*" Dest="C:\app\inner\*" />
  <File Src="C:\elsewhere\*" Dest="C:\app\else\*" />
  <File Src="C:\x\Pkg\Cleaner\*" Dest="C:\app\cleaner\*" />
</Action>
<Action name="Install Finish"><RunRegFile Src="C:\x\Pkg\Root\a.reg" /></Action>
<Action name="Uninstall Finish"><StartProcess Path="C:\x\Pkg\Cleaner\clean.exe" /></Action></Config>)";
  CNyXmlConfigScript script;
  ASSERT_EQ(script.LoadFromMemory(text.data(), text.size()), 0u);
  ASSERT_EQ(script.Update(), 0u);
  const std::vector<std::wstring> bothLeft{L"C:\\X\\PKG\\COPIED", L"C:\\X\\PKG\\CLEANER"};
  EXPECT_EQ(FoldersLeftInPackage(script, L"C:\\x\\", SETUP_MODE_INSTALL), bothLeft);
  EXPECT_EQ(FoldersLeftInPackage(script, L"C:\\x\\", SETUP_MODE_UNINSTALL), std::vector<std::wstring>{bothLeft[0]});
  EXPECT_TRUE(FoldersLeftInPackage(script, L"C:\\x\\", SETUP_MODE_REPAIR).empty());
}

TEST(SetupPrepare, OnlyTheScript) {
  TestSetupExec exec;
  CaptureLogger log;
  ASSERT_TRUE(exec.HandleSetupResources(kPackageFull, kScriptPath, TRUE));
  EXPECT_TRUE(log.Contains("The package's digest matches"));
  const std::wstring dir = exec.SetupInfo().m_strExtractDir.GetWide();
  EXPECT_TRUE(PathExists(dir + L"PackageFiles\\SetupScript.xml"));
  EXPECT_FALSE(PathExists(dir + L"PackageFiles\\Sys"));
  EXPECT_FALSE(PathExists(dir + L"PackageFiles\\Program"));
}

// A package made before packages had digests is still used; the log says so.
TEST(SetupPrepare, APackageWithoutADigest) {
  TestSetupExec exec;
  CaptureLogger log;
  ASSERT_TRUE(exec.HandleSetupResources(kPackageThree, kScriptPath, FALSE));
  EXPECT_TRUE(log.Contains("The package has no digest"));
  EXPECT_TRUE(exec.Clear());
}

TEST(SetupPrepare, UnparsableVersionFailsAndClearRemovesWhatWasWritten) {
  TestSetupExec exec;
  CaptureLogger log;
  EXPECT_FALSE(exec.HandleSetupResources(kPackageBadVersion, kScriptPath, FALSE));
  EXPECT_EQ(exec.LastResult(), 0xFFFFFFFFu);
  EXPECT_TRUE(log.Contains("----- CNySetupExec::HandleSetupResources... failed end, ret = 0xffffffff"));
  EXPECT_EQ(exec.SetupInfo().m_version.au4Parts[0], 0u);
  const std::wstring dir = exec.SetupInfo().m_strExtractDir.GetWide();
  ASSERT_TRUE(PathExists(dir + L"PackageFiles\\SetupScript.xml"));
  exec.Clear();
  EXPECT_FALSE(PathExists(dir));
}

TEST(SetupPrepare, EmptyScriptPathFailsAtOnceAndCreatesNothing) {
  TestSetupExec exec;
  CaptureLogger log;
  EXPECT_FALSE(exec.HandleSetupResources(kPackageFull, L"", FALSE));
  EXPECT_FALSE(exec.HandleSetupResources(kPackageFull, nullptr, FALSE));
  EXPECT_TRUE(exec.SetupInfo().m_strExtractDir.IsEmpty());
  EXPECT_TRUE(log.Contains("CNySetupExec::HandleSetupResources() error: SetupConfigPath can't be NULL"));
  // A missing package resource fails without a code.
  EXPECT_FALSE(exec.HandleSetupResources(999, kScriptPath, FALSE));
  EXPECT_TRUE(log.Contains("----- CNySetupExec::HandleSetupResources... failed end"));
}

// The extraction folder is the run's alone: a security descriptor of its own
// that inherits nothing, and a marker the run holds. Folders of earlier runs
// whose marker nobody holds are removed; a held one, or one without a
// marker, is not touched.
TEST(SetupPrepare, TheExtractionFolderIsTheRunsAlone) {
  std::wstring temp;
  ASSERT_TRUE(CNySetupExec::GetAvailableTempPath(&temp));
  const std::wstring ended = temp + L"NyKeyPackage_Ended", held = temp + L"NyKeyPackage_Held",
                     foreign = temp + L"NyKeyPackage_Foreign";
  for (const std::wstring& folder : {ended, held, foreign}) {
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS);
    ASSERT_TRUE(WriteTextFile(folder + L"\\left.txt", "x"));
  }
  ASSERT_TRUE(WriteTextFile(ended + L"\\NyKeyPackage.lock", ""));
  ASSERT_TRUE(WriteTextFile(held + L"\\NyKeyPackage.lock", ""));
  {
    const CNyFile marker(CreateFileW((held + L"\\NyKeyPackage.lock").c_str(), GENERIC_READ, 0, nullptr,
                                     OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(marker);
    TestSetupExec exec;
    ASSERT_TRUE(exec.HandleSetupResources(kPackageFull, kScriptPath, TRUE));
    EXPECT_FALSE(PathExists(ended));
    EXPECT_TRUE(PathExists(held + L"\\left.txt"));
    EXPECT_TRUE(PathExists(foreign + L"\\left.txt"));

    const std::wstring dir = exec.SetupInfo().m_strExtractDir.GetWide();
    // Wine keeps no security descriptors of files (it makes one up from the
    // file's mode), so under Wine the descriptor the folder is made with is
    // read back instead of the folder's own.
    CNyLocalMemory built;
    PSECURITY_DESCRIPTOR pSd = nullptr;
    PACL pDacl = nullptr;
    if (GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr) {
      ASSERT_EQ(BuildExtractFolderSecurity(&built), 0u);
      pSd = built.Get();
      BOOL bPresent = FALSE, bDefaulted = FALSE;
      ASSERT_TRUE(GetSecurityDescriptorDacl(pSd, &bPresent, &pDacl, &bDefaulted));
    } else {
      ASSERT_EQ(GetNamedSecurityInfoW(dir.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                                      &pDacl, nullptr, &pSd),
                static_cast<DWORD>(ERROR_SUCCESS));
      built.Reset(pSd);
    }
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD dwRevision = 0;
    ASSERT_TRUE(GetSecurityDescriptorControl(pSd, &control, &dwRevision));
    EXPECT_NE(control & SE_DACL_PROTECTED, 0) << "the folder inherits from the temporary folder";
    ASSERT_NE(pDacl, nullptr);
    // The tests run elevated: SYSTEM and Administrators, full control, passed
    // on to everything in the folder.
    ASSERT_EQ(pDacl->AceCount, 2);
    const WELL_KNOWN_SID_TYPE expected[] = {WinLocalSystemSid, WinBuiltinAdministratorsSid};
    for (WORD i = 0; i < pDacl->AceCount; ++i) {
      ACCESS_ALLOWED_ACE* pAce = nullptr;
      ASSERT_TRUE(GetAce(pDacl, i, reinterpret_cast<void**>(&pAce)));
      EXPECT_EQ(pAce->Header.AceType, ACCESS_ALLOWED_ACE_TYPE);
      EXPECT_EQ(pAce->Mask, static_cast<DWORD>(FILE_ALL_ACCESS));
      EXPECT_EQ(pAce->Header.AceFlags & (OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE),
                OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE);
      EXPECT_TRUE(IsWellKnownSid(&pAce->SidStart, expected[i])) << i;
    }
    // The run's own marker cannot be taken by anybody else.
    const CNyFile taken(CreateFileW((dir + L"NyKeyPackage.lock").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                    0, nullptr));
    EXPECT_FALSE(taken);
  }
  for (const std::wstring& folder : {held, foreign}) DeleteDirectoryTree(folder, nullptr);
}

// Points the user's temporary folder somewhere else for one test.
class TempEnvironment {
 public:
  explicit TempEnvironment(const wchar_t* pwszValue) {
    for (const wchar_t* pwszName : {L"TMP", L"TEMP"}) {
      wchar_t wsz[MAX_PATH] = {};
      GetEnvironmentVariableW(pwszName, wsz, MAX_PATH);
      m_saved.push_back(wsz);
      SetEnvironmentVariableW(pwszName, pwszValue);
    }
  }
  ~TempEnvironment() {
    SetEnvironmentVariableW(L"TMP", m_saved[0].c_str());
    SetEnvironmentVariableW(L"TEMP", m_saved[1].c_str());
  }

 private:
  std::vector<std::wstring> m_saved;
};

// Moves a folder away for one test and back afterwards.
class FolderAway {
 public:
  explicit FolderAway(const std::wstring& path) : m_path(path), m_away(path + L".zorvak-away") {
    m_bMoved = MoveFileW(m_path.c_str(), m_away.c_str()) != FALSE;
  }
  ~FolderAway() {
    if (m_bMoved) MoveFileW(m_away.c_str(), m_path.c_str());
  }
  bool Moved() const { return m_bMoved; }

 private:
  std::wstring m_path, m_away;
  bool m_bMoved;
};

TEST(SetupPrepare, TemporaryFolderFallBacks) {
  std::wstring folder;
  ASSERT_TRUE(CNySetupExec::GetAvailableTempPath(&folder));
  wchar_t wszTemp[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, wszTemp);
  EXPECT_EQ(folder, wszTemp);

  TempEnvironment missing(L"C:\\zorvak-no-such-temp");
  ASSERT_TRUE(CNySetupExec::GetAvailableTempPath(&folder));
  EXPECT_EQ(folder, WindowsFolder() + L"\\Temp\\");
  {
    FolderAway away(WindowsFolder() + L"\\Temp");
    ASSERT_TRUE(away.Moved());
    ASSERT_TRUE(CNySetupExec::GetAvailableTempPath(&folder));
    wchar_t wszAppData[MAX_PATH] = {};
    SHGetSpecialFolderPathW(nullptr, wszAppData, CSIDL_COMMON_APPDATA, FALSE);
    EXPECT_EQ(folder, std::wstring(wszAppData) + L"\\");
  }
  ASSERT_TRUE(CNySetupExec::GetAvailableTempPath(&folder));
  EXPECT_EQ(folder, WindowsFolder() + L"\\Temp\\");
}

// The script gets the extraction folder in full whatever the temporary
// folder is called; this name fits no Western ANSI code page.
TEST(SetupPrepare, ATemporaryFolderNamedOutsideTheAnsiCodePage) {
  ScratchDir scratch(L"ny_temp_\x7530\x4E2D");
  TempEnvironment temp(scratch.Path().c_str());
  TestSetupExec exec;
  ASSERT_TRUE(exec.HandleSetupResources(kPackageFull, kScriptPath, FALSE));
  const std::wstring dir = exec.SetupInfo().m_strExtractDir.GetWide();
  EXPECT_EQ(dir.rfind(scratch.Path(), 0), 0u);
  CNyString root;
  ASSERT_EQ(exec.Script().GetValue("ResourceRoot", &root), 0u);
  EXPECT_EQ(std::wstring(root.GetWide()), dir + L"\\PackageFiles");
  EXPECT_TRUE(exec.Clear());
}

TEST(SetupPrepare, TwoPreparationsAtOnceGetTheirOwnFolders) {
  TestSetupExec a, b;
  BOOL bA = FALSE, bB = FALSE;
  std::thread ta([&] { bA = a.HandleSetupResources(kPackageFull, kScriptPath, FALSE); });
  std::thread tb([&] { bB = b.HandleSetupResources(kPackageFull, kScriptPath, FALSE); });
  ta.join();
  tb.join();
  ASSERT_TRUE(bA);
  ASSERT_TRUE(bB);
  const std::wstring dirA = a.SetupInfo().m_strExtractDir.GetWide(), dirB = b.SetupInfo().m_strExtractDir.GetWide();
  EXPECT_NE(dirA, dirB);
  a.Clear();
  EXPECT_FALSE(PathExists(dirA));
  EXPECT_TRUE(PathExists(dirB + L"PackageFiles\\SetupScript.xml"));
}

// A random source that gives a fixed sequence.
uint32_t g_au4Draws[4];
int g_nDraw;
bool FixedRandom(uint32_t* pu4Value) {
  *pu4Value = g_au4Draws[g_nDraw++ % 4];
  return true;
}

TEST(SetupPrepare, AFolderOrFileOfTheDrawnNameIsNeverUsed) {
  ScratchDir scratch(L"ny_fresh_names");
  const std::wstring parent = scratch.Path() + L"\\";
  ASSERT_TRUE(CreateDirectoryW((parent + L"NyKeyPackage_0000AAAA").c_str(), nullptr));
  ASSERT_TRUE(WriteTextFile(parent + L"NyKeyPackage_0000AAAA\\planted.txt", "planted"));
  g_au4Draws[0] = 0xAAAA, g_au4Draws[1] = 0xBBBB, g_nDraw = 0;
  std::wstring path;
  ASSERT_EQ(CreateFreshFolder(parent, L"NyKeyPackage_%08X\\", &path, nullptr, FixedRandom), 0u);
  EXPECT_EQ(path, parent + L"NyKeyPackage_0000BBBB\\");

  // Every draw taken: a clear failure after a bounded number of draws.
  g_au4Draws[0] = g_au4Draws[1] = g_au4Draws[2] = g_au4Draws[3] = 0xAAAA, g_nDraw = 0;
  EXPECT_EQ(CreateFreshFolder(parent, L"NyKeyPackage_%08X\\", &path, nullptr, FixedRandom), DWORD(ERROR_ALREADY_EXISTS));
  EXPECT_EQ(g_nDraw, NY_FRESH_NAME_DRAWS);

  ASSERT_TRUE(WriteTextFile(parent + L"Uninstallation_0000AAAA.exe", "planted"));
  ASSERT_TRUE(WriteTextFile(parent + L"self.exe", "self"));
  g_au4Draws[1] = 0xCCCC, g_nDraw = 0;
  ASSERT_EQ(CopyToFreshFile(parent + L"self.exe", parent, L"Uninstallation_%08X.exe", &path, FixedRandom), 0u);
  EXPECT_EQ(path, parent + L"Uninstallation_0000CCCC.exe");
  EXPECT_EQ(ReadTextFile(parent + L"Uninstallation_0000AAAA.exe"), "planted");
  EXPECT_EQ(ReadTextFile(path), "self");
}

}  // namespace
