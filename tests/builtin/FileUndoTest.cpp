// The file actions' undo steps: File, DelFile, DelDir and CreateShortcut run
// with a journal that keeps their steps, which are then undone the last
// first (twice, as after a rollback that died) or committed. What was there
// comes back exactly, held files included, before and after a restart.
#include <windows.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "MachineSnapshot.h"
#include "NyBuiltInActions.h"
#include "NyFileUtil.h"
#include "NyFileVersion.h"
#include "PendingRenames.h"
#include "ScratchDir.h"
#include "TestProcess.h"
#include "UndoJournal.h"
#include "NyUndoFile.h"
#include "XmlItem.h"

namespace {

std::string Narrow(const std::wstring& w) { return std::string(w.begin(), w.end()); }

std::wstring VersionDll(const wchar_t* pwszVersion) {
  return ExeDir() + L"..\\system\\ny_version_" + pwszVersion + L".dll";
}

uint32_t MajorMinor(const std::wstring& path) {
  NyFileVersion version;
  if (GetFileVersionNumber(path.c_str(), &version) != 0) return 0;
  return version.au4Parts[0] * 100 + version.au4Parts[1];
}

class FileUndo : public testing::Test {
 protected:
  uint32_t Run(const std::string& xml) {
    XmlItem item(xml);
    const std::unique_ptr<INyAction> action(m_factory.CreateAction(item.Get()));
    return action != nullptr ? action->Do(m_journal.Info()) : 0xFFFFFFFF;
  }
  // Names, sizes, write times and attributes of everything under the folder.
  MachineSnapshot Snapshot() const {
    MachineSnapshot snapshot;
    snapshot_detail::AddFiles(m_dir.Path(), true, SnapshotArea::Files, &snapshot);
    return snapshot;
  }
  // What differs from an earlier snapshot, one line each.
  std::string ChangesSince(const MachineSnapshot& before) const {
    std::string text;
    for (const SnapshotDifference& difference : CompareSnapshots(before, Snapshot())) text += difference.text + "\n";
    return text;
  }
  bool AnyBackupLeft() const {
    for (const auto& item : Snapshot())
      if (item.first.find(".NyBackup") != std::string::npos) return true;
    return false;
  }
  std::string At(const wchar_t* pwszName) const { return Narrow(m_dir / pwszName); }

  PendingRenamesGuard m_pending;
  ScratchDir m_dir{L"ny_file_undo"};
  CNyBuiltInActionFactory m_factory;
  UndoJournal m_journal;
};

TEST_F(FileUndo, ReplacedAndRemovedFilesComeBackAndNewOnesGo) {
  const std::wstring driver = m_dir / L"sys\\driver.dll";
  ASSERT_EQ(CreateDirectoryTree((m_dir / L"old\\tree\\deep\\").c_str()), 0u);
  ASSERT_EQ(CreateDirectoryTree((m_dir / L"pkg\\sub\\").c_str()), 0u);
  ASSERT_EQ(CreateDirectoryTree((m_dir / L"sys\\").c_str()), 0u);
  ASSERT_TRUE(CopyFileW(VersionDll(L"1_9").c_str(), driver.c_str(), FALSE));
  SetFileAttributesW(driver.c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
  ASSERT_TRUE(WriteTextFile(m_dir / L"old\\tree\\deep\\a.txt", "a"));
  ASSERT_TRUE(WriteTextFile(m_dir / L"sys\\gone.cfg", "cfg"));
  ASSERT_TRUE(WriteTextFile(m_dir / L"pkg\\sub\\b.txt", "b"));
  const MachineSnapshot before = Snapshot();

  const std::string newer = Narrow(VersionDll(L"2_0"));
  EXPECT_EQ(Run("<File Src='" + newer + "' Dest='" + Narrow(driver) + "'/>"), 0u);
  EXPECT_EQ(Run("<File Src='" + newer + "' Dest='" + At(L"new\\deeper\\x.dll") + "'/>"), 0u);
  EXPECT_EQ(Run("<File Src='" + At(L"pkg") + "\\*' Dest='" + At(L"inst\\app") + "\\*'/>"), 0u);
  EXPECT_EQ(Run("<DelFile Src='" + At(L"sys\\gone.cfg") + "'/>"), 0u);
  EXPECT_EQ(Run("<DelDir Src='" + At(L"old") + "\\' CheckIsEmpty='false'/>"), 0u);
  ASSERT_EQ(MajorMinor(driver), 200u);
  ASSERT_EQ(ReadTextFile(m_dir / L"inst\\app\\sub\\b.txt"), "b");
  ASSERT_FALSE(PathExists(m_dir / L"old"));

  EXPECT_EQ(m_journal.UndoAll(), 0u);
  EXPECT_EQ(ChangesSince(before), "");
  EXPECT_EQ(MajorMinor(driver), 109u);
  EXPECT_EQ(m_journal.UndoAll(), 0u) << "undone twice";
  EXPECT_EQ(ChangesSince(before), "");
  m_journal.ExpectCutStepsRefused();

  // Done again and committed: nothing kept is left behind.
  m_journal.steps.clear();
  EXPECT_EQ(Run("<File Src='" + newer + "' Dest='" + Narrow(driver) + "'/>"), 0u);
  EXPECT_EQ(Run("<DelDir Src='" + At(L"old") + "' CheckIsEmpty='false'/>"), 0u);
  EXPECT_TRUE(AnyBackupLeft());
  m_journal.CommitAll();
  EXPECT_FALSE(AnyBackupLeft());
  EXPECT_FALSE(PathExists(m_dir / L"old"));
  EXPECT_EQ(MajorMinor(driver), 200u);
}

TEST_F(FileUndo, StepsOfAChangeThatWasNeverMadeChangeNothing) {
  ASSERT_TRUE(WriteTextFile(m_dir / L"kept.txt", "kept"));
  const MachineSnapshot before = Snapshot();
  // What a run that died right after recording leaves: its steps, not its changes.
  CNyFileUndoRecorder recorder(&m_journal);
  std::wstring backup, none;
  EXPECT_EQ(recorder.CreatingFolders({m_dir / L"made"}), 0u);
  EXPECT_EQ(recorder.SettingAside(m_dir / L"made\\new.txt", false, &none), 0u);
  EXPECT_EQ(recorder.SettingAside(m_dir / L"kept.txt", true, &backup), 0u);
  EXPECT_EQ(recorder.StagingForRestart(m_dir / L"kept.txt", m_dir / L"kept.txt_Discard_1", backup), 0u);
  EXPECT_TRUE(none.empty());
  EXPECT_EQ(backup, m_dir / L"kept.txt.NyBackup1");
  EXPECT_EQ(m_journal.UndoAll(), 0u);
  EXPECT_EQ(ChangesSince(before), "");
}

// The held old file can be neither renamed nor deleted: the new one waits
// for the restart, which first renames the old file to its backup.
TEST_F(FileUndo, AHeldFileIsPutBackBeforeAndAfterTheRestart) {
  const std::wstring driver = m_dir / L"driver.dll";
  const std::string copy = "<File Src='" + Narrow(VersionDll(L"2_0")) + "' Dest='" + Narrow(driver) + "'/>";
  ASSERT_TRUE(CopyFileW(VersionDll(L"1_9").c_str(), driver.c_str(), FALSE));
  const MachineSnapshot before = Snapshot();
  const std::vector<BYTE> pendingBefore = PendingRenameBytes();

  auto holder = HoldFile(TestHelperExe(), driver);
  ASSERT_EQ(Run(copy), 0u);
  const std::vector<std::wstring> entries = PendingRenames();
  size_t toBackup = entries.size(), toPlace = entries.size();
  for (size_t i = 0; i + 1 < entries.size(); i += 2) {
    if (PendingPathIs(entries[i], driver) && PendingPathIs(entries[i + 1], driver + L".NyBackup1")) toBackup = i;
    if (PendingPathIs(entries[i], driver + L"_Discard_1") && PendingPathIs(entries[i + 1], driver)) toPlace = i;
  }
  ASSERT_LT(toBackup, toPlace) << "the old file must leave for its backup before the new one takes its place";
  EXPECT_EQ(m_journal.UndoAll(), 0u) << "before the restart";
  EXPECT_EQ(PendingRenameBytes(), pendingBefore);
  TerminateProcess(holder->Handle(), 0);
  holder->Wait();
  EXPECT_EQ(ChangesSince(before), "");

  // Copied again while held, and the restart comes (after the commit when asked).
  auto copyHeldThenRestart = [&](bool bCommit) {
    m_journal.steps.clear();
    auto held = HoldFile(TestHelperExe(), driver);
    EXPECT_EQ(Run(copy), 0u);
    if (bCommit) m_journal.CommitAll();
    TerminateProcess(held->Handle(), 0);
    held->Wait();
    ApplyPendingRenamesUnder(m_dir.Path());
    EXPECT_EQ(MajorMinor(driver), 200u);
  };
  copyHeldThenRestart(false);
  m_journal.ExpectCutStepsRefused();
  EXPECT_EQ(m_journal.UndoAll(), 0u) << "after the restart";
  EXPECT_EQ(ChangesSince(before), "");

  // Committed: the backup the restart makes goes right after it.
  copyHeldThenRestart(true);
  EXPECT_FALSE(PathExists(driver + L".NyBackup1"));
}

TEST_F(FileUndo, ADeletionThatCancelledAStagedReplacementBringsItBack) {
  const std::wstring target = m_dir / L"product.dll";
  ASSERT_TRUE(WriteTextFile(target, "old"));
  ASSERT_TRUE(WriteTextFile(target + L"_Discard_1", "staged"));
  ASSERT_TRUE(MoveFileExW((target + L"_Discard_1").c_str(), target.c_str(),
                          MOVEFILE_DELAY_UNTIL_REBOOT | MOVEFILE_REPLACE_EXISTING));
  const MachineSnapshot before = Snapshot();
  const std::vector<BYTE> pendingBefore = PendingRenameBytes();

  ASSERT_EQ(Run("<DelFile Src='" + Narrow(target) + "'/>"), 0u);
  ASSERT_FALSE(PathExists(target));
  ASSERT_FALSE(PendingRestores(target));
  EXPECT_EQ(m_journal.UndoAll(), 0u);
  EXPECT_EQ(ChangesSince(before), "");
  EXPECT_EQ(PendingRenameBytes(), pendingBefore);
  m_journal.ExpectCutStepsRefused();
}

}  // namespace
