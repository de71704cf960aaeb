// The shipped setup script: it loads, expands completely and reads
// back. Under Wine it runs with the real system folders, in the 64-bit and in
// the 32-bit prefix; on the host with the build's stand-in folders.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "CaptureLogger.h"
#include "NyConfigScript.h"
#include "NyResult.h"
#include "ScriptTestUtil.h"

#if defined(_WIN32)
#include <shlobj.h>

#include "NySystem_Win.h"
#endif

namespace {

using nytest::Value;

const char kSourceRoot[] = "C:\\Temp\\NyKeyPackage_0000ABCD\\";

[[maybe_unused]] std::string Lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](char c) { return (c >= 'A' && c <= 'Z') ? c - 'A' + 'a' : c; });
  return s;
}

[[maybe_unused]] bool EndsWith(const std::string& s, const std::string& tail) {
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

std::vector<char> ReadFile(const std::string& path) {
  std::vector<char> bytes;
  FILE* pFile = fopen(path.c_str(), "rb");
  if (pFile == nullptr) return bytes;
  char buf[4096];
  size_t n = 0;
  while ((n = fread(buf, 1, sizeof(buf), pFile)) > 0) bytes.insert(bytes.end(), buf, buf + n);
  fclose(pFile);
  return bytes;
}

class ShippedScriptTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(m_script.Load(nytest::ShippedScriptPath().c_str()), NY_SUCCESS) << nytest::ShippedScriptPath();
    ASSERT_TRUE(m_script.InitVariables(kSourceRoot));
    ASSERT_EQ(m_script.Update(), NY_SUCCESS);
  }
  CNyXmlConfigScript m_script;
};

TEST(ShippedScriptFile, IsUtf8WithByteOrderMarkAndCrLf) {
  const std::vector<char> bytes = ReadFile(nytest::ShippedScriptPath());
  ASSERT_GT(bytes.size(), 1000u);
  const std::string text(bytes.begin(), bytes.end());
  EXPECT_EQ(text.substr(0, 3), "\xEF\xBB\xBF");
  EXPECT_EQ(text.substr(3, 38), "<?xml version=\"1.0\" encoding=\"UTF-8\"?>");
  size_t nLf = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\n') {
      ++nLf;
      EXPECT_TRUE(i > 0 && text[i - 1] == '\r') << "bare LF at byte " << i;
    }
  }
  EXPECT_GT(nLf, 200u);
  EXPECT_EQ(text.back(), '\n');
  // The commented-out entries: a root certificate, a certificate removal and
  // three registry files.
  EXPECT_NE(text.find("<!-- <RegCertFile "), std::string::npos);
  EXPECT_NE(text.find("<!-- <UnRegCert "), std::string::npos);
  size_t nRunRegFile = 0;
  for (size_t at = text.find("<!-- <RunRegFile "); at != std::string::npos; at = text.find("<!-- <RunRegFile ", at + 1)) {
    ++nRunRegFile;
  }
  EXPECT_EQ(nRunRegFile, 3u);
}

TEST_F(ShippedScriptTest, ProductFacts) {
  EXPECT_EQ(Value(m_script, "ProductCode"), "{A1111111-B897-4b94-A031-598EB296D75B}");
  EXPECT_EQ(Value(m_script, "ProductName"), "Zorvak Smart Card Minidriver");
  EXPECT_EQ(Value(m_script, "Publisher"), "Zorvak");
  EXPECT_EQ(Value(m_script, "Version"), "1.0.0.0");
  EXPECT_EQ(Value(m_script, "InstallDir"), Value(m_script, "pf32") + "\\Zorvak\\MiniDriver");
  EXPECT_EQ(Value(m_script, "ProgramShared"), Value(m_script, "pf32") + "\\Zorvak");
  EXPECT_EQ(Value(m_script, "ResourceRoot"), std::string(kSourceRoot) + "\\PackageFiles");
  EXPECT_EQ(Value(m_script, "ProgramSrcPath"),
            std::string(kSourceRoot) + "\\PackageFiles\\ProgramFiles(x86)\\Zorvak\\MiniDriver");
  EXPECT_EQ(Value(m_script, "UninstallStartShortcut"), "Uninstall");
  EXPECT_EQ(Value(m_script, "IDS_MAIN_UI_INSTALL_TITLE"), "Zorvak Smart Card Minidriver Setup");
  EXPECT_EQ(Value(m_script, "IDS_MAIN_UI_UNINSTALL_TITLE"), "Uninstallation wizard for Zorvak Smart Card Minidriver");
  EXPECT_EQ(Value(m_script, "IDS_BTN_FININSH"), "Finish");
  EXPECT_EQ(Value(m_script, "IDS_INSTAL_EQUAL_WARNING"),
            "Installed version is equal to installing version, continue installation?");
  EXPECT_EQ(Value(m_script, "AtrClassic").size(), 36u);
  EXPECT_EQ(Value(m_script, "AtrMaskClassic").size(), 36u);
  EXPECT_EQ(Value(m_script, "AtrPiv").size(), 40u);
  EXPECT_EQ(Value(m_script, "AtrMaskPiv").size(), 40u);
  EXPECT_EQ(m_script.GetEncoding(), 0);
}

TEST_F(ShippedScriptTest, ActionListsAndTemplates) {
  std::unique_ptr<CNyXmlConfigItem> pInstall(m_script.GetItem("Action", "Insall"));
  std::unique_ptr<CNyXmlConfigItem> pUninstall(m_script.GetItem("Action", "Uninstall"));
  std::unique_ptr<CNyXmlConfigItem> pInstallFinish(m_script.GetItem("Action", "Install Finish"));
  std::unique_ptr<CNyXmlConfigItem> pUninstallFinish(m_script.GetItem("Action", "Uninstall Finish"));
  ASSERT_NE(pInstall, nullptr);
  ASSERT_NE(pUninstall, nullptr);
  ASSERT_NE(pInstallFinish, nullptr);
  ASSERT_NE(pUninstallFinish, nullptr);
  EXPECT_EQ(pInstall->GetChildCount(), 56u);
  // Fifteen steps, and two that remove the Start-menu shortcut again.
  EXPECT_EQ(pUninstall->GetChildCount(), 17u);
  EXPECT_EQ(pInstallFinish->GetChildCount(), 0u);
  EXPECT_EQ(pUninstallFinish->GetChildCount(), 0u);
  EXPECT_EQ(std::unique_ptr<CNyXmlConfigItem>(m_script.GetItem("Action", "Install")), nullptr);

  // Every action names one of the fourteen classes and has a template.
  const std::set<std::string> actions = {"KillProcess", "StartProcess", "File", "DelFile", "DelDir",
                                         "CreateShortcut", "AddRegister", "RunRegFile", "DelRegister",
                                         "AddTrustedSite", "DelTrustedSite", "RegCertFile", "UnRegCert",
                                         "SetAppTaskScheduler"};
  std::unique_ptr<CNyXmlConfigItem> pDesc(m_script.GetItem("ActionDescString", nullptr));
  ASSERT_NE(pDesc, nullptr);
  EXPECT_EQ(pDesc->GetChildCount(), 14u);
  for (CNyXmlConfigItem* pList : {pInstall.get(), pUninstall.get()}) {
    for (uint32_t i = 0; i < pList->GetChildCount(); ++i) {
      const std::string name = pList->GetChild(i)->GetName();
      EXPECT_EQ(actions.count(name), 1u) << name;
      CNyXmlConfigItem* pTemplate = pDesc->FindChild(name.c_str());
      ASSERT_NE(pTemplate, nullptr) << name;
      CNyString text;
      EXPECT_EQ(pTemplate->GetText(&text), NY_SUCCESS);
      EXPECT_FALSE(text.IsEmpty()) << name;
    }
  }
  CNyString text;
  ASSERT_EQ(pDesc->FindChild("File")->GetText(&text), NY_SUCCESS);
  EXPECT_STREQ(text.GetText(), "Copy $[src] to $[dest]");
  ASSERT_EQ(pDesc->FindChild("RunRegFile")->GetText(&text), NY_SUCCESS);
  EXPECT_STREQ(text.GetText(), "Run Windows register file $[Src]");
  // TinyXML drops the trailing blank of "Create $[dest] ".
  ASSERT_EQ(pDesc->FindChild("CreateUninstall")->GetText(&text), NY_SUCCESS);
  EXPECT_STREQ(text.GetText(), "Create $[dest]");

  // Counts by kind.
  auto count = [](CNyXmlConfigItem* pList, const char* pszName) {
    uint32_t n = 0;
    for (uint32_t i = 0; i < pList->GetChildCount(); ++i) n += std::string(pList->GetChild(i)->GetName()) == pszName;
    return n;
  };
  EXPECT_EQ(count(pInstall.get(), "KillProcess"), 2u);
  EXPECT_EQ(count(pInstall.get(), "File"), 6u);
  EXPECT_EQ(count(pInstall.get(), "UnRegCert"), 1u);
  EXPECT_EQ(count(pInstall.get(), "DelRegister"), 4u);
  EXPECT_EQ(count(pInstall.get(), "AddRegister"), 42u);
  EXPECT_EQ(count(pInstall.get(), "CreateShortcut"), 1u);
  EXPECT_EQ(count(pUninstall.get(), "KillProcess"), 2u);
  EXPECT_EQ(count(pUninstall.get(), "DelDir"), 3u);
  EXPECT_EQ(count(pUninstall.get(), "DelFile"), 5u);
  EXPECT_EQ(count(pUninstall.get(), "UnRegCert"), 1u);
  EXPECT_EQ(count(pUninstall.get(), "DelRegister"), 6u);
}

TEST_F(ShippedScriptTest, ExpandedAttributes) {
  std::unique_ptr<CNyXmlConfigItem> pInstall(m_script.GetItem("Action", "Insall"));
  ASSERT_NE(pInstall, nullptr);
  const std::string installDir = Value(m_script, "InstallDir");
  CNyString value;
  // File 5: the program folder into the install folder.
  CNyXmlConfigItem* pFolderCopy = pInstall->GetChild(6);
  ASSERT_STREQ(pFolderCopy->GetName(), "File");
  ASSERT_EQ(pFolderCopy->GetAttribute("Src", &value), NY_SUCCESS);
  EXPECT_EQ(std::string(value.GetText()), Value(m_script, "ProgramSrcPath") + "\\*");
  ASSERT_EQ(pFolderCopy->GetAttribute("Dest", &value), NY_SUCCESS);
  EXPECT_EQ(std::string(value.GetText()), installDir + "\\*");
  // File 6: the running program becomes the uninstaller.
  ASSERT_EQ(pInstall->GetChild(7)->GetAttribute("Src", &value), NY_SUCCESS);
  EXPECT_EQ(std::string(value.GetText()), Value(m_script, "srcexe"));
  // The uninstall entry's command is the quoted uninstaller path.
  CNyXmlConfigItem* pUninstallString = pInstall->GetChild(47);
  ASSERT_EQ(pUninstallString->GetAttribute("ValueName", &value), NY_SUCCESS);
  EXPECT_STREQ(value.GetText(), "UninstallString");
  ASSERT_EQ(pUninstallString->GetAttribute("ValueData", &value), NY_SUCCESS);
  EXPECT_EQ(std::string(value.GetText()), "\"" + installDir + "\\Uninstall.exe\"");
  ASSERT_EQ(pUninstallString->GetAttribute("SubKey", &value), NY_SUCCESS);
  EXPECT_STREQ(value.GetText(),
               "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{A1111111-B897-4b94-A031-598EB296D75B}");
  ASSERT_EQ(pInstall->GetChild(43)->GetAttribute("ValueData", &value), NY_SUCCESS);  // Language
  EXPECT_EQ(std::string(value.GetText()), Value(m_script, "language"));
  // The rest of the entry; the size is the setup's to fill in (0 until the
  // driver has counted what the list copies), the date is today's.
  const struct {
    const char* pszName;
    std::string data;
  } kEntry[] = {{"QuietUninstallString", "\"" + installDir + "\\Uninstall.exe\" /S"},
                {"InstallLocation", installDir},
                {"EstimatedSize", "0"},
                {"InstallDate", Value(m_script, "installdate")},
                {"NoModify", "1"},
                {"NoRepair", "1"}};
  for (uint32_t i = 0; i < 6; ++i) {
    ASSERT_EQ(pInstall->GetChild(49 + i)->GetAttribute("ValueName", &value), NY_SUCCESS);
    EXPECT_STREQ(value.GetText(), kEntry[i].pszName);
    ASSERT_EQ(pInstall->GetChild(49 + i)->GetAttribute("ValueData", &value), NY_SUCCESS);
    EXPECT_EQ(std::string(value.GetText()), kEntry[i].data) << kEntry[i].pszName;
  }
  EXPECT_EQ(Value(m_script, "installdate").size(), 8u);
  CNyXmlConfigItem* pShortcut = pInstall->GetChild(55);
  ASSERT_STREQ(pShortcut->GetName(), "CreateShortcut");
  ASSERT_EQ(pShortcut->GetAttribute("RootPath", &value), NY_SUCCESS);
  EXPECT_EQ(std::string(value.GetText()), Value(m_script, "commonprograms"));
  ASSERT_EQ(pShortcut->GetAttribute("SubDirName", &value), NY_SUCCESS);
  EXPECT_STREQ(value.GetText(), "Zorvak Smart Card Minidriver");
  ASSERT_EQ(pShortcut->GetAttribute("Name", &value), NY_SUCCESS);
  EXPECT_STREQ(value.GetText(), "Uninstall");
  // The uninstall list removes the install folder, then the shared parent
  // only when it is empty.
  std::unique_ptr<CNyXmlConfigItem> pUninstall(m_script.GetItem("Action", "Uninstall"));
  ASSERT_NE(pUninstall, nullptr);
  ASSERT_EQ(pUninstall->GetChild(2)->GetAttribute("Src", &value), NY_SUCCESS);
  EXPECT_EQ(std::string(value.GetText()), installDir);
  EXPECT_FALSE(pUninstall->GetChild(2)->GetAttributeBool("CheckIsEmpty", true));
  ASSERT_EQ(pUninstall->GetChild(3)->GetAttribute("Src", &value), NY_SUCCESS);
  EXPECT_EQ(std::string(value.GetText()), Value(m_script, "ProgramShared") + "\\");
  EXPECT_TRUE(pUninstall->GetChild(3)->GetAttributeBool("CheckIsEmpty", false));
  ASSERT_EQ(pUninstall->GetChild(1)->GetAttribute("os", &value), NY_SUCCESS);
  EXPECT_STREQ(value.GetText(), "os64");
}

TEST_F(ShippedScriptTest, EveryLanguageExpands) {
  for (uint32_t u4Language : {0u, 2u, 7u, 1u}) {
    ASSERT_EQ(m_script.SetLanguage(u4Language), NY_SUCCESS) << u4Language;
    EXPECT_EQ(Value(m_script, "IDS_MAIN_UI_INSTALL_TITLE"), "Zorvak Smart Card Minidriver Setup");
    EXPECT_EQ(Value(m_script, "IDS_TIP_ROLLING_BACK"), "Undoing the changes made to your computer, Please wait...");
    EXPECT_EQ(Value(m_script, "language"), std::to_string(u4Language));
  }
  // The install keeps its journal: a failure is rolled back.
  std::unique_ptr<CNyXmlConfigItem> pInstall(m_script.GetItem("Action", "Insall"));
  ASSERT_NE(pInstall, nullptr);
  CNyString value;
  EXPECT_EQ(pInstall->GetAttribute("Rollback", &value), NY_E_ATTR_MISSING);
}

#if defined(_WIN32)
std::string Folder(int nCsidl) {
  wchar_t wszPath[MAX_PATH] = {};
  EXPECT_EQ(SHGetFolderPathW(nullptr, nCsidl | CSIDL_FLAG_CREATE | CSIDL_FLAG_DONT_UNEXPAND, nullptr,
                             SHGFP_TYPE_DEFAULT, wszPath),
            S_OK);
  return CNyString(wszPath).GetText();
}

TEST(ShippedScriptSystem, IsOs64BitMatchesThePrefix) {
  // A WOW64 system has a SysWOW64 folder; a 32-bit one has none.
  wchar_t wszWow64[MAX_PATH] = {};
  const bool bWow64Folder = GetSystemWow64DirectoryW(wszWow64, MAX_PATH) != 0;
  EXPECT_EQ(static_cast<bool>(IsOs64Bit()), bWow64Folder);
}

TEST_F(ShippedScriptTest, SystemFoldersOfThisPrefix) {
  const std::string pf32 = Value(m_script, "pf32");
  const std::string installDir = Value(m_script, "InstallDir");
  const std::string sys32 = Value(m_script, "sys32");
  const std::string sys64 = Value(m_script, "sys64");
  if (IsOs64Bit()) {
    // The 64-bit prefix: the 32-bit program files folder is the (x86) one.
    EXPECT_EQ(pf32, Folder(CSIDL_PROGRAM_FILESX86));
    EXPECT_TRUE(EndsWith(pf32, "\\Program Files (x86)")) << pf32;
    EXPECT_TRUE(EndsWith(installDir, "\\Program Files (x86)\\Zorvak\\MiniDriver")) << installDir;
    EXPECT_EQ(Value(m_script, "pf64"), pf32.substr(0, pf32.size() - 6));
    EXPECT_TRUE(EndsWith(Lower(sys32), "\\syswow64")) << sys32;
    EXPECT_TRUE(EndsWith(Lower(sys64), "\\system32")) << sys64;
    EXPECT_EQ(Lower(sys32.substr(0, sys32.size() - 9)), Lower(sys64.substr(0, sys64.size() - 9)));
  } else {
    EXPECT_EQ(pf32, Folder(CSIDL_PROGRAM_FILES));
    EXPECT_TRUE(EndsWith(pf32, "\\Program Files")) << pf32;
    EXPECT_TRUE(EndsWith(installDir, "\\Program Files\\Zorvak\\MiniDriver")) << installDir;
    EXPECT_EQ(Value(m_script, "pf64"), pf32);
    EXPECT_EQ(sys32, Folder(CSIDL_SYSTEM));
    EXPECT_EQ(sys64, sys32);
    EXPECT_TRUE(EndsWith(Lower(sys32), "\\system32")) << sys32;
  }
  EXPECT_EQ(Value(m_script, "pf"), pf32);
  EXPECT_EQ(Value(m_script, "sys"), sys32);
  EXPECT_EQ(Value(m_script, "win"), Folder(CSIDL_WINDOWS));
  EXPECT_EQ(Value(m_script, "commonprograms"), Folder(CSIDL_COMMON_PROGRAMS));
  EXPECT_EQ(Value(m_script, "commondesktop"), Folder(CSIDL_COMMON_DESKTOPDIRECTORY));
  const std::string commonDesktop = Folder(CSIDL_COMMON_DESKTOPDIRECTORY);
  EXPECT_EQ(Value(m_script, "usercommon"), commonDesktop.substr(0, commonDesktop.find_last_of('\\')));
  wchar_t wszExe[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, wszExe, MAX_PATH);
  EXPECT_EQ(Value(m_script, "srcexe"), CNyString(wszExe).GetText());
  EXPECT_EQ(Value(m_script, "language"), std::to_string(GetSystemLanguageCode()));
  EXPECT_EQ(Value(m_script, "srcroot"), kSourceRoot);
}
#else
TEST_F(ShippedScriptTest, HostStandInFolders) {
  EXPECT_EQ(Value(m_script, "InstallDir"), "C:\\Program Files (x86)\\Zorvak\\MiniDriver");
  EXPECT_EQ(Value(m_script, "sys32"), "C:\\Windows\\SysWOW64");
  EXPECT_EQ(Value(m_script, "sys64"), "C:\\Windows\\system32");
  EXPECT_EQ(Value(m_script, "pf64"), "C:\\Program Files");
}
#endif

}  // namespace
