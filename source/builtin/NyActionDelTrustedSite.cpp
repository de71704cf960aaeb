#include "NyActionDelTrustedSite.h"

#include "NyComUtil.h"
#include "NySetupInfo.h"
#include "NyShellUtil.h"
#include "NyUndoTrustedSite.h"

const char* CNyActionDelTrustedSite::SourceFile() const { return __FILE__; }

uint32_t CNyActionDelTrustedSite::ReadAttributes() { return ReadRequired("Url", &m_url, "%s: Url in xml is: %s"); }

void CNyActionDelTrustedSite::CompleteDescription(CNyString* pText) const {
  pText->ReplaceAll(L"$[url]", m_url.GetWide());
}

uint32_t CNyActionDelTrustedSite::Execute(CNySetupInfo* pSetupInfo) {
  CNyComInit com;
  CNyZoneUndoRecorder changes(NyJournalOf(pSetupInfo), m_url.GetWide(), true);
  return SetTrustedZoneMapping(m_url.GetWide(), true, &changes);
}
