#pragma once
// The run of a script's action list, reported to a progress callback, and
// of its finish list.
#include <atomic>
#include <cstdint>

#include "NyActionFactory.h"
#include "NyConfigScript.h"
#include "NyJournalFile.h"
#include "NySetupStatus.h"

class CNyActionRun {
 public:
  // The stop token is read between actions: once set, no further action of
  // either list starts.
  CNyActionRun(const CNyXmlConfigScript& script, CNyActionFactory& factory, CNySetupInfo& info,
               const std::atomic<bool>& stop)
      : m_script(script), m_factory(factory), m_info(info), m_stop(stop) {}

  // Runs the mode's list ("Insall" or "Uninstall"): every child is created,
  // described, reported, run and reported again. Returns 0 or the code that
  // ended the run.
  //
  // An install keeps a journal of what its actions change (unless its list
  // says Rollback="false", in any letter case): a run that ends with 0
  // commits it; one that
  // fails, or was stopped before its end, is rolled back before this
  // returns, the callback told of each undone step (m_bRollingBack), and
  // returns its failure, or NY_E_ABORTED for a stop.
  uint32_t RunActionList(ProgressCallback pfnCallback, void* pvContext);
  // 0, or the code of the first step the run's rollback could not undo.
  uint32_t RollbackResult() const { return m_u4RollbackResult; }
  // Runs the mode's finish list; no descriptions, no callback.
  uint32_t RunFinishList();
  // Has the shell refresh its icons (ie4uinit -show), waiting for it.
  static void RefreshShellIcons();

 private:
  // The list's children in order; pJournal (or null) learns which action's
  // steps come next.
  uint32_t RunChildren(CNyXmlConfigItem* pList, CNyXmlConfigItem* pDescRoot, CNyJournalFile* pJournal,
                       ProgressCallback pfnCallback, void* pvContext);

  const CNyXmlConfigScript& m_script;
  CNyActionFactory& m_factory;
  CNySetupInfo& m_info;
  const std::atomic<bool>& m_stop;
  uint32_t m_u4RollbackResult = 0;
};
