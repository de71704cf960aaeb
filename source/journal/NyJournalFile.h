#pragma once
// The journal file of a product's install run.
//
// It lives in <common application data>\<product code>.rollback\journal,
// which survives a restart. The folder's security is its own: owned by the
// Administrators, full control for SYSTEM and the Administrators only,
// nothing inherited, so a process that is not elevated can neither plant
// undo steps nor change them. Such a process may have made the folder (or a
// link in its place) before the first install: a folder that is a link, or
// whose owner and access are not what a run gives it, is moved aside and
// never read.
//
// The run holds the file open without sharing from its creation to its
// removal: a second run that can open it knows that the run which wrote it
// has ended.
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "NyHandle.h"
#include "NyJournal.h"
#include "NyJournalFormat.h"

// The journal's folder for a product code, which must be usable as one
// name: no separators, no wildcard or reserved characters.
uint32_t JournalFolderOf(const std::wstring& productCode, std::wstring* pFolder);
// The security the folder is made with (LocalFree memory).
uint32_t BuildJournalFolderSecurity(CNyLocalMemory* pDescriptor);
// Whether a folder's security is one that only SYSTEM or the Administrators
// can have given it: owned by either, its access protected from
// inheritance and granted to no one else.
bool IsJournalFolderSecurity(PSECURITY_DESCRIPTOR pDescriptor);

class CNyJournalFile : public INyJournal {
 public:
  // A new run's journal: the folder is made when missing, and the file,
  // which must not exist, gets its header on the disk. ERROR_FILE_EXISTS:
  // the journal of an interrupted run is still there.
  uint32_t Create(const std::wstring& productCode);
  // The journal an ended run left, read whole; *pbFound false when there is
  // none. ERROR_INSTALL_ALREADY_RUNNING when the run that writes it is still
  // alive. A torn tail is cut off.
  uint32_t Open(const std::wstring& productCode, bool* pbFound);

  // The place in its list of the action whose steps come next.
  void SetAction(uint32_t u4Ordinal) { m_u4Action = u4Ordinal; }
  bool IsRecording() const override { return m_file.IsValid(); }
  uint32_t Record(const CNyUndoStep& step) override;
  uint32_t Note(const CNyUndoStep& step) override;
  bool Holds(const CNyUndoStep& step) const override;

  const NyJournalHeader& Header() const { return m_header; }
  // The whole steps, in the order they were written.
  const std::vector<NyJournalEntry>& Entries() const { return m_entries; }
  CNyUndoReader StepOf(const NyJournalEntry& entry) const;
  // Cuts the steps from the index on off the file: they are done with.
  uint32_t CutFrom(size_t index);
  // Closes the file and deletes it, then the folder when it is empty.
  uint32_t Remove();

 private:
  uint32_t Append(const CNyUndoStep& step, bool bFlush);
  // Opens the folder, or makes it when it is missing or not this program's.
  uint32_t PrepareFolder(bool bCreate, bool* pbFound);

  std::wstring m_folder;
  std::wstring m_path;
  // Held without delete sharing while the journal is used: the folder can
  // be neither renamed nor replaced.
  CNyFile m_folderHandle;
  CNyFile m_file;
  NyJournalHeader m_header;
  std::vector<uint8_t> m_bytes;  // what the file holds
  std::vector<NyJournalEntry> m_entries;
  uint32_t m_u4Action = 0;
};
