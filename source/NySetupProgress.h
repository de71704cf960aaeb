#pragma once
// The wizard's progress callback: it moves the progress bar and decides
// which failed actions may pass.
#include <windows.h>

#include <cstdint>

#include "NySetupInfo.h"

// Tag of the wizard dialog's window handle in the callback's context bag.
constexpr uint16_t NY_TAG_DIALOG = 20;
// The progress bar of the wizard dialog.
constexpr int IDC_PROGRESS_SETUP = 1007;

// Set by the dialog's thread when the user cancels; read by the worker
// between actions.
extern volatile LONG g_bCancelRequested;

// Position of the bar: 100 once the last action starts, else the share done.
uint32_t ProgressPosition(uint32_t u4Completed, uint32_t u4Total);
// The answer to a finished action: only a few kinds of failure may pass.
uint32_t ActionFailureAnswer(const char* pszActionName, uint32_t u4Result);
// The callback of a run without a window: the cancel flag and the policy.
uint32_t OnUnattendedProgress(CNySetupStatus* pStatus, void* pvContext);
// The callback itself; pvContext is an INyData holding the dialog's window
// handle under NY_TAG_DIALOG.
uint32_t OnActionProgress(CNySetupStatus* pStatus, void* pvContext);
