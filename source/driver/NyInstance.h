#pragma once
// One setup of a product at a time, and the version an earlier install left.
#include <windows.h>

#include "NyHandle.h"
#include "NySetupStatus.h"

// The single-instance mutex named by the product code. It is only a marker:
// nobody waits on it.
class CNyInstanceMutex {
 public:
  // TRUE when this process now holds the mutex of that name.
  BOOL Acquire(const wchar_t* pwszName);
  // FALSE when the handle could not be closed.
  BOOL Release();

 private:
  CNyHandle m_mutex;
};

// Compares the "DisplayVersion" of the product's uninstall entry with the
// script's version. FALSE only when the entry could not be read for a reason
// other than its absence; *pResult is then untouched.
BOOL CompareInstalledVersion(const CNySetupInfo& info, VersionCompareResult* pResult);
