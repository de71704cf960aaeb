// Process routines on real processes: ending them by program file or by
// id, starting programs through the shell, and never starting a system
// program by its bare name.
#include <windows.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "NyProcessUtil.h"
#include "NyResult.h"
#include "ScratchDir.h"
#include "TestProcess.h"

namespace {

class ProcessRoutines : public testing::Test {
 protected:
  void SetUp() override {
    // Two copies of the helper under other names, one of them twice.
    ASSERT_TRUE(CreateDirectoryW((m_dir / L"other").c_str(), nullptr));
    m_sleeper = m_dir / L"ny_sleeper.exe";
    m_otherSleeper = m_dir / L"other\\ny_sleeper.exe";
    ASSERT_TRUE(CopyFileW(TestHelperExe().c_str(), m_sleeper.c_str(), FALSE));
    ASSERT_TRUE(CopyFileW(TestHelperExe().c_str(), m_otherSleeper.c_str(), FALSE));
  }
  ScratchDir m_dir{L"ny_process_routines"};
  std::wstring m_sleeper, m_otherSleeper;
};

TEST_F(ProcessRoutines, BareNameEndsEveryCopyFullPathOnlyItsOwn) {
  Process a(m_sleeper, L"sleep"), b(m_sleeper, L"sleep"), c(m_otherSleeper, L"sleep");
  // Upper case: the match ignores case.
  std::wstring upper = m_otherSleeper;
  CharUpperW(&upper[0]);
  EXPECT_EQ(KillProcessesByImage(upper.c_str()), 0u);
  EXPECT_EQ(c.Wait(), 0u);
  EXPECT_FALSE(a.HasEnded());
  EXPECT_FALSE(b.HasEnded());

  // A trailing backslash makes the name match nothing.
  EXPECT_EQ(KillProcessesByImage(L"ny_sleeper.exe\\"), 0u);
  EXPECT_FALSE(a.HasEnded());

  EXPECT_EQ(KillProcessesByImage(L"NY_SLEEPER.EXE"), 0u);
  EXPECT_EQ(a.Wait(), 0u);
  EXPECT_EQ(b.Wait(), 0u);

  EXPECT_EQ(KillProcessesByImage(L"ny_no_such_program.exe"), 0u);
  EXPECT_EQ(KillProcessesByImage(L""), NY_E_INVALID_PARAM);
  EXPECT_EQ(KillProcessesByImage((m_dir / L"ZorvakMiniDriver.dll").c_str()), 0u);
}

TEST_F(ProcessRoutines, KillByIdEndsTheProcess) {
  Process a(m_sleeper, L"sleep");
  EXPECT_TRUE(KillProcessById(a.Pid()));
  EXPECT_EQ(a.Wait(), 0u);
  EXPECT_FALSE(KillProcessById(0xFFFFFFF0));
}

TEST_F(ProcessRoutines, ShellStartWaitsOrNotAsTold) {
  const std::wstring marker = m_dir / L"started.txt";
  EXPECT_EQ(RunShellCommand(m_sleeper.c_str(), (L"marker \"" + marker + L"\"").c_str(), TRUE, INFINITE), 0u);
  EXPECT_TRUE(PathExists(marker));
  // Not waiting: the call returns while the program still runs.
  EXPECT_EQ(RunShellCommand(m_sleeper.c_str(), L"sleep", TRUE, 0), 0u);
  EXPECT_EQ(KillProcessesByImage(m_sleeper.c_str()), 0u);
  EXPECT_EQ(RunShellCommand((m_dir / L"missing.exe").c_str(), L"", TRUE, 0), 2u);
}

TEST_F(ProcessRoutines, PlantedTaskkillInTheCurrentFolderIsNeverStarted) {
  ASSERT_TRUE(CopyFileW(TestHelperExe().c_str(), (m_dir / L"taskkill.exe").c_str(), FALSE));
  wchar_t wszOld[MAX_PATH] = {};
  GetCurrentDirectoryW(MAX_PATH, wszOld);
  ASSERT_TRUE(SetCurrentDirectoryW(m_dir.Path().c_str()));
  Process victim(m_sleeper, L"sleep");
  wchar_t wszSystem[MAX_PATH] = {};
  GetSystemDirectoryW(wszSystem, MAX_PATH);
  EXPECT_EQ(SystemProgramPath(L"taskkill.exe"), std::wstring(wszSystem) + L"\\taskkill.exe");
  EXPECT_TRUE(ForceKillProcess(victim.Pid()));
  victim.Wait();
  SetCurrentDirectoryW(wszOld);
  EXPECT_FALSE(PathExists(m_dir / L"ny_helper_ran.txt")) << "the planted taskkill.exe ran";
}

}  // namespace
