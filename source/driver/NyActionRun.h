#pragma once
// The run of a script's action list, reported to a progress callback, and
// of its finish list.
#include <atomic>
#include <cstdint>

#include "NyActionFactory.h"
#include "NyConfigScript.h"
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
  uint32_t RunActionList(ProgressCallback pfnCallback, void* pvContext);
  // Runs the mode's finish list; no descriptions, no callback.
  uint32_t RunFinishList();
  // Has the shell refresh its icons (ie4uinit -show), waiting for it.
  static void RefreshShellIcons();

 private:
  const CNyXmlConfigScript& m_script;
  CNyActionFactory& m_factory;
  CNySetupInfo& m_info;
  const std::atomic<bool>& m_stop;
};
