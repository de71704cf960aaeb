#pragma once
// Shell shortcuts and the browser's Trusted Sites zone, through the
// system's COM objects in the calling thread.
#include <windows.h>
#include <urlmon.h>

#include <cstdint>

// Creates RootPath\SubDirName (with its missing parents) and in it the
// shortcut Name (".lnk" added unless Name already ends so, in any case) to
// Src, working in Src's folder, with the icon pwszIcon (Src when empty) at
// u4Index and the arguments pwszCmdLine (none when empty). Fails only when
// the folder cannot be created; a link the shell refuses is not an error.
uint32_t CreateShellLink(const wchar_t* pwszRootPath, const wchar_t* pwszSubDirName, const wchar_t* pwszName,
                         const wchar_t* pwszSrc, const wchar_t* pwszIcon, const wchar_t* pwszCmdLine,
                         uint32_t u4Index);

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

// The same with the system's security and zone managers; COM must be
// initialised on the thread. An empty URL gives 0xE0600007.
uint32_t SetTrustedZoneMapping(const wchar_t* pwszUrl, bool bRemove);
