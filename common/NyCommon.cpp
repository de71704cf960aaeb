// Memory routines of the common library; their log lines name this unit.
#include <cstring>

#include "NyLog.h"
#include "NyResult.h"
#include "NySafeStr.h"

uint32_t NyMemCpy(void* pvDest, size_t cbDest, const void* pvSrc, size_t cbCount) {
  if (cbCount == 0) return NY_SUCCESS;
  if (pvDest == nullptr) {
    NYLOG(LOG_LEVEL_OUTCOME, "%s failed due to %s", "NyMemCpy", "NULL == pvDest");
    return NY_E_INVALID_PARAM;
  }
  if (pvSrc != nullptr && cbCount <= cbDest) {
    memcpy(pvDest, pvSrc, cbCount);
    return NY_SUCCESS;
  }
  // A failed copy leaves no stale or partial data behind.
  memset(pvDest, 0, cbDest);
  if (pvSrc == nullptr) {
    NYLOG(LOG_LEVEL_OUTCOME, "%s failed due to %s", "NyMemCpy", "NULL == pvSrc");
    return NY_E_INVALID_DATA;
  }
  NYLOG(LOG_LEVEL_OUTCOME, "%s failed due to %s", "NyMemCpy", "cchDest < cchCount");
  return NY_E_DEST_TOO_SMALL;
}

bool NyMemMove(void* pvDest, size_t cbDest, const void* pvSrc, size_t cbCount) {
  if (cbCount == 0) return true;
  if (pvDest != nullptr && pvSrc != nullptr && cbDest >= cbCount) {
    memmove(pvDest, pvSrc, cbCount);
    return true;
  }
  NYLOG(LOG_LEVEL_OUTCOME, "%s failed due to %s", "NyMemMove", "NULL == pvDest || NULL == pvSrc || cchDest < cchCount");
  return false;
}
