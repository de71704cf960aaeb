#pragma once
// The status record of an action run and the progress callback's contract.
#include <cstdint>

#include "NyActionFactory.h"
#include "NyObject.h"
#include "NySetupInfo.h"
#include "NyString.h"

class CNySetupStatus : public CNyObject {
 public:
  uint32_t m_u4Total = 0;
  uint32_t m_u4Completed = 0;
  CNyString m_strActionName;
  CNyString m_strDescription;
  uint32_t m_bDone = 0;
  uint32_t m_u4Result = 0;  // NY_E_NOT_AN_ACTION: the child could not be made an action
  // The factory's rule for a failure of this kind of action.
  NyActionFailure m_failure = NyActionFailure::Stops;
  // 1 while a failed or cancelled install is undone: completed then counts
  // the steps still to undo, of total, and the callback's answer is not read.
  uint32_t m_bRollingBack = 0;
};

// Answers of a progress callback.
constexpr uint32_t NY_PROGRESS_CONTINUE = 0;
constexpr uint32_t NY_PROGRESS_ABORT = 1;
constexpr uint32_t NY_PROGRESS_REPEAT = 2;  // after Do: run the same action again

using ProgressCallback = uint32_t (*)(CNySetupStatus* pStatus, void* pvContext);

enum VersionCompareResult : uint32_t {
  VERSION_NOT_INSTALLED = 0,
  VERSION_INSTALLED_EQUAL = 1,
  VERSION_INSTALLED_LOWER = 2,
  VERSION_INSTALLED_HIGHER = 3,
};
