#pragma once
// Shell shortcuts and the browser's Trusted Sites zone, through the
// system's COM objects in the calling thread.
#include <windows.h>
#include <urlmon.h>

#include <cstdint>

#include "NyFileChanges.h"
#include "NyHandle.h"

// Creates RootPath\SubDirName (with its missing parents) and in it the
// shortcut Name (".lnk" added unless Name already ends so, in any case) to
// Src, working in Src's folder, with the icon pwszIcon (Src when empty) at
// u4Index and the arguments pwszCmdLine (none when empty). Fails only when
// the folder cannot be created; a link the shell refuses is not an error.
// pChanges, when given, hears of the folders and the link first; where it
// names a backup, a link that is there is renamed to it (and comes back
// when the shell saves no new one): a failed rename is then an error.
uint32_t CreateShellLink(const wchar_t* pwszRootPath, const wchar_t* pwszSubDirName, const wchar_t* pwszName,
                         const wchar_t* pwszSrc, const wchar_t* pwszIcon, const wchar_t* pwszCmdLine,
                         uint32_t u4Index, INyFileChanges* pChanges = nullptr);

// Tells the shell that file associations changed (SHCNE_ASSOCCHANGED). The
// process remembers having done so until ForgetAssociationsNotified, which
// an action run calls before every action: the notice a run would give at
// its end is needless right after its last action gave it (under Wine each
// one starts a process).
void NotifyAssociationsChanged(UINT uFlags);
bool AssociationsJustNotified();
void ForgetAssociationsNotified();

// Trusted Sites is zone 2; with this attribute flag set the zone accepts
// only sites that require server verification (https), so a plain http
// pattern can be mapped only while it is cleared.
constexpr DWORD NY_TRUSTED_ZONE = 2;
constexpr DWORD NY_ZONE_REQUIRE_VERIFICATION = 0x4;

// Maps the URL pattern to zone 2 (or removes that mapping) with the given
// objects, clearing the zone's verification flag around the mapping only
// when it was set. Returns the mapping's own result.
uint32_t ApplyTrustedZoneMapping(IInternetSecurityManager* pSecurity, IInternetZoneManager* pZones,
                                 const wchar_t* pwszUrl, bool bRemove);

// What an undo needs to know of the Trusted Sites zone before a mapping
// changes: the zone's attribute flags, and whether the pattern was mapped
// to it (the security manager may be unable to say).
enum class NyZoneMapped : uint32_t { No = 0, Yes = 1, Unknown = 2 };
struct NyTrustedZoneState {
  DWORD dwFlags = 0;
  NyZoneMapped mapped = NyZoneMapped::Unknown;
};

// Told before the mapping changes, with the managers that will change it.
// The base class keeps no record and lets the change go on.
class INyZoneChanges {
 public:
  virtual ~INyZoneChanges() = default;
  virtual uint32_t ChangingZoneMapping(IInternetSecurityManager* pSecurity, IInternetZoneManager* pZones);
};

// The system's security and zone managers; COM must be initialised on the
// thread. The creation's failure is returned as its code.
uint32_t CreateZoneManagers(CNyComPtr<IInternetSecurityManager>* pSecurity, CNyComPtr<IInternetZoneManager>* pZones);

// The mapping with the system's managers (COM initialised on the thread),
// after pChanges, when given, heard of it. An empty URL gives 0xE0600007.
uint32_t SetTrustedZoneMapping(const wchar_t* pwszUrl, bool bRemove, INyZoneChanges* pChanges = nullptr);

// Reads the zone's flags and whether the pattern is one of its mappings.
uint32_t ReadTrustedZoneState(IInternetSecurityManager* pSecurity, IInternetZoneManager* pZones,
                              const wchar_t* pwszUrl, NyTrustedZoneState* pState);
// Puts back what a mapping change (bRemoved: a removal) found: the zone's
// verification flag, and the pattern's mapping where the state says whether
// there was one. Returns 0, or the code of what could not be put back.
uint32_t RestoreTrustedZoneState(IInternetSecurityManager* pSecurity, IInternetZoneManager* pZones,
                                 const wchar_t* pwszUrl, bool bRemoved, const NyTrustedZoneState& state);
