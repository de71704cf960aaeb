#pragma once
// The extraction folder of a setup run. It is made fresh in the temporary
// folder with a protected security descriptor of its own (full control for
// SYSTEM and Administrators, or only for the current user when the process
// is not elevated; nothing inherited from the user's temporary folder), and
// marked as in use by a marker file the run holds open until the folder is
// removed. A run first removes the folders of earlier runs whose marker
// nobody holds any more: runs that were killed.
#include <windows.h>

#include <cstdint>
#include <string>

#include "NyHandle.h"

constexpr wchar_t NY_EXTRACT_FOLDER_PATTERN[] = L"NyKeyPackage_%08X\\";
constexpr wchar_t NY_EXTRACT_MARKER[] = L"NyKeyPackage.lock";

class CNyExtractFolder {
 public:
  // Makes the folder under parent (which ends in '\'); *pPath gets its path,
  // ending in '\'. 0 or the failing step's code.
  uint32_t Create(const std::wstring& parent, std::wstring* pPath);
  // Lets go of the held package files and the marker and deletes the folder
  // with all in it.
  void Remove(const std::wstring& path);

 private:
  CNyFile m_marker;
};

// The security descriptor the folder is made with (LocalFree memory).
uint32_t BuildExtractFolderSecurity(CNyLocalMemory* pDescriptor);

// Deletes every folder named by the pattern under parent whose marker can be
// opened exclusively: its run has ended without removing it. A folder with
// no marker, a link, or a folder owned by someone a run would not give it
// is not the product's and is left alone.
void RemoveAbandonedExtractFolders(const std::wstring& parent);
