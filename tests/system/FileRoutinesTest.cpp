// File routines on real files under Wine: copies over read-only and locked
// targets, version comparison on real version resources, folder copies and
// deletions, and what is left for the next restart.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "NyFileCopy.h"
#include "NyFileDelete.h"
#include "NyFileUtil.h"
#include "NyFileVersion.h"
#include "NyHandle.h"
#include "NyHeldFiles.h"
#include "CaptureLogger.h"
#include "NyResult.h"
#include "PendingRenames.h"
#include "ScratchDir.h"
#include "TestProcess.h"

namespace {

class FileRoutines : public testing::Test {
 protected:
  // The tests add entries of their own files only; what was there before
  // is put back as it was.
  PendingRenamesGuard m_pending;
  // Holds a file open without sharing from another process. The polling
  // open below can meet the holder's own open, which then fails with a
  // sharing violation: such a holder is started again.
  std::unique_ptr<Process> Hold(const std::wstring& path) { return HoldFile(TestHelperExe(), path); }
  ScratchDir m_dir{L"ny_file_routines"};
};

TEST_F(FileRoutines, CopyRefusesBadArguments) {
  EXPECT_EQ(CopyFileReplacing(L"", m_dir / L"x", false, nullptr), NY_E_INVALID_PARAM);
  EXPECT_EQ(CopyFileReplacing(m_dir / L"missing", m_dir / L"x", false, nullptr), 2u);
  EXPECT_EQ(CopyFileReplacing(m_dir.Path(), m_dir / L"x", false, nullptr), NY_E_INVALID_PARAM);
  ASSERT_TRUE(WriteTextFile(m_dir / L"a.txt", "a"));
  EXPECT_EQ(CopyFileReplacing(m_dir / L"a.txt", m_dir.Path(), false, nullptr), NY_E_INVALID_PARAM);
  EXPECT_EQ(CopyFileReplacing(m_dir / L"a.txt", m_dir / L"no\\such\\folder.txt", false, nullptr), 3u);
}

TEST_F(FileRoutines, CopyReplacesReadOnlyTargetAtOnce) {
  ASSERT_TRUE(WriteTextFile(m_dir / L"new.txt", "new"));
  ASSERT_TRUE(WriteTextFile(m_dir / L"target.txt", "old and longer"));
  SetFileAttributesW((m_dir / L"target.txt").c_str(), FILE_ATTRIBUTE_READONLY);
  const std::vector<BYTE> pendingBefore = PendingRenameBytes();
  uint32_t bReboot = 7;
  EXPECT_EQ(CopyFileReplacing(m_dir / L"new.txt", m_dir / L"target.txt", false, &bReboot), 0u);
  EXPECT_EQ(ReadTextFile(m_dir / L"target.txt"), "new");
  EXPECT_EQ(bReboot, 0u);
  EXPECT_EQ(PendingRenameBytes(), pendingBefore);
}

TEST_F(FileRoutines, AFailedCopyLogsOneLineNamingTheTargetAndTheError) {
  ASSERT_TRUE(WriteTextFile(m_dir / L"new.txt", "new"));
  const std::wstring target = m_dir / L"missing folder\\target.txt";
  CaptureLogger log;
  EXPECT_EQ(CopyFileReplacing(m_dir / L"new.txt", target, false, nullptr), static_cast<uint32_t>(ERROR_PATH_NOT_FOUND));
  ASSERT_EQ(log.lines.size(), 1u);
  EXPECT_EQ(log.lines[0].u4Level, LOG_LEVEL_ERROR);
  EXPECT_EQ(log.lines[0].text, "CopyFileW failed for " + std::string(target.begin(), target.end()) + " (error 0x00000003)");
}

TEST_F(FileRoutines, CopyOverLockedTargetLeavesTheRestForRestart) {
  ASSERT_TRUE(WriteTextFile(m_dir / L"new.dll", "new"));
  ASSERT_TRUE(WriteTextFile(m_dir / L"in use.dll", "old"));
  auto holder = Hold(m_dir / L"in use.dll");
  ASSERT_FALSE(holder->HasEnded());
  uint32_t bReboot = 0;
  EXPECT_EQ(CopyFileReplacing(m_dir / L"new.dll", m_dir / L"in use.dll", false, &bReboot), 0u);
  EXPECT_EQ(bReboot, 1u);
  EXPECT_TRUE(NyIsRestartPending());
  const std::wstring discard = m_dir / L"in use.dll_Discard_1";
  if (ReadTextFile(m_dir / L"in use.dll") == "new") {
    // Renamed aside: the old file goes at restart.
    EXPECT_EQ(ReadTextFile(discard), "old");
    EXPECT_TRUE(PendingMentions(discard));
  } else {
    // Neither deleted nor renamed: the new file waits under the discard
    // name and takes the target's place at restart.
    EXPECT_EQ(ReadTextFile(discard), "new");
    EXPECT_TRUE(PendingMentions(discard));
    EXPECT_TRUE(PendingMentions(m_dir / L"in use.dll"));
  }
}

TEST_F(FileRoutines, CopyKeepsNewerVersionWhenAsked) {
  const std::wstring v19 = ExeDir() + L"ny_version_1_9.dll", v20 = ExeDir() + L"ny_version_2_0.dll";
  NyFileVersion version;
  ASSERT_EQ(GetFileVersionNumber(v20.c_str(), &version), 0u);
  EXPECT_EQ(version.au4Parts[0], 2u);
  EXPECT_EQ(version.au4Parts[1], 0u);
  ASSERT_EQ(GetFileVersionNumber(v19.c_str(), &version), 0u);
  EXPECT_EQ(version.au4Parts[1], 9u);
  EXPECT_NE(GetFileVersionNumber((m_dir / L"missing.dll").c_str(), &version), 0u);
  ASSERT_TRUE(WriteTextFile(m_dir / L"plain.txt", "no resource"));
  EXPECT_NE(GetFileVersionNumber((m_dir / L"plain.txt").c_str(), &version), 0u);

  const std::wstring target = m_dir / L"driver.dll";
  ASSERT_TRUE(CopyFileW(v20.c_str(), target.c_str(), FALSE));
  EXPECT_EQ(CopyFileReplacing(v19, target, true, nullptr), 0u);
  ASSERT_EQ(GetFileVersionNumber(target.c_str(), &version), 0u);
  EXPECT_EQ(version.au4Parts[0], 2u) << "an older source must not replace a newer file";
  EXPECT_EQ(CopyFileReplacing(v19, target, false, nullptr), 0u);
  ASSERT_EQ(GetFileVersionNumber(target.c_str(), &version), 0u);
  EXPECT_EQ(version.au4Parts[1], 9u);
  EXPECT_EQ(CopyFileReplacing(v20, target, true, nullptr), 0u);
  ASSERT_EQ(GetFileVersionNumber(target.c_str(), &version), 0u);
  EXPECT_EQ(version.au4Parts[0], 2u);
  // A target without a version resource is replaced.
  EXPECT_EQ(CopyFileReplacing(m_dir / L"plain.txt", target, true, nullptr), 0u);
  EXPECT_EQ(ReadTextFile(target), "no resource");
}

TEST_F(FileRoutines, FolderCopyTakesSubfoldersButNotDottedOnes) {
  const std::wstring src = m_dir / L"src";
  ASSERT_EQ(CreateDirectoryTree((src + L"\\sub\\deeper").c_str()), 0u);
  ASSERT_TRUE(WriteTextFile(src + L"\\top.txt", "top"));
  ASSERT_TRUE(WriteTextFile(src + L"\\sub\\deeper\\leaf.txt", "leaf"));
  EXPECT_EQ(NormalizeDirPath(L"C:/a\\\\b"), L"C:\\a\\b\\");
  const std::wstring dest = m_dir / L"dest";
  ASSERT_TRUE(CreateDirectoryW(dest.c_str(), nullptr));
  EXPECT_EQ(CopyDirectoryContents(src, dest), 0u);
  EXPECT_EQ(ReadTextFile(dest + L"\\top.txt"), "top");
  EXPECT_EQ(ReadTextFile(dest + L"\\sub\\deeper\\leaf.txt"), "leaf");

  // A folder whose name has a dot counts as a file path and is not created.
  ASSERT_EQ(CreateDirectoryTree((src + L"\\App 1.0\\f.txt").c_str()), 0u);
  ASSERT_TRUE(WriteTextFile(src + L"\\App 1.0\\f.txt", "f"));
  ASSERT_TRUE(CreateDirectoryW((m_dir / L"dest2").c_str(), nullptr));
  EXPECT_EQ(CopyDirectoryContents(src, m_dir / L"dest2"), 3u);

  EXPECT_EQ(CopyDirectoryContents(m_dir / L"missing", dest), 2u);
  EXPECT_EQ(CopyDirectoryContents(src + L"\\top.txt", dest), NY_E_INVALID_PARAM);
}

// A folder of the package whose files stayed in the package: each file's
// bytes come from the package (a held one's from its handle, never what
// else lies in the extraction folder), all with the time the package was
// opened; a target in use is replaced at restart; a dotted subfolder fails
// as in the copy from disk.
TEST_F(FileRoutines, APackageFolderIsCopiedFromThePackage) {
  struct Bytes : INyPackageBytes {
    uint32_t Read(uint32_t u4Offset, void* pv, uint32_t cb) const override {
      static const char kText[] = "topleafheld";
      if (u4Offset + cb > strlen(kText)) return ERROR_HANDLE_EOF;
      memcpy(pv, kText + u4Offset, cb);
      return 0;
    }
  };
  const std::wstring extract = m_dir / L"extract", src = extract + L"\\Pkg";
  ASSERT_EQ(CreateDirectoryTree((src + L"\\").c_str()), 0u);
  ASSERT_TRUE(WriteTextFile(src + L"\\held.txt", "held"));
  ASSERT_TRUE(WriteTextFile(src + L"\\planted.txt", "planted"));
  CNyHeldFiles& held = CNyHeldFiles::Instance();
  held.AddFolder(extract);
  held.Hold(src + L"\\held.txt", CNyFile(CreateFileW((src + L"\\held.txt").c_str(), GENERIC_READ, FILE_SHARE_READ,
                                                      nullptr, OPEN_EXISTING, 0, nullptr)));
  FILETIME ftBefore;
  GetSystemTimeAsFileTime(&ftBefore);
  const auto pBytes = std::make_shared<Bytes>();
  held.SetPackage({{src + L"\\top.txt", false, 0, 3},
                   {src + L"\\sub\\deeper\\leaf.txt", false, 3, 4},
                   {src + L"\\held.txt", false, 7, 4},
                   {src + L"\\empty", true, 0, 0}},
                  pBytes);
  const std::wstring dest = m_dir / L"dest";
  ASSERT_TRUE(CreateDirectoryW(dest.c_str(), nullptr));
  EXPECT_EQ(CopyDirectoryContents(src + L"\\", dest), 0u);
  EXPECT_EQ(ReadTextFile(dest + L"\\top.txt"), "top");
  EXPECT_EQ(ReadTextFile(dest + L"\\sub\\deeper\\leaf.txt"), "leaf");
  EXPECT_EQ(ReadTextFile(dest + L"\\held.txt"), "held");
  EXPECT_NE(GetFileAttributesW((dest + L"\\empty").c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetFileAttributesW((dest + L"\\planted.txt").c_str()), INVALID_FILE_ATTRIBUTES);
  WIN32_FILE_ATTRIBUTE_DATA top, leaf;
  ASSERT_TRUE(GetFileAttributesExW((dest + L"\\top.txt").c_str(), GetFileExInfoStandard, &top));
  ASSERT_TRUE(GetFileAttributesExW((dest + L"\\sub\\deeper\\leaf.txt").c_str(), GetFileExInfoStandard, &leaf));
  EXPECT_EQ(CompareFileTime(&top.ftLastWriteTime, &leaf.ftLastWriteTime), 0);
  EXPECT_GE(CompareFileTime(&top.ftLastWriteTime, &ftBefore), 0);

  ASSERT_TRUE(WriteTextFile(dest + L"\\top.txt", "old"));
  {
    auto holder = Hold(dest + L"\\top.txt");
    uint32_t bReboot = 0;
    EXPECT_EQ(CopyFileReplacing(src + L"\\top.txt", dest + L"\\top.txt", false, &bReboot), 0u);
    EXPECT_EQ(bReboot, 1u);
    const bool bRenamedAside = ReadTextFile(dest + L"\\top.txt") == "top";
    EXPECT_EQ(ReadTextFile(dest + L"\\top.txt_Discard_1"), bRenamedAside ? "old" : "top");
  }

  held.SetPackage({{src + L"\\App 1.0\\f.txt", false, 0, 3}}, pBytes);
  ASSERT_TRUE(CreateDirectoryW((m_dir / L"dest2").c_str(), nullptr));
  EXPECT_EQ(CopyDirectoryContents(src, m_dir / L"dest2"), 3u);
  held.ReleaseFolder(extract);
}

TEST_F(FileRoutines, DeleteFileOrScheduleCases) {
  EXPECT_EQ(DeleteFileOrSchedule(L"C:\\", nullptr), NY_E_INVALID_PARAM);
  EXPECT_EQ(DeleteFileOrSchedule(m_dir.Path(), nullptr), NY_E_INVALID_PARAM);
  EXPECT_EQ(DeleteFileOrSchedule(m_dir / L"missing.txt", nullptr), 0u);
  ASSERT_TRUE(WriteTextFile(m_dir / L"ro.txt", "x"));
  SetFileAttributesW((m_dir / L"ro.txt").c_str(), FILE_ATTRIBUTE_READONLY);
  uint32_t bReboot = 1;
  EXPECT_EQ(DeleteFileOrSchedule(m_dir / L"ro.txt", &bReboot), 0u);
  EXPECT_FALSE(PathExists(m_dir / L"ro.txt"));
  EXPECT_EQ(bReboot, 0u);

  ASSERT_TRUE(WriteTextFile(m_dir / L"locked.txt", "x"));
  auto holder = Hold(m_dir / L"locked.txt");
  const size_t cEntriesBefore = PendingRenames().size();
  EXPECT_EQ(DeleteFileOrSchedule(m_dir / L"locked.txt", &bReboot), 0u);
  EXPECT_EQ(bReboot, 1u);
  EXPECT_GT(PendingRenames().size(), cEntriesBefore);
}

TEST_F(FileRoutines, StagedReplacementsOfADeletedFileAreTakenBack) {
  const std::wstring target = m_dir / L"product.dll";
  ASSERT_TRUE(WriteTextFile(m_dir / L"new.dll", "new"));
  ASSERT_TRUE(WriteTextFile(target, "old"));
  uint32_t bReboot = 0;
  {
    auto holder = Hold(target);
    ASSERT_EQ(CopyFileReplacing(m_dir / L"new.dll", target, false, &bReboot), 0u);
    ASSERT_EQ(bReboot, 1u);
    ASSERT_TRUE(PendingRestores(target));
    TerminateProcess(holder->Handle(), 0);
    holder->Wait();
  }
  ASSERT_TRUE(WriteTextFile(target + L"_Discard_7", "older"));
  auto holder = Hold(target + L"_Discard_7");
  ASSERT_EQ(DeleteFileOrSchedule(target, &bReboot), 0u);
  EXPECT_EQ(CancelStagedReplacements(target, &bReboot), 0u);
  // The held copy can only go at the restart; nothing will bring the file back.
  EXPECT_EQ(bReboot, 1u);
  EXPECT_FALSE(PathExists(target + L"_Discard_1"));
  EXPECT_FALSE(PendingRestores(target));
}

TEST_F(FileRoutines, AStagedReplacementIsFoundHoweverTheDeletionWritesItsPath) {
  const std::wstring target = m_dir / L"sub\\product.dll";
  ASSERT_TRUE(CreateDirectoryW((m_dir / L"sub").c_str(), nullptr));
  ASSERT_TRUE(WriteTextFile(m_dir / L"new.dll", "new"));
  ASSERT_TRUE(WriteTextFile(target, "old"));
  uint32_t bReboot = 0;
  {
    auto holder = Hold(target);
    ASSERT_EQ(CopyFileReplacing(m_dir / L"new.dll", target, false, &bReboot), 0u);
    ASSERT_TRUE(PendingRestores(target));
    TerminateProcess(holder->Handle(), 0);
    holder->Wait();
  }
  // As a script may write it: '/', a doubled separator and a ".." part.
  const std::wstring written = m_dir.Path() + L"/sub\\\\..\\sub/product.dll";
  EXPECT_EQ(DeleteFileOrSchedule(written, &bReboot), 0u);
  EXPECT_EQ(CancelStagedReplacements(written, &bReboot), 0u);
  EXPECT_FALSE(PathExists(target));
  EXPECT_FALSE(PathExists(target + L"_Discard_1"));
  EXPECT_FALSE(PendingRestores(target));
}

TEST_F(FileRoutines, DeleteDirectoryTreeRemovesEverything) {
  const std::wstring root = m_dir / L"tree";
  ASSERT_EQ(CreateDirectoryTree((root + L"\\a\\b\\c").c_str()), 0u);
  ASSERT_TRUE(WriteTextFile(root + L"\\a\\b\\c\\f.txt", "f"));
  ASSERT_TRUE(WriteTextFile(root + L"\\a\\g.txt", "g"));
  SetFileAttributesW((root + L"\\a\\g.txt").c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
  uint32_t bReboot = 1;
  EXPECT_EQ(DeleteDirectoryTree(root, &bReboot), 0u);
  EXPECT_FALSE(PathExists(root));
  EXPECT_EQ(bReboot, 0u);
  EXPECT_EQ(DeleteDirectoryTree(root, &bReboot), 0u);
}

}  // namespace
