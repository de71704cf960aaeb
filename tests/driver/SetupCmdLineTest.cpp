// The run mode and the silent flag from the switches and the program's name.
// Names that make an uninstall launcher start a copy of themselves are
// covered by the process tests.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "SetupTestSupport.h"

namespace {

struct Outcome {
  int32_t nMode;
  uint32_t bSilent;
  uint32_t bExit;
};

Outcome Parse(std::vector<std::wstring> args, const std::wstring& module = L"C:\\Downloads\\ZorvakSetup.exe") {
  TestSetupExec exec;
  args.insert(args.begin(), module);
  std::vector<wchar_t*> argv;
  for (std::wstring& arg : args) argv.push_back(&arg[0]);
  uint32_t bExit = 7;
  EXPECT_TRUE(exec.HandleArguments(static_cast<int>(argv.size()), argv.data(), module, &bExit));
  EXPECT_EQ(exec.SetupInfo().m_nSetupMode, exec.GetSetupMode());
  EXPECT_EQ(exec.SetupInfo().m_bSilent, exec.IsSilent());
  return {exec.GetSetupMode(), exec.IsSilent(), bExit};
}

TEST(SetupCmdLine, ModeAndSilentFlagFromSwitches) {
  struct Case {
    std::vector<std::wstring> args;
    int32_t nMode;
    uint32_t bSilent;
  } cases[] = {
      {{}, SETUP_MODE_INSTALL, 0},
      {{L"/S"}, SETUP_MODE_INSTALL, 1},
      {{L"/silent"}, SETUP_MODE_INSTALL, 1},
      {{L"-s"}, SETUP_MODE_INSTALL, 1},
      {{L"/S", L"/UNINSTALL"}, SETUP_MODE_UNINSTALL, 1},
      {{L"/UNINSTALL", L"-S"}, SETUP_MODE_UNINSTALL, 1},
      {{L"/uninstall_copy"}, SETUP_MODE_UNINSTALL, 0},
      {{L"/REPAIR", L"/UNINSTALL"}, SETUP_MODE_REPAIR, 0},
      {{L"/Upgrade"}, SETUP_MODE_UPGRADE, 0},
      {{L"/UNINSTALLX"}, SETUP_MODE_INSTALL, 0},
      {{L"S"}, SETUP_MODE_INSTALL, 0},
      {{L"/S /UNINSTALL"}, SETUP_MODE_INSTALL, 0},
  };
  for (const Case& c : cases) {
    const Outcome outcome = Parse(c.args);
    std::wstring joined;
    for (const auto& a : c.args) joined += a + L" ";
    EXPECT_EQ(outcome.nMode, c.nMode) << std::string(joined.begin(), joined.end());
    EXPECT_EQ(outcome.bSilent, c.bSilent) << std::string(joined.begin(), joined.end());
    EXPECT_EQ(outcome.bExit, 0u);
  }
}

TEST(SetupCmdLine, AModeSwitchOverridesTheUninstallerName) {
  const Outcome outcome = Parse({L"/UNINSTALL"}, L"C:\\Program Files\\Zorvak\\MiniDriver\\Uninstall.exe");
  EXPECT_EQ(outcome.nMode, SETUP_MODE_UNINSTALL);
  EXPECT_EQ(outcome.bExit, 0u);
  // Only the file name counts, not the folders above it.
  EXPECT_EQ(Parse({}, L"C:\\uninstall.exe\\ZorvakSetup.exe").nMode, SETUP_MODE_INSTALL);
}

}  // namespace
