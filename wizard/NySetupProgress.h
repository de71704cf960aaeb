#pragma once
// The wizard's progress callbacks: they move the progress bar and let only
// the failures pass that the action factory's table allows.
#include <windows.h>

#include <cstdint>

#include "NySetupStatus.h"

// Tag of the wizard dialog's window handle in the callback's context bag.
constexpr uint16_t NY_TAG_DIALOG = 20;
// Sent to the dialog by the callback while the run's changes are undone.
constexpr UINT WM_NY_ROLLING_BACK = WM_APP + 2;

// Position of the bar: 100 once the last action starts, else the share done.
uint32_t ProgressPosition(uint32_t u4Completed, uint32_t u4Total);
// The answer to an action's report: go on unless it failed in a way its
// kind's rule does not let pass.
uint32_t ActionFailureAnswer(const CNySetupStatus& status);
// The callback of a run without a window.
uint32_t OnUnattendedProgress(CNySetupStatus* pStatus, void* pvContext);
// The callback itself; pvContext is an INyData holding the dialog's window
// handle under NY_TAG_DIALOG. While a rollback runs, the bar goes back with
// the steps still to undo.
uint32_t OnActionProgress(CNySetupStatus* pStatus, void* pvContext);
