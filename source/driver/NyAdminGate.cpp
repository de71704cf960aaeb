#include "NyAdminGate.h"

#include <vector>

#include "NyHandle.h"

namespace {

struct NySidTraits {
  using Type = PSID;
  static Type Empty() { return nullptr; }
  static void Release(Type p) { FreeSid(p); }
};

// Whether the token passes the check; FALSE also when the check cannot be made.
BOOL CheckAgainstAdministrators(HANDLE hToken) {
  SID_IDENTIFIER_AUTHORITY ntAuthority = SECURITY_NT_AUTHORITY;
  CNyUnique<NySidTraits> administrators;
  if (!AllocateAndInitializeSid(&ntAuthority, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0,
                                0, administrators.Put())) {
    return FALSE;
  }
  constexpr DWORD kAccessRead = 1, kAccessWrite = 2;
  std::vector<BYTE> acl(sizeof(ACL) + sizeof(ACCESS_ALLOWED_ACE) + GetLengthSid(administrators.Get()) - sizeof(DWORD));
  PACL pAcl = reinterpret_cast<PACL>(acl.data());
  SECURITY_DESCRIPTOR sd;
  GENERIC_MAPPING mapping = {kAccessRead, kAccessWrite, 0, kAccessRead | kAccessWrite};
  PRIVILEGE_SET privileges;
  DWORD cbPrivileges = sizeof(privileges);
  DWORD dwGranted = 0;
  BOOL bAccess = FALSE;
  if (!InitializeAcl(pAcl, static_cast<DWORD>(acl.size()), ACL_REVISION2) ||
      !AddAccessAllowedAce(pAcl, ACL_REVISION2, kAccessRead | kAccessWrite, administrators.Get()) ||
      !InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION) ||
      !SetSecurityDescriptorDacl(&sd, TRUE, pAcl, FALSE) ||
      !SetSecurityDescriptorGroup(&sd, administrators.Get(), FALSE) ||
      !SetSecurityDescriptorOwner(&sd, administrators.Get(), FALSE) || !IsValidSecurityDescriptor(&sd) ||
      !AccessCheck(&sd, hToken, kAccessRead, &mapping, &privileges, &cbPrivileges, &dwGranted, &bAccess)) {
    return FALSE;
  }
  return bAccess;
}

}  // namespace

BOOL IsAdministrator() {
  if (!ImpersonateSelf(SecurityImpersonation)) return FALSE;
  CNyHandle token;
  BOOL bAccess = FALSE;
  if (OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, token.Put()) ||
      (GetLastError() == ERROR_NO_TOKEN && OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.Put()))) {
    bAccess = CheckAgainstAdministrators(token.Get());
  }
  if (!RevertToSelf()) return FALSE;
  return bAccess;
}
