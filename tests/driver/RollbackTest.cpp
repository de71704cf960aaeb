// All or nothing, on the shipped install list: a run stopped after any of
// its actions (as a failing action stops it), and a run killed at any step of
// its journal and followed by "ZorvakSetup.exe /REPAIR /S", leave the machine
// as it was; a second run while the first is alive is refused and leaves the
// journal alone; a successful install leaves no journal.
//
// The machine starts with what an earlier version could have left: the card
// keys with other values, types and a subkey, in both views, an uninstall
// entry whose DisplayIcon is a REG_EXPAND_SZ that the install overwrites, and
// a certificate of the card's provider that the install removes.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "MachineSnapshot.h"
#include "NyFileDelete.h"
#include "NyFileVersion.h"
#include "NyResult.h"
#include "NyRollback.h"
#include "PendingRenames.h"
#include "ScratchDir.h"
#include "SetupTestSupport.h"
#include "TestProcess.h"

namespace {

const wchar_t kProductCode[] = L"{A1111111-B897-4b94-A031-598EB296D75B}";
const wchar_t kCardKeys[] = L"SOFTWARE\\Microsoft\\Cryptography\\Calais\\SmartCards";
const wchar_t kPivKey[] = L"SOFTWARE\\Microsoft\\Cryptography\\Calais\\SmartCards\\Zorvak PIV Token";
const wchar_t kUninstallKey[] =
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{A1111111-B897-4b94-A031-598EB296D75B}";

const wchar_t kCardProvider[] = L"Microsoft Base Smart Card Crypto Provider";

std::wstring SetupPath() { return ExeDir() + NY_SETUP_RELPATH; }

// The user's MY store, or null.
HCERTSTORE OpenMyStore() {
  HCERTSTORE hStore = nullptr;
  const NyCrypt32* pCrypt = NyGetCrypt32();
  return pCrypt != nullptr && OpenSystemStoreByName(*pCrypt, L"MY", &hStore) == 0 ? hStore : nullptr;
}

// Adds the certificate to MY with key-provider information of the card's
// provider, or (bRemove) takes it out again.
bool PlantCardCertificate(bool bRemove) {
  const NyCrypt32* pCrypt = NyGetCrypt32();
  const std::string der = ReadTextFile(ExeDir() + L"..\\builtin\\certs\\rsa.cer");
  HCERTSTORE hStore = OpenMyStore();
  if (pCrypt == nullptr || hStore == nullptr || der.empty()) return false;
  PCCERT_CONTEXT pCert = pCrypt->pfnCreateCertificateContext(
      X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(der.data()), static_cast<DWORD>(der.size()));
  PCCERT_CONTEXT pHeld = nullptr;
  bool bDone = pCert != nullptr;
  if (bDone && bRemove) {
    pHeld = pCrypt->pfnFindCertificateInStore(hStore, X509_ASN_ENCODING, 0, CERT_FIND_EXISTING, pCert, nullptr);
    if (pHeld != nullptr) pCrypt->pfnDeleteCertificateFromStore(pHeld);
    pHeld = nullptr;
  } else if (bDone) {
    bDone = pCrypt->pfnAddCertificateContextToStore(hStore, pCert, CERT_STORE_ADD_REPLACE_EXISTING, &pHeld) != FALSE;
    CRYPT_KEY_PROV_INFO info{};
    info.pwszContainerName = const_cast<wchar_t*>(L"Zorvak card container");
    info.pwszProvName = const_cast<wchar_t*>(kCardProvider);
    info.dwProvType = PROV_RSA_FULL;
    info.dwKeySpec = AT_KEYEXCHANGE;
    bDone = bDone && pCrypt->pfnSetCertificateContextProperty(pHeld, CERT_KEY_PROV_INFO_PROP_ID, 0, &info);
  }
  if (pHeld != nullptr) pCrypt->pfnFreeCertificateContext(pHeld);
  if (pCert != nullptr) pCrypt->pfnFreeCertificateContext(pCert);
  pCrypt->pfnCloseStore(hStore, 0);
  return bDone;
}
std::wstring ShippedDriver() { return ExeDir() + L"ny_shipped_driver.exe"; }

std::wstring JournalFolder() {
  std::wstring folder;
  JournalFolderOf(kProductCode, &folder);
  return folder;
}

MachineSnapshot Snapshot() { return TakeMachineSnapshot({kCardKeys, kUninstallKey}); }

// What a test that failed part-way may have left behind.
void RemoveProductFiles() {
  const std::wstring windows = WindowsFolder();
  const CNyFsRedirectionOff redirection;
  for (const wchar_t* pwszFolder : {L"\\System32\\", L"\\SysWOW64\\"}) {
    for (const wchar_t* pwszFile : {L"ZorvakMiniDriver.dll", L"ZorvakMiniDriver.cfg"}) {
      DeleteFileW((windows + pwszFolder + pwszFile).c_str());
    }
  }
  wchar_t wsz[MAX_PATH] = {};
  SHGetFolderPathW(nullptr, IsOs64Bit() ? CSIDL_PROGRAM_FILESX86 : CSIDL_PROGRAM_FILES, nullptr, 0, wsz);
  DeleteDirectoryTree(std::wstring(wsz) + L"\\Zorvak", nullptr);
  SHGetFolderPathW(nullptr, CSIDL_COMMON_PROGRAMS, nullptr, 0, wsz);
  DeleteDirectoryTree(std::wstring(wsz) + L"\\Zorvak Smart Card Minidriver", nullptr);
}

class ShippedRollback : public testing::Test {
 protected:
  void SetUp() override {
    TearDown();
    const wchar_t szOldDll[] = L"OldMiniDriver.dll";
    const BYTE abOldAtr[] = {0x3B, 0xDB, 0x96};
    const wchar_t szProviders[] = L"Old CSP\0Old KSP\0";
    const DWORD dwOld = 9;
    for (BOOL b64 : {FALSE, TRUE}) {
      ASSERT_TRUE(SetTestRegistryValue(kPivKey, b64, L"80000001", REG_SZ, szOldDll, sizeof(szOldDll)));
      ASSERT_TRUE(SetTestRegistryValue(kPivKey, b64, L"ATR", REG_BINARY, abOldAtr, sizeof(abOldAtr)));
      ASSERT_TRUE(SetTestRegistryValue(kPivKey, b64, L"", REG_MULTI_SZ, szProviders, sizeof(szProviders)));
      ASSERT_TRUE(SetTestRegistryValue(std::wstring(kPivKey) + L"\\Old\\Deeper", b64, L"Level", REG_DWORD, &dwOld,
                                       sizeof(dwOld)));
    }
    const wchar_t szIcon[] = L"%ProgramFiles%\\Zorvak\\old.ico";
    ASSERT_TRUE(SetTestRegistryValue(kUninstallKey, FALSE, L"DisplayIcon", REG_EXPAND_SZ, szIcon, sizeof(szIcon)));
    ASSERT_TRUE(SetTestRegistryValue(kUninstallKey, FALSE, L"Comments", REG_SZ, L"kept", 10));
    ASSERT_TRUE(PlantCardCertificate(false));
    m_before = Snapshot();
  }
  void TearDown() override {
    RemoveProductFiles();
    for (BOOL b64 : {FALSE, TRUE}) {
      DeleteRegistryTree(HKEY_LOCAL_MACHINE, kPivKey, b64);
      DeleteRegistryTree(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Cryptography\\Calais\\SmartCards\\Zorvak ID Device",
                         b64);
      DeleteRegistryTree(HKEY_LOCAL_MACHINE, kUninstallKey, b64);
    }
    DeleteDirectoryTree(JournalFolder(), nullptr);
    PlantCardCertificate(true);
  }

  // The machine is as before the run, in every area the snapshot covers.
  void ExpectAsBefore(const std::string& when) {
    for (const SnapshotDifference& difference : CompareSnapshots(m_before, Snapshot())) {
      ADD_FAILURE() << when << ": not restored (" << AreaName(difference.area) << "): " << difference.text;
    }
    EXPECT_FALSE(PathExists(JournalFolder())) << when;
  }

  MachineSnapshot m_before;
};

// The callback of a run that stops after its k-th action, as a failing one
// would stop it.
struct StopAfter {
  static constexpr uint32_t kLast = 0xFFFFFFFF;
  explicit StopAfter(uint32_t u4After) : u4Stop(u4After) {}
  uint32_t u4Stop;
  uint32_t u4Total = 0;
  std::string name;
  static uint32_t Callback(CNySetupStatus* pStatus, void* pvSelf) {
    auto* pSelf = static_cast<StopAfter*>(pvSelf);
    if (pStatus->m_bRollingBack) return NY_PROGRESS_CONTINUE;
    pSelf->u4Total = pStatus->m_u4Total;
    if (pStatus->m_bDone && pStatus->m_u4Completed == std::min(pSelf->u4Stop, pStatus->m_u4Total)) {
      pSelf->name = pStatus->m_strActionName.GetAnsi();
      return NY_PROGRESS_ABORT;
    }
    return ActionFailureMayPass(pStatus->m_failure, pStatus->m_u4Result) ? NY_PROGRESS_CONTINUE : NY_PROGRESS_ABORT;
  }
};

TEST_F(ShippedRollback, ARunStoppedAfterAnyActionLeavesTheMachineAsItWas) {
  uint32_t u4Total = 1;
  for (uint32_t k = 1; k <= u4Total; ++k) {
    StopAfter stop(k);
    {
      TestSetupExec exec;
      ASSERT_TRUE(exec.HandleSetupResources(136, kScriptPath, FALSE));
      ASSERT_TRUE(exec.SetInstance(nullptr));
      EXPECT_FALSE(exec.RunActionList(StopAfter::Callback, &stop)) << k;
      EXPECT_EQ(exec.LastResult(), NY_E_ABORTED) << k;
      EXPECT_FALSE(exec.RollbackIncomplete()) << k;
      exec.Clear();
    }
    u4Total = stop.u4Total;
    ExpectAsBefore("stopped after action " + std::to_string(k) + " (" + stop.name + ")");
  }
  EXPECT_GT(u4Total, 20u);
}

TEST_F(ShippedRollback, ARunKilledAtAnyStepIsRolledBackByTheNextRun) {
  ScratchDir logs(L"ny_rollback_logs");
  for (uint32_t k = 1;; ++k) {
    ASSERT_LT(k, 200u) << "the run never finished";
    Process run(ShippedDriver(), L"--kill-after=" + std::to_wstring(k) + L" /S");
    const DWORD dwExit = run.Wait();
    // Fewer steps than k: the run finished and committed.
    if (dwExit == 0) break;
    ASSERT_EQ(dwExit, 99u) << k;
    ASSERT_TRUE(PathExists(JournalFolder() + L"\\journal")) << k;
    const std::wstring log = logs / (L"repair" + std::to_wstring(k) + L".log");
    Process repair(SetupPath(), L"/REPAIR /S \"/LOG=" + log + L"\"");
    EXPECT_EQ(repair.Wait(), 1603u) << "a repair has no list of its own";
    const std::string text = ReadTextFile(log);
    EXPECT_NE(text.find("found the journal of a run that ended without finishing it"), std::string::npos) << k;
    // The rollback's own records say which step could not be undone.
    const size_t rollback = text.find("rolling back");
    EXPECT_NE(text.find("rollback complete"), std::string::npos)
        << k << '\n' << text.substr(rollback == std::string::npos ? 0 : rollback);
    ExpectAsBefore("killed at step " + std::to_string(k));
  }
  EXPECT_FALSE(PathExists(JournalFolder())) << "the finished run left its journal";
}

TEST_F(ShippedRollback, ASecondRunWhileTheFirstIsAliveIsRefusedAndLeavesTheJournal) {
  Process first(ShippedDriver(), L"--hold-after=3 /S");
  ASSERT_TRUE(WaitFor("the run to hold at its third step", [&] {
    const CNyHandle held(OpenEventW(SYNCHRONIZE, FALSE, L"ZorvakSetupTestHeld"));
    return (held && WaitForSingleObject(held.Get(), 0) == WAIT_OBJECT_0) || first.HasEnded();
  }));
  ASSERT_FALSE(first.HasEnded());
  const std::wstring journal = JournalFolder() + L"\\journal";
  WIN32_FILE_ATTRIBUTE_DATA held{}, after{};
  ASSERT_TRUE(GetFileAttributesExW(journal.c_str(), GetFileExInfoStandard, &held));
  for (const wchar_t* pwszSwitches : {L"/S", L"/REPAIR /S"}) {
    Process second(SetupPath(), pwszSwitches);
    EXPECT_EQ(second.Wait(), 1618u) << std::string(pwszSwitches, pwszSwitches + wcslen(pwszSwitches));
  }
  {
    // A run in another session would get the instance: the journal, held
    // by its run, still says that the run is alive.
    TestSetupExec exec;
    ASSERT_TRUE(exec.HandleSetupResources(136, kScriptPath, TRUE));
    EXPECT_FALSE(exec.SetInstance(L"ZorvakSetupTest-another-session"));
  }
  ASSERT_TRUE(GetFileAttributesExW(journal.c_str(), GetFileExInfoStandard, &after));
  EXPECT_EQ(after.nFileSizeLow, held.nFileSizeLow);
  EXPECT_EQ(CompareFileTime(&after.ftLastWriteTime, &held.ftLastWriteTime), 0);

  TerminateProcess(first.Handle(), 1);
  first.Wait();
  Process recover(SetupPath(), L"/REPAIR /S");
  EXPECT_EQ(recover.Wait(), 1603u);
  ExpectAsBefore("held at step 3, then killed");
}

// An older driver that an earlier version left, held open by another process
// through the run: the new one can only wait for the restart. A failed run
// takes that back before it ends; a killed one leaves it to the restart,
// and the next run puts the old file back from the backup the restart made.
TEST_F(ShippedRollback, AnOlderDriverInUseIsTheOldFileAgainAfterAFailedRunAndAfterAKilledOneAndARestart) {
  const std::wstring driver =
      WindowsFolder() + (IsOs64Bit() ? L"\\SysWOW64" : L"\\System32") + L"\\ZorvakMiniDriver.dll";
  ASSERT_TRUE(CopyFileW((ExeDir() + L"..\\system\\ny_version_0_9.dll").c_str(), driver.c_str(), FALSE));
  m_before = Snapshot();
  const PendingRenamesGuard pending;
  const std::vector<BYTE> pendingBefore = PendingRenameBytes();
  auto holder = HoldFile(TestHelperExe(), driver);
  {
    StopAfter stop(StopAfter::kLast);
    TestSetupExec exec;
    ASSERT_TRUE(exec.HandleSetupResources(136, kScriptPath, FALSE));
    ASSERT_TRUE(exec.SetInstance(nullptr));
    EXPECT_FALSE(exec.RunActionList(StopAfter::Callback, &stop));
    EXPECT_FALSE(exec.RollbackIncomplete());
    exec.Clear();
  }
  EXPECT_EQ(PendingRenameBytes(), pendingBefore);
  ExpectAsBefore("failed with the old driver in use");

  Process run(ShippedDriver(), L"--kill-after=end /S");
  ASSERT_EQ(run.Wait(), 99u);
  TerminateProcess(holder->Handle(), 0);
  holder->Wait();
  Process restart(WindowsFolder() + L"\\System32\\wineboot.exe", L"-r");
  ASSERT_EQ(restart.Wait(), 0u);
  NyFileVersion version;
  ASSERT_EQ(GetFileVersionNumber(driver.c_str(), &version), 0u);
  EXPECT_EQ(version.au4Parts[0], 1u) << "the restart put the new driver in place";
  Process repair(SetupPath(), L"/REPAIR /S");
  EXPECT_EQ(repair.Wait(), 1603u);
  ExpectAsBefore("killed with the old driver in use, then restarted");
}

TEST_F(ShippedRollback, ASuccessfulInstallLeavesNoJournal) {
  ScratchDir logs(L"ny_rollback_success");
  Process install(SetupPath(), L"/S \"/LOG=" + (logs / L"install.log") + L"\"");
  ASSERT_EQ(install.Wait(), 0u);
  EXPECT_FALSE(PathExists(JournalFolder()));
  const std::string text = ReadTextFile(logs / L"install.log");
  EXPECT_EQ(text.find("rolling back"), std::string::npos);
  EXPECT_EQ(text.find("found the journal"), std::string::npos);
}

}  // namespace
