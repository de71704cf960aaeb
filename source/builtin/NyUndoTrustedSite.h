#pragma once
// The undo step of AddTrustedSite and DelTrustedSite, "ZONE": the URL
// pattern, whether it was being removed, and what the Trusted Sites zone
// was before: its attribute flags and whether the pattern was mapped to it
// (unknown where the security manager cannot list its mappings, as under
// Wine). Undone: a mapping the run added is removed and one it removed is
// added again (left as it is when that is unknown), and the zone's
// verification flag, which the change clears for a moment, is put back.
#include <string>

#include "NyJournal.h"
#include "NyShellUtil.h"

class CNyZoneUndoRecorder : public INyZoneChanges {
 public:
  CNyZoneUndoRecorder(INyJournal* pJournal, const wchar_t* pwszUrl, bool bRemove)
      : m_pJournal(pJournal), m_url(pwszUrl), m_bRemove(bRemove) {}

  uint32_t ChangingZoneMapping(IInternetSecurityManager* pSecurity, IInternetZoneManager* pZones) override;

 private:
  INyJournal* m_pJournal;
  std::wstring m_url;
  bool m_bRemove;
};
