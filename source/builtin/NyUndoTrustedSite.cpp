#include "NyUndoTrustedSite.h"

#include "NyComUtil.h"
#include "NyLog.h"
#include "NyResult.h"

namespace {

const NyUndoKind kZoneKind = NyUndoKindTag("ZONE");

uint32_t UndoZone(CNyUndoReader* pStep, std::wstring* pObject) {
  std::wstring url;
  uint32_t u4Removed = 0, u4Flags = 0, u4Mapped = 0;
  if (!pStep->ReadText(&url) || !pStep->ReadU32(&u4Removed) || !pStep->ReadU32(&u4Flags) ||
      !pStep->ReadU32(&u4Mapped) || u4Mapped > static_cast<uint32_t>(NyZoneMapped::Unknown)) {
    *pObject = L"a Trusted Sites step that cannot be read";
    return NYFAIL(NY_E_INVALID_DATA, "read the undo step", L"Trusted Sites");
  }
  NyTrustedZoneState state;
  state.dwFlags = u4Flags;
  state.mapped = static_cast<NyZoneMapped>(u4Mapped);
  *pObject = L"Trusted Sites, " + url +
             (state.mapped == NyZoneMapped::Unknown
                  ? L": the zone's flags as they were; the mapping left as it is (the system cannot say what it was)"
                  : L": the mapping and the zone's flags as they were");
  CNyComInit com;
  if (!com.IsUsable()) return NYFAIL(static_cast<uint32_t>(com.Result()), "CoInitializeEx", url.c_str());
  CNyComPtr<IInternetSecurityManager> security;
  CNyComPtr<IInternetZoneManager> zones;
  const uint32_t u4Result = CreateZoneManagers(&security, &zones);
  if (u4Result != 0) return NYFAIL(u4Result, "CoCreateInstance", L"the security and zone managers");
  return RestoreTrustedZoneState(security.Get(), zones.Get(), url.c_str(), u4Removed != 0, state);
}

const CNyUndoRegistration kRegistration({kZoneKind, UndoZone, nullptr});

}  // namespace

uint32_t CNyZoneUndoRecorder::ChangingZoneMapping(IInternetSecurityManager* pSecurity, IInternetZoneManager* pZones) {
  if (!m_pJournal->IsRecording()) return 0;
  NyTrustedZoneState state;
  const uint32_t u4Result = ReadTrustedZoneState(pSecurity, pZones, m_url.c_str(), &state);
  if (u4Result != 0) return u4Result;
  return m_pJournal->Record(CNyUndoStep(kZoneKind)
                                .AddText(m_url)
                                .AddU32(m_bRemove ? 1 : 0)
                                .AddU32(state.dwFlags)
                                .AddU32(static_cast<uint32_t>(state.mapped)));
}
