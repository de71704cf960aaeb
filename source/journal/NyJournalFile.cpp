#include "NyJournalFile.h"

#include <aclapi.h>
#include <sddl.h>
#include <shlobj.h>

#include <algorithm>

#include "NyFileUtil.h"
#include "NyFreshName.h"
#include "NyLog.h"
#include "NyResult.h"

namespace {

constexpr wchar_t kFolderSuffix[] = L".rollback";
constexpr wchar_t kFileName[] = L"\\journal";
// Far more than the steps of any script: a larger file is no journal.
constexpr LONGLONG kMaxJournalBytes = 256ll << 20;

// The folder itself, never what a link in its place points to. Without
// delete sharing: while it is held, nobody can rename or replace it.
CNyFile OpenFolder(const std::wstring& folder) {
  return CNyFile(CreateFileW(folder.c_str(), READ_CONTROL | FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                             nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                             nullptr));
}

bool HasJournalFolderSecurity(HANDLE hFolder) {
  CNyLocalMemory descriptor;
  return GetSecurityInfo(hFolder, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, nullptr,
                         nullptr, nullptr, nullptr, reinterpret_cast<PSECURITY_DESCRIPTOR*>(descriptor.Put())) ==
             ERROR_SUCCESS &&
         IsJournalFolderSecurity(descriptor.Get());
}

// Whether the file system under parent keeps the security a folder is made
// with. Windows does; Wine makes a descriptor up from the file's mode
// instead (and has no users to keep apart): there a folder's security
// tells nothing, and only the test for a link is left. Asked once, with a
// folder of its own, only when a folder's security was not the expected.
bool FileSystemKeepsSecurity(const std::wstring& parent) {
  static const bool s_bKeeps = [&parent] {
    CNyLocalMemory descriptor;
    if (BuildJournalFolderSecurity(&descriptor) != 0) return true;
    SECURITY_ATTRIBUTES sa{sizeof(sa), descriptor.Get(), FALSE};
    std::wstring probe;
    if (CreateFreshFolder(parent, L"NySecurityProbe_%08X", &probe, &sa) != 0) return true;
    bool bKept = true;
    {
      const CNyFile handle(OpenFolder(probe));
      bKept = !handle || HasJournalFolderSecurity(handle.Get());
    }
    RemoveDirectoryW(probe.c_str());
    if (!bKept) NYLOGW(LOG_LEVEL_TRACE, L"the file system under %s keeps no security of its own", parent.c_str());
    return bKept;
  }();
  return s_bKeeps;
}

// A folder this program made: a folder, not a link, with the security a run
// gives it (where the file system keeps security at all).
bool IsTrustedFolder(HANDLE hFolder, const std::wstring& folder) {
  BY_HANDLE_FILE_INFORMATION info{};
  if (!GetFileInformationByHandle(hFolder, &info) || (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 ||
      (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    return false;
  }
  return HasJournalFolderSecurity(hFolder) || !FileSystemKeepsSecurity(folder.substr(0, folder.rfind(L'\\') + 1));
}

bool IsNotFound(DWORD dwError) { return dwError == ERROR_FILE_NOT_FOUND || dwError == ERROR_PATH_NOT_FOUND; }

}  // namespace

uint32_t JournalFolderOf(const std::wstring& productCode, std::wstring* pFolder) {
  bool bUsable = !productCode.empty() && productCode.size() <= 100 && productCode != L"." && productCode != L"..";
  for (wchar_t ch : productCode) bUsable = bUsable && ch >= 0x20 && wcschr(L"\\/:*?\"<>|", ch) == nullptr;
  if (!bUsable) return NYFAIL(NY_E_INVALID_PARAM, "name the journal folder after", productCode.c_str());
  wchar_t wszAppData[MAX_PATH] = {};
  const HRESULT hr = SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, wszAppData);
  if (FAILED(hr)) return NYFAIL(static_cast<uint32_t>(hr), "SHGetFolderPathW", L"CSIDL_COMMON_APPDATA");
  *pFolder = std::wstring(wszAppData) + L"\\" + productCode + kFolderSuffix;
  return 0;
}

uint32_t BuildJournalFolderSecurity(CNyLocalMemory* pDescriptor) {
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(
          L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)", SDDL_REVISION_1,
          reinterpret_cast<PSECURITY_DESCRIPTOR*>(pDescriptor->Put()), nullptr)) {
    return NYFAIL(GetLastError(), "build the security of", "the journal folder");
  }
  return 0;
}

bool IsJournalFolderSecurity(PSECURITY_DESCRIPTOR pDescriptor) {
  PSID pOwner = nullptr;
  BOOL bDefaulted = FALSE, bPresent = FALSE;
  PACL pDacl = nullptr;
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD dwRevision = 0;
  if (pDescriptor == nullptr || !GetSecurityDescriptorOwner(pDescriptor, &pOwner, &bDefaulted) ||
      !GetSecurityDescriptorDacl(pDescriptor, &bPresent, &pDacl, &bDefaulted) ||
      !GetSecurityDescriptorControl(pDescriptor, &control, &dwRevision)) {
    return false;
  }
  const auto isAdmin = [](PSID pSid) {
    return pSid != nullptr && (IsWellKnownSid(pSid, WinLocalSystemSid) || IsWellKnownSid(pSid, WinBuiltinAdministratorsSid));
  };
  // A null DACL grants everybody everything.
  if (!isAdmin(pOwner) || !bPresent || pDacl == nullptr || (control & SE_DACL_PROTECTED) == 0) return false;
  for (WORD i = 0; i < pDacl->AceCount; ++i) {
    ACCESS_ALLOWED_ACE* pAce = nullptr;
    if (!GetAce(pDacl, i, reinterpret_cast<void**>(&pAce)) || pAce->Header.AceType != ACCESS_ALLOWED_ACE_TYPE ||
        !isAdmin(&pAce->SidStart)) {
      return false;
    }
  }
  return true;
}

uint32_t CNyJournalFile::PrepareFolder(bool bCreate, bool* pbFound) {
  *pbFound = false;
  m_folderHandle = OpenFolder(m_folder);
  if (m_folderHandle) {
    if (IsTrustedFolder(m_folderHandle.Get(), m_folder)) {
      *pbFound = true;
      return 0;
    }
    m_folderHandle.Reset();
    std::wstring aside;
    const uint32_t u4Result = MoveToFreshName(m_folder, L".untrusted-%08X", &aside);
    if (u4Result != 0) return NYFAIL(u4Result, "MoveFileExW (a journal folder this program did not make)", m_folder.c_str());
    NYLOGW(LOG_LEVEL_OUTCOME, L"%s was not made by this program: moved aside to %s, nothing in it is read",
           m_folder.c_str(), aside.c_str());
  } else if (!IsNotFound(GetLastError())) {
    return NYFAIL(GetLastError(), "CreateFileW", m_folder.c_str());
  }
  if (!bCreate) return 0;
  CNyLocalMemory descriptor;
  const uint32_t u4Result = BuildJournalFolderSecurity(&descriptor);
  if (u4Result != 0) return u4Result;
  SECURITY_ATTRIBUTES sa{sizeof(sa), descriptor.Get(), FALSE};
  // A folder that appeared since it was looked for is not taken either.
  if (!CreateDirectoryW(m_folder.c_str(), &sa)) return NYFAIL(GetLastError(), "CreateDirectoryW", m_folder.c_str());
  m_folderHandle = OpenFolder(m_folder);
  if (!m_folderHandle) return NYFAIL(GetLastError(), "CreateFileW", m_folder.c_str());
  return 0;
}

uint32_t CNyJournalFile::Create(const std::wstring& productCode) {
  m_entries.clear();
  uint32_t u4Result = JournalFolderOf(productCode, &m_folder);
  bool bFound = false;
  if (u4Result == 0) u4Result = PrepareFolder(true, &bFound);
  if (u4Result != 0) return u4Result;
  m_path = m_folder + kFileName;
  m_file.Reset(CreateFileW(m_path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                           nullptr));
  if (!m_file) {
    u4Result = NYFAIL(GetLastError(), "CreateFileW", m_path.c_str());
    m_folderHandle.Reset();
    return u4Result;
  }
  m_header.u4ProcessId = GetCurrentProcessId();
  FILETIME ftCreated{}, ftExit{}, ftKernel{}, ftUser{}, ftNow{};
  GetProcessTimes(GetCurrentProcess(), &ftCreated, &ftExit, &ftKernel, &ftUser);
  GetSystemTimeAsFileTime(&ftNow);
  m_header.u8ProcessCreated = static_cast<uint64_t>(ftCreated.dwHighDateTime) << 32 | ftCreated.dwLowDateTime;
  m_header.u8JournalCreated = static_cast<uint64_t>(ftNow.dwHighDateTime) << 32 | ftNow.dwLowDateTime;
  uint8_t abHeader[NY_JOURNAL_HEADER_SIZE];
  EncodeJournalHeader(m_header, abHeader);
  u4Result = WriteAll(m_file.Get(), abHeader, sizeof(abHeader));
  if (u4Result == 0 && !FlushFileBuffers(m_file.Get())) u4Result = GetLastError();
  if (u4Result != 0) {
    NYFAIL(u4Result, "WriteFile", m_path.c_str());
    Remove();
    return u4Result;
  }
  m_bytes.assign(abHeader, abHeader + sizeof(abHeader));
  return 0;
}

uint32_t CNyJournalFile::Open(const std::wstring& productCode, bool* pbFound) {
  *pbFound = false;
  uint32_t u4Result = JournalFolderOf(productCode, &m_folder);
  bool bFolder = false;
  if (u4Result == 0) u4Result = PrepareFolder(false, &bFolder);
  if (u4Result != 0 || !bFolder) return u4Result;
  m_path = m_folder + kFileName;
  m_file.Reset(CreateFileW(m_path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                           FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!m_file) {
    const DWORD dwError = GetLastError();
    m_folderHandle.Reset();
    if (dwError == ERROR_SHARING_VIOLATION) {
      NYLOGW(LOG_LEVEL_OUTCOME, L"%s is held by a run that is still going on", m_path.c_str());
      return ERROR_INSTALL_ALREADY_RUNNING;
    }
    if (!IsNotFound(dwError)) return NYFAIL(dwError, "CreateFileW", m_path.c_str());
    // A run that died before it wrote its journal, or after it removed it.
    RemoveDirectoryW(m_folder.c_str());
    return 0;
  }
  *pbFound = true;
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(m_file.Get(), &size)) return NYFAIL(GetLastError(), "GetFileSizeEx", m_path.c_str());
  if (size.QuadPart > kMaxJournalBytes) return NYFAIL(NY_E_INVALID_DATA, "read the journal", m_path.c_str());
  m_bytes.resize(static_cast<size_t>(size.QuadPart));
  DWORD cbRead = 0;
  if (!m_bytes.empty() && (!ReadFile(m_file.Get(), m_bytes.data(), static_cast<DWORD>(m_bytes.size()), &cbRead,
                                     nullptr) ||
                           cbRead != m_bytes.size())) {
    return NYFAIL(GetLastError() != 0 ? GetLastError() : ERROR_HANDLE_EOF, "ReadFile", m_path.c_str());
  }
  // No whole header: the run died while it made the journal, before any
  // step. Otherwise a step torn by a power loss is cut off: its change was
  // never made.
  const size_t cbValid = ScanJournal(m_bytes.data(), m_bytes.size(), &m_entries);
  if (cbValid != 0) DecodeJournalHeader(m_bytes.data(), m_bytes.size(), &m_header);
  if (cbValid != 0 && cbValid < m_bytes.size()) {
    NYLOGW(LOG_LEVEL_TRACE, L"%s: %u bytes after the last whole step are cut off", m_path.c_str(),
           static_cast<unsigned>(m_bytes.size() - cbValid));
    LARGE_INTEGER at{};
    at.QuadPart = static_cast<LONGLONG>(cbValid);
    if (!SetFilePointerEx(m_file.Get(), at, nullptr, FILE_BEGIN) || !SetEndOfFile(m_file.Get())) {
      return NYFAIL(GetLastError(), "SetEndOfFile", m_path.c_str());
    }
  }
  m_bytes.resize(cbValid);
  return 0;
}

uint32_t CNyJournalFile::Append(const CNyUndoStep& step, bool bFlush) {
  if (!m_file) return NYFAIL(ERROR_INVALID_HANDLE, "WriteFile", m_path.c_str());
  std::vector<uint8_t> frame;
  EncodeJournalStep(step.Kind(), m_u4Action, step.Payload(), &frame);
  uint32_t u4Result = WriteAll(m_file.Get(), frame.data(), static_cast<uint32_t>(frame.size()));
  const char* pszCall = "WriteFile";
  if (u4Result == 0 && bFlush && !FlushFileBuffers(m_file.Get())) {
    u4Result = GetLastError();
    pszCall = "FlushFileBuffers";
  }
  if (u4Result != 0) {
    // A part of the step may have reached the file: it is cut off, so that
    // a later step is not hidden behind a torn one.
    LARGE_INTEGER at{};
    at.QuadPart = static_cast<LONGLONG>(m_bytes.size());
    if (SetFilePointerEx(m_file.Get(), at, nullptr, FILE_BEGIN)) SetEndOfFile(m_file.Get());
    return NYFAIL(u4Result, pszCall, m_path.c_str());
  }
  NyJournalEntry entry;
  entry.kind = step.Kind();
  entry.u4Action = m_u4Action;
  entry.offset = m_bytes.size();
  entry.cbPayload = step.Payload().size();
  m_entries.push_back(entry);
  m_bytes.insert(m_bytes.end(), frame.begin(), frame.end());
  return 0;
}

uint32_t CNyJournalFile::Record(const CNyUndoStep& step) { return Append(step, true); }

uint32_t CNyJournalFile::Note(const CNyUndoStep& step) { return Append(step, false); }

bool CNyJournalFile::Holds(const CNyUndoStep& step) const {
  const std::vector<uint8_t>& payload = step.Payload();
  for (const NyJournalEntry& entry : m_entries) {
    const uint8_t* pbPayload = m_bytes.data() + entry.offset + NY_JOURNAL_FRAME_SIZE;
    if (entry.kind == step.Kind() && entry.cbPayload == payload.size() &&
        std::equal(payload.begin(), payload.end(), pbPayload)) {
      return true;
    }
  }
  return false;
}

CNyUndoReader CNyJournalFile::StepOf(const NyJournalEntry& entry) const {
  return CNyUndoReader(m_bytes.data() + entry.offset + NY_JOURNAL_FRAME_SIZE, entry.cbPayload);
}

uint32_t CNyJournalFile::CutFrom(size_t index) {
  if (index >= m_entries.size()) return 0;
  LARGE_INTEGER at{};
  at.QuadPart = static_cast<LONGLONG>(m_entries[index].offset);
  if (!SetFilePointerEx(m_file.Get(), at, nullptr, FILE_BEGIN) || !SetEndOfFile(m_file.Get())) {
    return NYFAIL(GetLastError(), "SetEndOfFile", m_path.c_str());
  }
  m_bytes.resize(m_entries[index].offset);
  m_entries.resize(index);
  return 0;
}

uint32_t CNyJournalFile::Remove() {
  uint32_t u4Result = 0;
  m_file.Reset();
  if (!m_path.empty() && !DeleteFileW(m_path.c_str()) && !IsNotFound(GetLastError())) {
    u4Result = NYFAIL(GetLastError(), "DeleteFileW", m_path.c_str());
  }
  m_folderHandle.Reset();
  if (u4Result == 0 && !m_folder.empty() && !RemoveDirectoryW(m_folder.c_str())) {
    NYFAIL(GetLastError(), "RemoveDirectoryW", m_folder.c_str());
  }
  m_entries.clear();
  m_bytes.clear();
  return u4Result;
}
