// The registry actions' undo: what AddRegister, DelRegister and RunRegFile
// changed, in either view, is put back exactly (types and bytes) by the
// rollback of their journal.
#include <windows.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "MachineSnapshot.h"
#include "NyBuiltInActions.h"
#include "NyRegistryUtil.h"
#include "NyResult.h"
#include "NyRollback.h"
#include "NySetupInfo.h"
#include "ScratchDir.h"
#include "TestProcess.h"
#include "XmlItem.h"

namespace {

const wchar_t kBase[] = L"Software\\ZorvakUndoTest";
const char kBaseText[] = "Software\\ZorvakUndoTest";

MachineSnapshot Dump() { return TakeRegistrySnapshot({kBase}); }

void Seed(const std::wstring& subKey, const wchar_t* pwszName, DWORD dwType, const void* pvData, DWORD cbData,
          BOOL b64 = FALSE) {
  ASSERT_TRUE(SetTestRegistryValue(std::wstring(kBase) + subKey, b64, pwszName, dwType, pvData, cbData));
}

class RegistryUndo : public testing::Test {
 protected:
  void SetUp() override {
    TearDown();
    ASSERT_EQ(m_journal.Create(L"{ZorvakUndoTest}"), 0u);
    m_info.m_pJournal = &m_journal;
  }
  void TearDown() override {
    m_journal.Remove();
    for (BOOL b64 : {TRUE, FALSE}) DeleteRegistryTree(HKEY_LOCAL_MACHINE, kBase, b64);
  }
  uint32_t Run(const std::string& xml) {
    m_items.push_back(std::make_unique<XmlItem>(xml));
    std::unique_ptr<INyAction> action(m_factory.CreateAction(m_items.back()->Get()));
    return action != nullptr ? action->Do(&m_info) : 0xFFFFFFFF;
  }

  CNyBuiltInActionFactory m_factory;
  CNyJournalFile m_journal;
  CNySetupInfo m_info;
  std::vector<std::unique_ptr<XmlItem>> m_items;
};

TEST_F(RegistryUndo, WritesAndDeletionsComeBackWithTheirTypesAndBytes) {
  const wchar_t szExpand[] = L"%SystemRoot%\\zorvak.dll";
  const DWORD dwKeep = 5;
  const uint64_t u8Qword = 0x1122334455667788ull;
  const wchar_t szMulti[] = L"one\0two\0";
  const BYTE abAtr[] = {0x3B, 0x00, 0xFF};
  Seed(L"\\Existing", L"Path", REG_EXPAND_SZ, szExpand, sizeof(szExpand));
  Seed(L"\\Existing", L"Keep", REG_DWORD, &dwKeep, sizeof(dwKeep));
  Seed(L"\\Existing", L"", REG_SZ, L"default", 16);
  Seed(L"\\Tree", L"ATR", REG_BINARY, abAtr, sizeof(abAtr));
  Seed(L"\\Tree\\A\\B", L"Multi", REG_MULTI_SZ, szMulti, sizeof(szMulti));
  Seed(L"\\Tree\\A\\B", L"Big", REG_QWORD, &u8Qword, sizeof(u8Qword));
  Seed(L"\\Tree\\Empty", L"", REG_NONE, nullptr, 0);
  Seed(L"\\Existing", L"Path", REG_SZ, L"64", 4, TRUE);
  const MachineSnapshot before = Dump();

  const std::string base = kBaseText;
  const auto add = [&](const char* pszKey, const char* pszName, const char* pszType, const char* pszData,
                       const char* pszKey64) {
    return Run("<AddRegister Root='HKEY_LOCAL_MACHINE' SubKey='" + base + pszKey + "' ValueName='" + pszName +
               "' ValueType='" + pszType + "' ValueData='" + pszData + "' Key64='" + pszKey64 + "'/>");
  };
  EXPECT_EQ(add("\\Existing", "Path", "REG_SZ", "new", "false"), 0u);
  EXPECT_EQ(add("\\Existing", "New", "REG_DWORD", "7", "false"), 0u);
  EXPECT_EQ(add("\\Made\\Deeper\\Deepest", "V", "REG_BINARY", "0A0B", "false"), 0u);
  EXPECT_EQ(add("\\Existing", "Path", "REG_SZ", "new64", "true"), 0u);
  EXPECT_EQ(Run("<DelRegister Root='HKEY_LOCAL_MACHINE' SubKey='" + base + "\\Tree'/>"), 0u);
  EXPECT_EQ(Run("<DelRegister Root='HKEY_LOCAL_MACHINE' SubKey='" + base + "\\Existing' ValueName='Keep'/>"), 0u);
  const size_t steps = m_journal.Entries().size();
  // What is not there is not deleted, and nothing is recorded for it.
  EXPECT_EQ(Run("<DelRegister Root='HKEY_LOCAL_MACHINE' SubKey='" + base + "\\Missing'/>"), 2u);
  EXPECT_EQ(Run("<DelRegister Root='HKEY_LOCAL_MACHINE' SubKey='" + base + "\\Existing' ValueName='Nope'/>"), 2u);
  // Nor for a value written into a key the run made: it goes with the key.
  EXPECT_EQ(add("\\Made\\Deeper", "W", "REG_SZ", "x", "false"), 0u);
  EXPECT_EQ(m_journal.Entries().size(), steps);
  EXPECT_NE(DifferenceText(before, Dump()), "");
  // Something else made its home below a key the run made: that key stays,
  // the run's keys below it go.
  Seed(L"\\Made\\Foreign", L"", REG_DWORD, &dwKeep, sizeof(dwKeep));

  EXPECT_EQ(RollBackJournal(&m_journal, nullptr, nullptr), 0u);
  EXPECT_EQ(DifferenceText(before, Dump()), "+ [32] " + base + "\\Made\n+ [32] " + base + "\\Made\\Foreign\n+ [32] " +
                                             base + "\\Made\\Foreign : \n");
}

// A .reg file in the format regedit exports: UTF-16 after a byte-order mark.
bool WriteRegFile(const std::wstring& path, const std::wstring& text) {
  std::string bytes = "\xFF\xFE";
  for (wchar_t ch : text) {
    bytes += static_cast<char>(ch & 0xFF);
    bytes += static_cast<char>(ch >> 8);
  }
  return WriteTextFile(path, bytes);
}

TEST_F(RegistryUndo, ARegistryFileImportIsUndoneKeyByKey) {
  // The view whose regedit this machine can start: the native one.
#if defined(_WIN64)
  const BOOL b64 = TRUE;
#else
  const BOOL b64 = FALSE;
#endif
  const DWORD dwOne = 1;
  Seed(L"\\Imp", L"Old", REG_SZ, L"old", 8, b64);
  Seed(L"\\Imp", L"Gone", REG_DWORD, &dwOne, sizeof(dwOne), b64);
  Seed(L"\\ImpDel\\Sub", L"Kept", REG_EXPAND_SZ, L"%TEMP%", 14, b64);
  const MachineSnapshot before = Dump();
  ScratchDir dir(L"ny_reg_undo");
  const std::wstring key = L"HKEY_LOCAL_MACHINE\\Software\\ZorvakUndoTest";
  ASSERT_TRUE(WriteRegFile(dir / L"import.reg",
                           L"Windows Registry Editor Version 5.00\r\n\r\n"
                           L"[" + key + L"\\Imp]\r\n\"Old\"=\"new\"\r\n\"Fresh\"=hex:01,02,\\\r\n  03\r\n"
                           L"\"Gone\"=-\r\n@=\"default\"\r\n\r\n"
                           L"[" + key + L"\\Imp\\New\\Level]\r\n\"x\"=dword:00000001\r\n\r\n"
                           L"[-" + key + L"\\ImpDel]\r\n"));
  const std::string run = "<RunRegFile Src='" + snapshot_detail::Narrow(dir / L"import.reg") + "' Key64='" +
                          (b64 ? "true" : "false") + "'/>";
  ASSERT_EQ(Run(run), 0u);
  ASSERT_NE(DifferenceText(before, Dump()), "") << "the import did not run";
  // The key that was there, the two levels the file makes, the deleted tree.
  EXPECT_EQ(m_journal.Entries().size(), 4u);

  EXPECT_EQ(RollBackJournal(&m_journal, nullptr, nullptr), 0u);
  EXPECT_EQ(DifferenceText(before, Dump()), "");

  // A file whose changes cannot be read is not imported.
  ASSERT_TRUE(m_journal.Create(L"{ZorvakUndoTest}") == 0);
  ASSERT_TRUE(WriteRegFile(dir / L"odd.reg", L"REGEDIT4\r\n\r\n[" + key + L"\\Odd]\r\n\"a\"=\"1\"\r\n"
                                                 L"[HKEY_NOWHERE\\x]\r\n\"b\"=\"2\"\r\n"));
  EXPECT_EQ(Run("<RunRegFile Src='" + snapshot_detail::Narrow(dir / L"odd.reg") + "'/>"), NY_E_INVALID_DATA);
  EXPECT_EQ(DifferenceText(before, Dump()), "");
  EXPECT_EQ(RollBackJournal(&m_journal, nullptr, nullptr), 0u);
}

}  // namespace
