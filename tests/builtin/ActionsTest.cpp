// Built-in actions made from XML snippets through the factory, described and
// run on real files, keys and processes.
#include <windows.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "CaptureLogger.h"
#include "NyBuiltInActions.h"
#include "NyRegistryUtil.h"
#include "NyResult.h"
#include "NySystem_Win.h"
#include "ScratchDir.h"
#include "TestProcess.h"
#include "XmlItem.h"

namespace {

std::string Narrow(const std::wstring& w) {
  std::string s;
  for (wchar_t c : w) s += static_cast<char>(c);
  return s;
}

const char kTemplates[] =
    "<ActionDescString>"
    "<File><zh_cn>x</zh_cn><en_us>Copy $[src] to $[dest] ($[src])</en_us></File>"
    "<DelFile><en_us>Delete $[src]</en_us></DelFile>"
    "<DelDir><en_us>Remove $[src]</en_us></DelDir>"
    "<AddRegister><en_us>Write $[path]</en_us></AddRegister>"
    "<DelRegister><en_us>Delete $[path]</en_us></DelRegister>"
    "<RunRegFile><en_us>Import $[Src]</en_us></RunRegFile>"
    "<KillProcess><en_us>Stop $[pname]</en_us></KillProcess>"
    "<StartProcess><en_us>Start $[src]</en_us></StartProcess>"
    "</ActionDescString>";

class Actions : public testing::Test {
 protected:
  // Creates the action of a snippet; the snippet's item lives as long as the fixture.
  INyAction* Make(const std::string& xml) {
    m_items.push_back(std::make_unique<XmlItem>(xml));
    m_actions.emplace_back(m_factory.CreateAction(m_items.back()->Get()));
    return m_actions.back().get();
  }
  std::string Describe(INyAction* pAction, uint32_t* pu4Result = nullptr) {
    CNyString text;
    const uint32_t u4Result = pAction->GetDescription(m_templates.Get(), nullptr, &text);
    if (pu4Result != nullptr) *pu4Result = u4Result;
    return text.GetAnsi();
  }
  CNyBuiltInActionFactory m_factory;
  XmlItem m_templates{kTemplates};
  std::vector<std::unique_ptr<XmlItem>> m_items;
  std::vector<std::unique_ptr<INyAction>> m_actions;
  ScratchDir m_dir{L"ny_actions"};
};

TEST_F(Actions, FactoryMatchesNamesExactly) {
  EXPECT_EQ(Make("<file Src='a' Dest='b'/>"), nullptr);
  EXPECT_EQ(Make("<Unknown/>"), nullptr);
  ASSERT_NE(Make("<File Src='C:\\a.txt' Dest='C:\\b.txt'/>"), nullptr);
  EXPECT_EQ(m_factory.CreateAction(nullptr), nullptr);
}

TEST_F(Actions, FactoryTableSaysWhichFailuresLetARunGoOn) {
  EXPECT_EQ(m_factory.FailureRule("DelRegister"), NyActionFailure::PassesIfGone);
  for (const char* pszName : {"KillProcess", "AddTrustedSite", "DelTrustedSite", "SetAppTaskScheduler"}) {
    EXPECT_EQ(m_factory.FailureRule(pszName), NyActionFailure::Passes) << pszName;
  }
  EXPECT_EQ(m_factory.FailureRule("File"), NyActionFailure::Stops);
  EXPECT_EQ(m_factory.FailureRule("delregister"), NyActionFailure::Stops);
  EXPECT_EQ(m_factory.FailureRule("Bogus"), NyActionFailure::Stops);
  EXPECT_TRUE(ActionFailureMayPass(NyActionFailure::Stops, 0));
  EXPECT_FALSE(ActionFailureMayPass(NyActionFailure::Stops, 5));
  EXPECT_TRUE(ActionFailureMayPass(NyActionFailure::PassesIfGone, 2));
  EXPECT_FALSE(ActionFailureMayPass(NyActionFailure::PassesIfGone, 5));
  EXPECT_TRUE(ActionFailureMayPass(NyActionFailure::Passes, 0xE0600007));
}

TEST_F(Actions, FactoryTableHoldsTwoHundredFiftySixRows) {
  CaptureLogger log;
  CNyBuiltInActionFactory factory;
  auto creator = [](CNyXmlConfigItem*) -> INyAction* { return nullptr; };
  int nAdded = 0;
  while (factory.AddNyAction("Extra", creator)) ++nAdded;
  EXPECT_EQ(nAdded, 256 - 14);
  EXPECT_EQ(log.lines.back().text, "CNyActionFactory::AddNyAction: current action count=256(MaxCount=256");
  EXPECT_EQ(log.lines.back().u4Level, LOG_LEVEL_ERROR);
  EXPECT_FALSE(factory.AddNyAction("", creator));
  EXPECT_FALSE(factory.AddNyAction("X", nullptr));
}

TEST_F(Actions, AttributeErrorsHaveTheirCodes) {
  EXPECT_EQ(Make("<File Src='x'/>")->Do(nullptr), NY_E_ATTR_MISSING);
  EXPECT_EQ(Make("<File Src='x' Dest=''/>")->Do(nullptr), NY_E_INVALID_PARAM);
  EXPECT_EQ(Make("<DelDir/>")->LoadConfig(0), NY_E_ATTR_MISSING);
  EXPECT_EQ(Make("<KillProcess Name=''/>")->LoadConfig(0), NY_E_INVALID_PARAM);
  EXPECT_EQ(Make("<KillProcess/>")->LoadConfig(0), NY_E_NO_TEMPLATE);
  EXPECT_EQ(Make("<KillProcess Pid='0'/>")->LoadConfig(0), NY_E_NO_TEMPLATE);
  EXPECT_EQ(Make("<AddRegister Root='HKEY_CURRENT_USER' SubKey='S' ValueType='REG_SZ' ValueData=''/>")->LoadConfig(0),
            NY_E_INVALID_PARAM);
  EXPECT_EQ(Make("<AddRegister Root='HKEY_CURRENT_USER' SubKey='S' ValueType='REG_BINARY' ValueData=''/>")->LoadConfig(0),
            0u);
  EXPECT_EQ(Make("<AddRegister Root='HKEY_CURRENT_USER' SubKey='S' ValueType='REG_SZ'/>")->LoadConfig(0),
            NY_E_ATTR_MISSING);
  EXPECT_EQ(Make("<StartProcess Src=''/>")->LoadConfig(0), NY_E_INVALID_PARAM);
}

TEST_F(Actions, AttributesAreReadOnce) {
  CaptureLogger log;
  const std::wstring src = m_dir / L"a.txt";
  ASSERT_TRUE(WriteTextFile(src, "a"));
  INyAction* pAction = Make("<File Src='" + Narrow(src) + "' Dest='" + Narrow(m_dir / L"b.txt") + "'/>");
  EXPECT_EQ(pAction->Do(nullptr), 0u);
  EXPECT_EQ(pAction->Do(nullptr), 0u);
  Describe(pAction);
  int nEchoes = 0;
  for (const auto& line : log.lines)
    if (line.text.find("CNyActionFile::LoadConfig: Src in xml is: ") == 0) ++nEchoes;
  EXPECT_EQ(nEchoes, 1);
  EXPECT_TRUE(log.Contains("+++++ CNyActionFile::Do..."));
  EXPECT_TRUE(log.Contains("----- CNyActionFile::Do end succesfully"));
  EXPECT_NE(log.lines.back().source.find("NyActionFile"), std::string::npos);
  EXPECT_EQ(pAction->LoadConfig(1), 0u);
}

TEST_F(Actions, DescriptionsReplacePlaceholdersAndAddSuffixes) {
  EXPECT_EQ(Describe(Make("<File Src='S' Dest='D' Register='true' CmpVer='TRUE'/>")),
            "Copy S to D (S)Register=\"True\"CmpVer=\"True\"");
  EXPECT_EQ(Describe(Make("<DelFile Src='S' Unregister='True'/>")), "Delete S UnRegister=\"True\"");
  EXPECT_EQ(Describe(Make("<DelDir Src='S'/>")), "Remove S CheckIsEmpty=\"True\"");
  EXPECT_EQ(Describe(Make("<DelDir Src='S' CheckIsEmpty='false'/>")), "Remove S");
  EXPECT_EQ(Describe(Make("<AddRegister Root='R' SubKey='K' ValueName='V' ValueType='REG_SZ' ValueData='x'/>")),
            "Write R\\K\\V");
  EXPECT_EQ(Describe(Make("<DelRegister Root='R' SubKey='K' Key64='true'/>")), "Delete R\\K\\ m_b64Key=true");
  EXPECT_EQ(Describe(Make("<DelRegister Root='R' SubKey='K' ValueName='V'/>")), "Delete R\\K\\V m_b64Key=false");
  EXPECT_EQ(Describe(Make("<RunRegFile Src='x.reg'/>")), "Import $[Src]");
  EXPECT_EQ(Describe(Make("<KillProcess Pid='1234'/>")), "Stop 1234");
  EXPECT_EQ(Describe(Make("<KillProcess Name='a.exe' Pid='1234'/>")), "Stop a.exe");
  EXPECT_EQ(Describe(Make("<StartProcess Src='p.exe' CmdLine='/quiet'/>")),
            "Start p.exe CmdLine=\"/quiet\" Silent=\"true\" Wait=\"true\"");
  EXPECT_EQ(Describe(Make("<StartProcess Src='p.exe' Silent='false' Wait='no'/>")),
            "Start p.exe Silent=\"false\" Wait=\"false\"");

  XmlItem noTemplates("<ActionDescString><Other>x</Other></ActionDescString>");
  CNyString text;
  EXPECT_EQ(Make("<DelFile Src='S'/>")->GetDescription(noTemplates.Get(), nullptr, &text), NY_E_NO_TEMPLATE);
  uint32_t u4Result = 0;
  Describe(Make("<DelFile/>"), &u4Result);
  EXPECT_EQ(u4Result, NY_E_ATTR_MISSING);
}

TEST_F(Actions, OsFilterRunsOnlyOnTheNamedSystem) {
  ASSERT_TRUE(WriteTextFile(m_dir / L"src.txt", "x"));
  const std::string src = Narrow(m_dir / L"src.txt");
  int nCase = 0;
  for (const char* pszOs : {"os64", "os32", "OS64", "x64", ""}) {
    // File names ignore case, so each case gets a number of its own.
    const std::wstring dest = m_dir / (L"dest_" + std::to_wstring(nCase++) + L".txt");
    INyAction* pAction = Make("<File Src='" + src + "' Dest='" + Narrow(dest) + "' os='" + pszOs + "'/>");
    EXPECT_EQ(pAction->Do(nullptr), 0u);
    const bool bExpected = pszOs[0] == 0 || std::string(pszOs) == (IsOs64Bit() ? "os64" : "os32");
    EXPECT_EQ(PathExists(dest), bExpected) << pszOs;
  }
  // KillProcess and DelDir ignore os.
  EXPECT_EQ(Make("<DelDir Src='" + Narrow(m_dir / L"gone") + "' CheckIsEmpty='false' os='none'/>")->Do(nullptr), 0u);
}

TEST_F(Actions, FileCopiesFilesAndFolders) {
  const std::wstring src = m_dir / L"pkg";
  ASSERT_TRUE(CreateDirectoryW(src.c_str(), nullptr));
  ASSERT_TRUE(WriteTextFile(src + L"\\f.txt", "f"));
  const std::wstring deep = m_dir / L"new\\deeper\\f.txt";
  EXPECT_EQ(Make("<File Src='" + Narrow(src) + "\\f.txt' Dest='" + Narrow(deep) + "'/>")->Do(nullptr), 0u);
  EXPECT_EQ(ReadTextFile(deep), "f");
  // "folder\*" on both sides: the content of one into the other.
  EXPECT_EQ(Make("<File Src='" + Narrow(src) + "\\*' Dest='" + Narrow(m_dir / L"copy") + "\\*'/>")->Do(nullptr), 0u);
  EXPECT_EQ(ReadTextFile(m_dir / L"copy\\f.txt"), "f");
  // A trailing backslash drops nothing from either path.
  EXPECT_EQ(Make("<File Src='" + Narrow(src) + "\\' Dest='" + Narrow(m_dir / L"copy2") + "'/>")->Do(nullptr), 0u);
  EXPECT_EQ(ReadTextFile(m_dir / L"copy2\\f.txt"), "f");
  EXPECT_EQ(Make("<File Src='" + Narrow(src) + "\\f.txt' Dest='nofolder.txt'/>")->Do(nullptr), NY_E_INVALID_DATA);
  EXPECT_EQ(Make("<File Src='" + Narrow(src) + "\\missing.txt' Dest='" + Narrow(m_dir / L"m.txt") + "'/>")->Do(nullptr),
            2u);
  EXPECT_EQ(Make("<DelFile Src='" + Narrow(deep) + "'/>")->Do(nullptr), 0u);
  EXPECT_FALSE(PathExists(deep));
  EXPECT_EQ(Make("<DelFile Src='C:\\'/>")->Do(nullptr), NY_E_INVALID_PARAM);
  EXPECT_EQ(Make("<DelDir Src='" + Narrow(m_dir / L"copy") + "'/>")->Do(nullptr), 0u);
  EXPECT_TRUE(PathExists(m_dir / L"copy\\f.txt")) << "not empty: left alone";
  EXPECT_EQ(Make("<DelDir Src='" + Narrow(m_dir / L"copy") + "' CheckIsEmpty='false'/>")->Do(nullptr), 0u);
  EXPECT_FALSE(PathExists(m_dir / L"copy"));
}

class RegistryActions : public Actions {
 protected:
  void TearDown() override {
    for (BOOL b64 : {TRUE, FALSE}) DeleteRegistryTree(HKEY_CURRENT_USER, L"Software\\ZorvakActionTest", b64);
  }
  DWORD ReadDword(const wchar_t* pwszName) {
    DWORD dw = 0xDEADBEEF, cb = sizeof(dw);
    RegGetValueW(HKEY_CURRENT_USER, L"Software\\ZorvakActionTest", pwszName, RRF_RT_REG_DWORD, nullptr, &dw, &cb);
    return dw;
  }
  std::string ReadBinary(const wchar_t* pwszName) {
    BYTE ab[64];
    DWORD cb = sizeof(ab);
    if (RegGetValueW(HKEY_CURRENT_USER, L"Software\\ZorvakActionTest", pwszName, RRF_RT_REG_BINARY, nullptr, ab, &cb) !=
        ERROR_SUCCESS)
      return "<missing>";
    return std::string(reinterpret_cast<char*>(ab), cb);
  }
  uint32_t Add(const std::string& name, const std::string& type, const std::string& data,
               const std::string& root = "HKEY_CURRENT_USER") {
    return Make("<AddRegister Root='" + root + "' SubKey='Software\\ZorvakActionTest' ValueName='" + name +
                "' ValueType='" + type + "' ValueData='" + data + "'/>")
        ->Do(nullptr);
  }
};

TEST_F(RegistryActions, ValueTypesAndTheirTexts) {
  EXPECT_EQ(Add("hex", "REG_DWORD", "0x10"), 0u);
  EXPECT_EQ(ReadDword(L"hex"), 0u);
  EXPECT_EQ(Add("minus", "REG_DWORD", "-1"), 0u);
  EXPECT_EQ(ReadDword(L"minus"), 0xFFFFFFFFu);
  EXPECT_EQ(Add("lang", "REG_DWORD", " 1033"), 0u);
  EXPECT_EQ(ReadDword(L"lang"), 1033u);
  EXPECT_EQ(Add("big", "REG_DWORD", "99999999999"), 0u);
  EXPECT_EQ(ReadDword(L"big"), 0x7FFFFFFFu);
  EXPECT_EQ(Add("bin", "REG_BINARY", "0A1B2C3D4e"), 0u);
  EXPECT_EQ(ReadBinary(L"bin"), std::string("\x0a\x1b\x2c\x3d\x4e", 5));
  EXPECT_EQ(Add("empty", "REG_BINARY", ""), 0u);
  EXPECT_EQ(ReadBinary(L"empty"), "");
  EXPECT_EQ(Add("odd", "REG_BINARY", "3B1"), NY_E_INVALID_PARAM);
  EXPECT_EQ(Add("bad", "REG_BINARY", "3G"), NY_E_INVALID_PARAM);
  EXPECT_EQ(ReadBinary(L"odd"), "<missing>");
  EXPECT_EQ(Add("lower", "reg_sz", "x"), NY_E_INVALID_PARAM);
  EXPECT_EQ(Add("none", "", "x"), NY_E_INVALID_PARAM);
  EXPECT_EQ(Add("short", "REG_SZ", "x", "HKCU"), NY_E_INVALID_PARAM);
  EXPECT_EQ(Add("short", "REG_SZ", "x", "hkey_current_user"), NY_E_INVALID_PARAM);
  EXPECT_EQ(Make("<AddRegister Root='HKEY_CURRENT_USER' SubKey='Software\\\\Zorvak' ValueType='REG_SZ' ValueData='x'/>")
                ->Do(nullptr),
            NY_E_FAIL);
}

TEST_F(RegistryActions, DeleteRemovesTreesInOneViewAndReportsMissingKeys) {
  const std::string add = "<AddRegister Root='HKEY_LOCAL_MACHINE' SubKey='Software\\ZorvakActionTest\\A\\B' "
                          "ValueName='v' ValueType='REG_SZ' ValueData='x' Key64='";
  ASSERT_EQ(Make(add + "true'/>")->Do(nullptr), 0u);
  ASSERT_EQ(Make(add + "false'/>")->Do(nullptr), 0u);
  const std::string del = "<DelRegister Root='HKEY_LOCAL_MACHINE' SubKey='Software\\ZorvakActionTest' Key64='";
  EXPECT_EQ(Make(del + "true'/>")->Do(nullptr), 0u);
  RegistryKeyRef ref;
  ref.hRoot = HKEY_LOCAL_MACHINE;
  ref.subKey = L"Software\\ZorvakActionTest\\A\\B";
  ref.valueName = L"v";
  ref.b64Key = FALSE;
  size_t cch = 0;
  EXPECT_EQ(ReadRegistryString(&ref, nullptr, &cch), IsOs64Bit() ? 0u : 2u) << "the other view keeps its copy";
  EXPECT_EQ(Make(del + "false'/>")->Do(nullptr), IsOs64Bit() ? 0u : 2u);
  EXPECT_EQ(Make(del + "false'/>")->Do(nullptr), 2u);
  EXPECT_EQ(Make("<DelRegister Root='HKEY_LOCAL_MACHINE' SubKey='Software\\ZorvakActionTest' ValueName='v'/>")
                ->Do(nullptr),
            2u);
}

TEST_F(Actions, ProcessesAreStoppedAndStarted) {
  const std::wstring helper = m_dir / L"ny_action_sleeper.exe";
  ASSERT_TRUE(CopyFileW(TestHelperExe().c_str(), helper.c_str(), FALSE));
  Process a(helper, L"sleep");
  EXPECT_EQ(Make("<KillProcess Name='ny_action_sleeper.exe'/>")->Do(nullptr), 0u);
  EXPECT_EQ(a.Wait(), 0u);
  Process b(helper, L"sleep");
  EXPECT_EQ(Make("<KillProcess Pid='" + std::to_string(b.Pid()) + "'/>")->Do(nullptr), 0u);
  EXPECT_EQ(b.Wait(), 0u);
  EXPECT_EQ(Make("<KillProcess Name='" + Narrow(m_dir / L"ZorvakMiniDriver.dll") + "'/>")->Do(nullptr), 0u);

  const std::wstring marker = m_dir / L"started.txt";
  EXPECT_EQ(Make("<StartProcess Src='" + Narrow(helper) + "' CmdLine='marker \"" + Narrow(marker) + "\"'/>")
                ->Do(nullptr),
            0u);
  EXPECT_TRUE(PathExists(marker)) << "waited for by default";
  EXPECT_EQ(Make("<StartProcess Src='" + Narrow(m_dir / L"missing.exe") + "'/>")->Do(nullptr), 2u);
}

}  // namespace
