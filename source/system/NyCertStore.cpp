#include "NyCertStore.h"

#include <cstring>
#include <new>
#include <set>
#include <string>
#include <vector>

#include "NyLog.h"
#include "NyHandle.h"
#include "NyResult.h"
#include "NySafeStr.h"
#include "NySystem_Win.h"

uint32_t INyCertChanges::ChangingCertificate(PCCERT_CONTEXT, PCCERT_CONTEXT) { return 0; }

namespace {

INyCertChanges& NyCertChangesOrNone(INyCertChanges* pChanges) {
  static INyCertChanges none;
  return pChanges != nullptr ? *pChanges : none;
}

// A certificate file larger than this is no certificate; it is refused
// before it is read into memory.
constexpr DWORD kMaxCertificateFileSize = 16u << 20;

template <typename Fn>
bool Resolve(HMODULE hModule, const char* pszName, Fn* ppfn) {
  *ppfn = NyGetProcAs<Fn>(hModule, pszName);
  return *ppfn != nullptr;
}

bool LoadCrypt32(NyCrypt32* pCrypt) {
  HMODULE hModule = NyLoadSystemLibrary(L"crypt32.dll");
  if (hModule == nullptr) return false;
  return Resolve(hModule, "CertOpenStore", &pCrypt->pfnOpenStore) &&
         Resolve(hModule, "CertCloseStore", &pCrypt->pfnCloseStore) &&
         Resolve(hModule, "CertControlStore", &pCrypt->pfnControlStore) &&
         Resolve(hModule, "CertCreateCertificateContext", &pCrypt->pfnCreateCertificateContext) &&
         Resolve(hModule, "CertDuplicateCertificateContext", &pCrypt->pfnDuplicateCertificateContext) &&
         Resolve(hModule, "CertFreeCertificateContext", &pCrypt->pfnFreeCertificateContext) &&
         Resolve(hModule, "CertAddCertificateContextToStore", &pCrypt->pfnAddCertificateContextToStore) &&
         Resolve(hModule, "CertEnumCertificatesInStore", &pCrypt->pfnEnumCertificatesInStore) &&
         Resolve(hModule, "CertFindCertificateInStore", &pCrypt->pfnFindCertificateInStore) &&
         Resolve(hModule, "CertGetCertificateContextProperty", &pCrypt->pfnGetCertificateContextProperty) &&
         Resolve(hModule, "CertSetCertificateContextProperty", &pCrypt->pfnSetCertificateContextProperty) &&
         Resolve(hModule, "CertDeleteCertificateFromStore", &pCrypt->pfnDeleteCertificateFromStore) &&
         Resolve(hModule, "CryptDecodeObjectEx", &pCrypt->pfnDecodeObjectEx) &&
         Resolve(hModule, "CertSerializeCertificateStoreElement", &pCrypt->pfnSerializeCertificateStoreElement) &&
         Resolve(hModule, "CertAddSerializedElementToStore", &pCrypt->pfnAddSerializedElementToStore) &&
         Resolve(hModule, "CertGetNameStringW", &pCrypt->pfnGetNameStringW);
}

// A store or context of crypt32, released through the entry points resolved
// when it was loaded (crypt32 is no KnownDLL and is never imported).
struct NyCertStoreTraits {
  using Type = HCERTSTORE;
  static Type Empty() { return nullptr; }
  static void Release(Type h) { NyGetCrypt32()->pfnCloseStore(h, CERT_CLOSE_STORE_FORCE_FLAG); }
};
struct NyCertContextTraits {
  using Type = PCCERT_CONTEXT;
  static Type Empty() { return nullptr; }
  static void Release(Type p) { NyGetCrypt32()->pfnFreeCertificateContext(p); }
};
using CNyCertStore = CNyUnique<NyCertStoreTraits>;
using CNyCertContext = CNyUnique<NyCertContextTraits>;

// The curve of an id-ecPublicKey parameter block, decoded by the system; an
// empty text when the block is no object identifier.
bool DecodeCurve(const NyCrypt32& crypt, const CRYPT_OBJID_BLOB& params, std::string* pCurve) {
  pCurve->clear();
  DWORD cb = 0;
  if (!crypt.pfnDecodeObjectEx(X509_ASN_ENCODING, X509_OBJECT_IDENTIFIER, params.pbData, params.cbData, 0, nullptr,
                               nullptr, &cb) ||
      cb < sizeof(LPSTR)) {
    return false;
  }
  std::vector<BYTE> buffer(cb);
  if (!crypt.pfnDecodeObjectEx(X509_ASN_ENCODING, X509_OBJECT_IDENTIFIER, params.pbData, params.cbData, 0, nullptr,
                               buffer.data(), &cb)) {
    return false;
  }
  LPSTR pszOid = nullptr;
  std::memcpy(&pszOid, buffer.data(), sizeof(pszOid));
  if (pszOid != nullptr) pCurve->assign(pszOid);
  return true;
}

bool IsOneOf(const char* pszOid, std::initializer_list<const char*> oids) {
  for (const char* psz : oids)
    if (SafeStrCmp(pszOid, psz) == 0) return true;
  return false;
}

bool NamesMatch(const wchar_t* pwszWanted, const wchar_t* pwszHeld) {
  if (pwszWanted == nullptr || pwszWanted[0] == 0) return true;
  return pwszHeld != nullptr && SafeWcsICmp(pwszWanted, pwszHeld) == 0;
}

bool MatchesFilter(const NyCrypt32& crypt, PCCERT_CONTEXT pCert, const NyCertFilter& filter) {
  DWORD cb = 0;
  if (!crypt.pfnGetCertificateContextProperty(pCert, CERT_KEY_PROV_INFO_PROP_ID, nullptr, &cb) || cb == 0) return false;
  std::vector<BYTE> buffer(cb);
  if (!crypt.pfnGetCertificateContextProperty(pCert, CERT_KEY_PROV_INFO_PROP_ID, buffer.data(), &cb)) return false;
  const auto* pInfo = reinterpret_cast<const CRYPT_KEY_PROV_INFO*>(buffer.data());
  if (!NamesMatch(filter.pwszCspName, pInfo->pwszProvName)) return false;
  if (!NamesMatch(filter.pwszCntName, pInfo->pwszContainerName)) return false;
  if (pInfo->dwKeySpec == AT_KEYEXCHANGE && (filter.u4SpecMask & NY_CERT_SPEC_KEYEXCHANGE) == 0) return false;
  if (pInfo->dwKeySpec == AT_SIGNATURE && (filter.u4SpecMask & NY_CERT_SPEC_SIGNATURE) == 0) return false;
  return (ClassifyCertificateKey(crypt, pCert) & filter.u4TypeMask) != 0;
}

// Wine's registry stores write deletions out only when the store object is
// finally released, which a context still held elsewhere delays past the
// close; the commit makes them stick (elsewhere it changes nothing).
uint32_t CommitStore(const NyCrypt32& crypt, HCERTSTORE hStore, const wchar_t* pwszStoreName) {
  if (!crypt.pfnControlStore(hStore, 0, CERT_STORE_CTRL_COMMIT, nullptr)) {
    return NYFAIL(GetLastError(), "CertControlStore", pwszStoreName);
  }
  return 0;
}

}  // namespace

const NyCrypt32* NyGetCrypt32() {
  static NyCrypt32 s_crypt{};
  static const bool s_bLoaded = LoadCrypt32(&s_crypt);
  return s_bLoaded ? &s_crypt : nullptr;
}

uint32_t ClassifyCertificateKey(const NyCrypt32& crypt, PCCERT_CONTEXT pCert) {
  if (pCert == nullptr || pCert->pCertInfo == nullptr) return NY_CERT_KEY_RSA;
  const CRYPT_ALGORITHM_IDENTIFIER& algorithm = pCert->pCertInfo->SubjectPublicKeyInfo.Algorithm;
  const char* pszOid = algorithm.pszObjId != nullptr ? algorithm.pszObjId : "";
  if (IsOneOf(pszOid, {"1.2.156.10197.1.301", "1.2.156.10197.1.301.1", "1.2.156.10197.1.301.2",
                       "1.2.156.10197.1.301.3"})) {
    return NY_CERT_KEY_SM2;
  }
  if (SafeStrCmp(pszOid, szOID_ECC_PUBLIC_KEY) != 0) return NY_CERT_KEY_RSA;
  // Explicit curve parameters (a SEQUENCE) or an implicit curve (NULL) are
  // elliptic-curve keys all the same.
  const CRYPT_OBJID_BLOB& params = algorithm.Parameters;
  if (params.cbData == 0 || params.pbData == nullptr || params.pbData[0] != 0x06) return NY_CERT_KEY_ECC;
  std::string curve;
  if (!DecodeCurve(crypt, params, &curve)) return NY_CERT_KEY_RSA;
  if (curve == "1.2.156.10197.1.301") return NY_CERT_KEY_SM2;
  if (IsOneOf(curve.c_str(), {"1.2.840.10045.3.1.1", "1.2.840.10045.3.1.7", "1.3.132.0.10", "1.3.132.0.31",
                              "1.3.132.0.32", "1.3.132.0.33", "1.3.132.0.34", "1.3.132.0.35"})) {
    return NY_CERT_KEY_ECC;
  }
  return NY_CERT_KEY_RSA;
}

uint32_t OpenSystemStoreByName(const NyCrypt32& crypt, const wchar_t* pwszStoreName, HCERTSTORE* phStore) {
  *phStore = nullptr;
  const wchar_t* pwszName = pwszStoreName != nullptr && pwszStoreName[0] != 0 ? pwszStoreName : L"MY";
  DWORD dwLocation = CERT_SYSTEM_STORE_CURRENT_USER;
  for (const wchar_t* pwszMachine : {L"ROOT", L"TRUST", L"CA"}) {
    if (SafeWcsICmp(pwszName, pwszMachine) == 0) {
      pwszName = pwszMachine;
      dwLocation = CERT_SYSTEM_STORE_LOCAL_MACHINE;
    }
  }
  *phStore = crypt.pfnOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, dwLocation, pwszName);
  return *phStore != nullptr ? 0 : NYFAIL(GetLastError(), "CertOpenStore", pwszName);
}

uint32_t AddCertificateFileToStore(const wchar_t* pwszFile, const wchar_t* pwszStoreName, INyCertChanges* pChanges) {
  if (pwszFile == nullptr || pwszFile[0] == 0) return NY_E_INVALID_PARAM;
  if (GetFileAttributesW(pwszFile) == INVALID_FILE_ATTRIBUTES) return NYFAIL(ERROR_FILE_NOT_FOUND, "open", pwszFile);
  const NyCrypt32* pCrypt = NyGetCrypt32();
  if (pCrypt == nullptr) return NYFAIL(ERROR_PROC_NOT_FOUND, "LoadLibrary", L"crypt32.dll");

  // Shared reading: a certificate from the package is held open, for reading,
  // by the extraction until the run ends.
  const CNyFile file(
      CreateFileW(pwszFile, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return NYFAIL(GetLastError(), "CreateFileW", pwszFile);
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(file.Get(), &size) || size.QuadPart == 0) {
    return NYFAIL(NY_E_INVALID_DATA, "GetFileSizeEx", pwszFile);
  }
  if (size.QuadPart > kMaxCertificateFileSize) {
    NYLOG(LOG_LEVEL_OUTCOME, "certificate file is too large: %lld bytes", static_cast<long long>(size.QuadPart));
    return NY_E_INVALID_DATA;
  }
  const DWORD cbFile = static_cast<DWORD>(size.QuadPart);
  std::vector<BYTE> bytes;
  try {
    bytes.assign(cbFile + 1, 0);
  } catch (const std::bad_alloc&) {
    return NY_E_OUTOFMEMORY;
  }
  DWORD cbRead = 0;
  if (!ReadFile(file.Get(), bytes.data(), cbFile, &cbRead, nullptr)) {
    return NYFAIL(GetLastError(), "ReadFile", pwszFile);
  }
  if (cbRead != cbFile) return NYFAIL(NY_E_INVALID_DATA, "ReadFile", pwszFile);

  CNyCertStore store;
  uint32_t u4Result = OpenSystemStoreByName(*pCrypt, pwszStoreName, store.Put());
  if (u4Result != 0) return u4Result;
  const CNyCertContext cert(pCrypt->pfnCreateCertificateContext(X509_ASN_ENCODING, bytes.data(), cbFile));
  if (!cert) return NYFAIL(GetLastError(), "CertCreateCertificateContext", pwszFile);
  if (pChanges != nullptr) {
    const CNyCertContext held(
        pCrypt->pfnFindCertificateInStore(store.Get(), X509_ASN_ENCODING, 0, CERT_FIND_EXISTING, cert.Get(), nullptr));
    u4Result = pChanges->ChangingCertificate(cert.Get(), held.Get());
    if (u4Result != 0) return u4Result;
  }
  if (!pCrypt->pfnAddCertificateContextToStore(store.Get(), cert.Get(), CERT_STORE_ADD_REPLACE_EXISTING, nullptr)) {
    return NYFAIL(GetLastError(), "CertAddCertificateContextToStore", pwszFile);
  }
  return 0;
}

uint32_t CertTypeMask(const char* pszCertType) {
  const std::string text = pszCertType != nullptr ? pszCertType : "";
  uint32_t u4Mask = 0;
  if (text.find("RSA") != std::string::npos) u4Mask |= NY_CERT_KEY_RSA;
  if (text.find("SM2") != std::string::npos) u4Mask |= NY_CERT_KEY_SM2;
  if (text.find("ECC") != std::string::npos) u4Mask |= NY_CERT_KEY_ECC;
  return u4Mask;
}

uint32_t KeySpecMask(const char* pszKeySpec) {
  const std::string text = pszKeySpec != nullptr ? pszKeySpec : "";
  uint32_t u4Mask = 0;
  if (text.find("KEYEXCHANGE") != std::string::npos) u4Mask |= NY_CERT_SPEC_KEYEXCHANGE;
  if (text.find("SIGNATURE") != std::string::npos) u4Mask |= NY_CERT_SPEC_SIGNATURE;
  return u4Mask;
}

uint32_t RemoveMatchingCertificates(const NyCrypt32& crypt, HCERTSTORE hStore, const NyCertFilter& filter,
                                    uint32_t* pu4Removed, INyCertChanges* pChanges) {
  // A deletion can disturb the store's enumeration, so each one starts the
  // scan over. Every certificate already looked at (kept, or refused by the
  // store) is remembered by its encoded form and passed over from then on.
  std::set<std::string> seen;
  *pu4Removed = 0;
  bool bRescan = true;
  while (bRescan) {
    bRescan = false;
    PCCERT_CONTEXT pCert = nullptr;
    while ((pCert = crypt.pfnEnumCertificatesInStore(hStore, pCert)) != nullptr) {
      std::string encoded(reinterpret_cast<const char*>(pCert->pbCertEncoded), pCert->cbCertEncoded);
      if (!seen.insert(std::move(encoded)).second) continue;
      if (!MatchesFilter(crypt, pCert, filter)) continue;
      const uint32_t u4Result = NyCertChangesOrNone(pChanges).ChangingCertificate(pCert, pCert);
      if (u4Result != 0) {
        crypt.pfnFreeCertificateContext(pCert);
        return u4Result;
      }
      // The deletion frees the context it is given, the enumeration's own
      // context must stay valid until it is freed here.
      if (crypt.pfnDeleteCertificateFromStore(crypt.pfnDuplicateCertificateContext(pCert))) {
        ++*pu4Removed;
      } else {
        NYFAIL(GetLastError(), "CertDeleteCertificateFromStore", "a matching certificate");
      }
      crypt.pfnFreeCertificateContext(pCert);
      bRescan = true;
      break;
    }
  }
  return 0;
}

uint32_t RemoveCertificatesFromStore(const wchar_t* pwszStoreName, const NyCertFilter& filter,
                                     INyCertChanges* pChanges) {
  const NyCrypt32* pCrypt = NyGetCrypt32();
  if (pCrypt == nullptr) return NYFAIL(ERROR_PROC_NOT_FOUND, "LoadLibrary", L"crypt32.dll");
  CNyCertStore store;
  uint32_t u4Result = OpenSystemStoreByName(*pCrypt, pwszStoreName, store.Put());
  if (u4Result != 0) return u4Result;
  uint32_t u4Removed = 0;
  u4Result = RemoveMatchingCertificates(*pCrypt, store.Get(), filter, &u4Removed, pChanges);
  if (u4Removed == 0) return u4Result;
  const uint32_t u4Commit = CommitStore(*pCrypt, store.Get(), pwszStoreName);
  return u4Result != 0 ? u4Result : u4Commit;
}

std::wstring CertificateDisplayName(const NyCrypt32& crypt, PCCERT_CONTEXT pCert) {
  wchar_t wszName[256] = {};
  crypt.pfnGetNameStringW(pCert, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, wszName, ARRAYSIZE(wszName));
  return wszName;
}

uint32_t SerializeCertificate(const NyCrypt32& crypt, PCCERT_CONTEXT pCert, std::vector<uint8_t>* pElement) {
  DWORD cb = 0;
  if (!crypt.pfnSerializeCertificateStoreElement(pCert, 0, nullptr, &cb)) {
    return NYFAIL(GetLastError(), "CertSerializeCertificateStoreElement", "a certificate");
  }
  pElement->resize(cb);
  if (!crypt.pfnSerializeCertificateStoreElement(pCert, 0, pElement->data(), &cb)) {
    return NYFAIL(GetLastError(), "CertSerializeCertificateStoreElement", "a certificate");
  }
  pElement->resize(cb);
  return 0;
}

uint32_t RestoreCertificate(const wchar_t* pwszStoreName, const std::vector<uint8_t>& encoded,
                            const std::vector<uint8_t>& element) {
  const NyCrypt32* pCrypt = NyGetCrypt32();
  if (pCrypt == nullptr) return NYFAIL(ERROR_PROC_NOT_FOUND, "LoadLibrary", L"crypt32.dll");
  CNyCertStore store;
  const uint32_t u4Result = OpenSystemStoreByName(*pCrypt, pwszStoreName, store.Put());
  if (u4Result != 0) return u4Result;
  if (!element.empty()) {
    // Replacing whatever copy is there now brings back the old properties too.
    if (!pCrypt->pfnAddSerializedElementToStore(store.Get(), element.data(), static_cast<DWORD>(element.size()),
                                                CERT_STORE_ADD_REPLACE_EXISTING, 0, CERT_STORE_CERTIFICATE_CONTEXT_FLAG,
                                                nullptr, nullptr)) {
      return NYFAIL(GetLastError(), "CertAddSerializedElementToStore", pwszStoreName);
    }
    return CommitStore(*pCrypt, store.Get(), pwszStoreName);
  }
  const CNyCertContext cert(pCrypt->pfnCreateCertificateContext(X509_ASN_ENCODING, encoded.data(),
                                                                static_cast<DWORD>(encoded.size())));
  if (!cert) return NYFAIL(GetLastError(), "CertCreateCertificateContext", "a recorded certificate");
  PCCERT_CONTEXT pHeld =
      pCrypt->pfnFindCertificateInStore(store.Get(), X509_ASN_ENCODING, 0, CERT_FIND_EXISTING, cert.Get(), nullptr);
  if (pHeld == nullptr) return 0;
  if (!pCrypt->pfnDeleteCertificateFromStore(pHeld)) {
    return NYFAIL(GetLastError(), "CertDeleteCertificateFromStore", pwszStoreName);
  }
  return CommitStore(*pCrypt, store.Get(), pwszStoreName);
}
