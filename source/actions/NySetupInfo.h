#pragma once
// The facts of a setup run that every action's GetDescription and Do
// receive, and the run's undo journal.
#include <cstdint>

#include "NyJournal.h"
#include "NyObject.h"
#include "NyString.h"
#include "NyVersionText.h"

// The run mode, decided once from the command line and the program's name.
enum SetupMode : int32_t {
  SETUP_MODE_NONE = -1,
  SETUP_MODE_INSTALL = 0,
  SETUP_MODE_REPAIR = 1,
  SETUP_MODE_UPGRADE = 2,
  SETUP_MODE_UNINSTALL_LAUNCHER = 3,
  SETUP_MODE_UNINSTALL = 4,
};

class CNySetupInfo : public CNyObject {
 public:
  int32_t m_nSetupMode = SETUP_MODE_INSTALL;
  uint32_t m_bSilent = 0;
  CNyString m_strReserved;  // left empty by this program
  CNyString m_strProductCode;
  CNyString m_strProductName;
  CNyString m_strPublisher;
  NyFileVersion m_version;
  CNyString m_strInstallDir;
  CNyString m_strExtractDir;  // ends in a backslash
  // Where the actions record their undo steps: the install run's journal
  // while its action list runs, else one that records nothing. Never null.
  INyJournal* m_pJournal = NyNoJournal();
};

// The journal of the run an action is handed; an action run on its own (no
// setup facts) records nothing.
inline INyJournal* NyJournalOf(const CNySetupInfo* pInfo) {
  return pInfo != nullptr ? pInfo->m_pJournal : NyNoJournal();
}
