// The journal on the disk: what a run that died wrote is undone by the next
// run, the last step first, from the last whole step; a committed journal is
// finished, not rolled back; a journal still held is left alone; and its
// folder is the Administrators' alone.
#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "CaptureLogger.h"
#include "NyFileDelete.h"
#include "NyResult.h"
#include "NyRollback.h"
#include "ScratchDir.h"

namespace {

const wchar_t kCode[] = L"{ZorvakJournalTest}";

struct Calls {
  std::vector<std::wstring> undone, committed;
} g_calls;

// A step names itself; the one named "fails" cannot be undone.
uint32_t UndoNamed(CNyUndoReader* pStep, std::wstring* pObject) {
  if (!pStep->ReadText(pObject)) return NY_E_INVALID_DATA;
  g_calls.undone.push_back(*pObject);
  return *pObject == L"fails" ? ERROR_ACCESS_DENIED : 0;
}

uint32_t CommitNamed(CNyUndoReader* pStep) {
  std::wstring name;
  if (!pStep->ReadText(&name)) return NY_E_INVALID_DATA;
  g_calls.committed.push_back(name);
  return 0;
}

const CNyUndoRegistration kNamed({NyUndoKindTag("TNAM"), UndoNamed, nullptr});
const CNyUndoRegistration kKept({NyUndoKindTag("TKPT"), UndoNamed, CommitNamed});

CNyUndoStep Named(const wchar_t* pwszName, const char (&kind)[5] = "TNAM") {
  CNyUndoStep step(NyUndoKindTag(kind));
  step.AddText(pwszName);
  return step;
}

std::wstring Folder() {
  std::wstring folder;
  JournalFolderOf(kCode, &folder);
  return folder;
}

std::vector<std::wstring> Names(std::initializer_list<const wchar_t*> names) {
  return std::vector<std::wstring>(names.begin(), names.end());
}

bool IsWine() { return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr; }

class Journal : public testing::Test {
 protected:
  void SetUp() override { TearDown(); }
  void TearDown() override {
    g_calls = Calls();
    const std::wstring folder = Folder();
    DeleteDirectoryTree(folder, nullptr);
    DeleteFileW(folder.c_str());
    RemoveDirectoryW(folder.c_str());
    WIN32_FIND_DATAW fd;
    const std::wstring parent = folder.substr(0, folder.rfind(L'\\') + 1);
    const CNyFind find(FindFirstFileW((folder + L".untrusted-*").c_str(), &fd));
    for (bool bMore = find.IsValid(); bMore; bMore = FindNextFileW(find.Get(), &fd) != FALSE) {
      DeleteDirectoryTree(parent + fd.cFileName, nullptr);
      DeleteFileW((parent + fd.cFileName).c_str());
    }
  }
};

// Died part-way through its rollback ("e" undone), with a step torn by a
// power loss after it: the next run undoes the whole steps left, the last
// first, and one that fails, or that this program does not know, does not
// stop the others.
TEST_F(Journal, ARunThatDiedIsUndoneLastFirstFromItsLastWholeStep) {
  {
    CNyJournalFile journal;
    ASSERT_EQ(journal.Create(kCode), 0u);
    journal.SetAction(1);
    ASSERT_EQ(journal.Record(Named(L"a")), 0u);
    journal.SetAction(2);
    ASSERT_EQ(journal.Note(Named(L"b")), 0u);
    ASSERT_EQ(journal.Record(Named(L"fails")), 0u);
    ASSERT_EQ(journal.Record(Named(L"of another build", "ZZZZ")), 0u);
    ASSERT_EQ(journal.Record(Named(L"d")), 0u);
    ASSERT_EQ(journal.Record(Named(L"e")), 0u);
    ASSERT_EQ(journal.CutFrom(5), 0u);
  }  // the process dies: nothing removes the journal
  std::vector<uint8_t> torn;
  EncodeJournalStep(NyUndoKindTag("TNAM"), 3, Named(L"torn").Payload(), &torn);
  CNyFile file(CreateFileW((Folder() + L"\\journal").c_str(), FILE_APPEND_DATA, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  DWORD cb = 0;
  ASSERT_TRUE(file && WriteFile(file.Get(), torn.data(), DWORD(torn.size() - 3), &cb, nullptr));
  file.Reset();

  CaptureLogger log;
  EXPECT_EQ(RecoverInterruptedRun(kCode), NY_E_INVALID_DATA);
  EXPECT_EQ(g_calls.undone, Names({L"d", L"fails", L"b", L"a"}));
  EXPECT_FALSE(PathExists(Folder()));
  EXPECT_TRUE(log.Contains("found the journal of a run that ended without finishing it: process " +
                           std::to_string(GetCurrentProcessId())));
  EXPECT_TRUE(log.Contains("rolling back 2 actions"));
  EXPECT_TRUE(log.Contains("rolled back (action 2): d"));
  EXPECT_TRUE(log.Contains("not rolled back (action 2): fails (0x00000005)"));
  EXPECT_TRUE(log.Contains("a step of the kind \"ZZZZ\", which this program cannot undo"));
  EXPECT_TRUE(log.Contains("rollback incomplete: 2 of 5 steps could not be undone"));
  // Nothing is left for the next run.
  g_calls = Calls();
  EXPECT_EQ(RecoverInterruptedRun(kCode), 0u);
  EXPECT_TRUE(g_calls.undone.empty());
}

TEST_F(Journal, ACommitLetsGoOfWhatWasKeptAndADiedCommitIsFinished) {
  {
    CNyJournalFile journal;
    ASSERT_EQ(journal.Create(kCode), 0u);
    ASSERT_EQ(journal.Record(Named(L"kept", "TKPT")), 0u);
    ASSERT_EQ(journal.Record(Named(L"plain")), 0u);
    ASSERT_EQ(CommitJournal(&journal), 0u);
  }
  EXPECT_EQ(g_calls.committed, Names({L"kept"}));
  EXPECT_TRUE(g_calls.undone.empty());
  EXPECT_FALSE(PathExists(Folder()));
  g_calls = Calls();
  {
    // Died after the mark, before the kinds were done with.
    CNyJournalFile journal;
    ASSERT_EQ(journal.Create(kCode), 0u);
    ASSERT_EQ(journal.Record(Named(L"kept again", "TKPT")), 0u);
    ASSERT_EQ(journal.Record(CNyUndoStep(NY_UNDO_KIND_COMMIT)), 0u);
  }
  EXPECT_EQ(RecoverInterruptedRun(kCode), 0u);
  EXPECT_EQ(g_calls.committed, Names({L"kept again"}));
  EXPECT_TRUE(g_calls.undone.empty());
  EXPECT_FALSE(PathExists(Folder()));
}

TEST_F(Journal, AJournalItsRunStillHoldsIsLeftAloneAndNotReplaced) {
  CNyJournalFile journal;
  ASSERT_EQ(journal.Create(kCode), 0u);
  ASSERT_EQ(journal.Record(Named(L"alive")), 0u);
  EXPECT_EQ(RecoverInterruptedRun(kCode), static_cast<uint32_t>(ERROR_INSTALL_ALREADY_RUNNING));
  EXPECT_TRUE(g_calls.undone.empty());
  // Nor does a new run start over it.
  CNyJournalFile second;
  EXPECT_EQ(second.Create(kCode), static_cast<uint32_t>(ERROR_FILE_EXISTS));
  EXPECT_EQ(RollBackJournal(&journal, nullptr, nullptr), 0u);
  EXPECT_EQ(g_calls.undone, Names({L"alive"}));
  EXPECT_FALSE(PathExists(Folder()));
}

TEST_F(Journal, TheFolderIsTheAdministratorsAloneAndNoOtherIsTrusted) {
  CNyLocalMemory built;
  ASSERT_EQ(BuildJournalFolderSecurity(&built), 0u);
  EXPECT_TRUE(IsJournalFolderSecurity(built.Get()));
  // What a user who is not elevated can make is refused.
  for (const wchar_t* pwszSddl : {L"O:BUD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)", L"O:BAD:(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)",
                                  L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;;FR;;;BU)", L"O:BAD:NO_ACCESS_CONTROL"}) {
    CNyLocalMemory planted;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(
        pwszSddl, SDDL_REVISION_1, reinterpret_cast<PSECURITY_DESCRIPTOR*>(planted.Put()), nullptr));
    EXPECT_FALSE(IsJournalFolderSecurity(planted.Get())) << std::string(pwszSddl, pwszSddl + wcslen(pwszSddl));
  }

  // A file where the folder belongs is moved aside, and the folder made.
  ASSERT_TRUE(WriteTextFile(Folder(), "planted"));
  {
    CaptureLogger log;
    CNyJournalFile journal;
    ASSERT_EQ(journal.Create(kCode), 0u);
    EXPECT_TRUE(log.Contains("was not made by this program: moved aside to"));
    ASSERT_EQ(journal.Record(Named(L"x")), 0u);
    // Wine keeps no security descriptors of files (it makes one up from the
    // file's mode): there the descriptor the folder is made with stands in.
    CNyLocalMemory read;
    PSECURITY_DESCRIPTOR pSd = built.Get();
    if (!IsWine()) {
      ASSERT_EQ(GetNamedSecurityInfoW(Folder().c_str(), SE_FILE_OBJECT,
                                      OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, nullptr, nullptr,
                                      nullptr, nullptr, reinterpret_cast<PSECURITY_DESCRIPTOR*>(read.Put())),
                static_cast<DWORD>(ERROR_SUCCESS));
      pSd = read.Get();
    }
    CNyLocalMemory sddl;
    ASSERT_TRUE(ConvertSecurityDescriptorToStringSecurityDescriptorW(
        pSd, SDDL_REVISION_1, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
        reinterpret_cast<LPWSTR*>(sddl.Put()), nullptr));
    EXPECT_STREQ(static_cast<const wchar_t*>(sddl.Get()), L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)");
    EXPECT_EQ(RollBackJournal(&journal, nullptr, nullptr), 0u);
  }
}

}  // namespace
