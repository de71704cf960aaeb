#include "NyActionAddTrustedSite.h"

#include <winerror.h>

#include "NyComUtil.h"
#include "NySetupInfo.h"
#include "NyShellUtil.h"
#include "NyUndoTrustedSite.h"

const char* CNyActionAddTrustedSite::SourceFile() const { return __FILE__; }

uint32_t CNyActionAddTrustedSite::ReadAttributes() {
  return ReadRequired("Url", &m_url, "%s: Url in AddTrustedSite is: %s");
}

void CNyActionAddTrustedSite::CompleteDescription(CNyString* pText) const {
  pText->ReplaceAll(L"$[url]", m_url.GetWide());
}

uint32_t CNyActionAddTrustedSite::Execute(CNySetupInfo* pSetupInfo) {
  CNyComInit com;
  CNyZoneUndoRecorder changes(NyJournalOf(pSetupInfo), m_url.GetWide(), false);
  const uint32_t u4Result = SetTrustedZoneMapping(m_url.GetWide(), false, &changes);
  // The security manager answers ERROR_FILE_EXISTS for a pattern that is
  // mapped already: the site is trusted, which is what was asked.
  return u4Result == static_cast<uint32_t>(HRESULT_FROM_WIN32(ERROR_FILE_EXISTS)) ? 0 : u4Result;
}
