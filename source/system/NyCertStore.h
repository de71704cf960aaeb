#pragma once
// Certificate-store routines of the certificate actions, over the system's
// CryptoAPI stores. crypt32 is not a KnownDLL, so it is loaded from the
// system folder at run time and every entry point is resolved from there.
#include <windows.h>
#include <wincrypt.h>

#include <cstdint>
#include <string>
#include <vector>

// The crypt32 entry points the certificate routines (and their tests) call.
struct NyCrypt32 {
  decltype(&CertOpenStore) pfnOpenStore;
  decltype(&CertCloseStore) pfnCloseStore;
  decltype(&CertControlStore) pfnControlStore;
  decltype(&CertCreateCertificateContext) pfnCreateCertificateContext;
  decltype(&CertDuplicateCertificateContext) pfnDuplicateCertificateContext;
  decltype(&CertFreeCertificateContext) pfnFreeCertificateContext;
  decltype(&CertAddCertificateContextToStore) pfnAddCertificateContextToStore;
  decltype(&CertEnumCertificatesInStore) pfnEnumCertificatesInStore;
  decltype(&CertFindCertificateInStore) pfnFindCertificateInStore;
  decltype(&CertGetCertificateContextProperty) pfnGetCertificateContextProperty;
  decltype(&CertSetCertificateContextProperty) pfnSetCertificateContextProperty;
  decltype(&CertDeleteCertificateFromStore) pfnDeleteCertificateFromStore;
  decltype(&CryptDecodeObjectEx) pfnDecodeObjectEx;
  decltype(&CertSerializeCertificateStoreElement) pfnSerializeCertificateStoreElement;
  decltype(&CertAddSerializedElementToStore) pfnAddSerializedElementToStore;
  decltype(&CertGetNameStringW) pfnGetNameStringW;
};

// The entry points, loaded once for the process; null when crypt32 or one
// of them is missing.
const NyCrypt32* NyGetCrypt32();

// Key algorithm classes; the values are the bits of UnRegCert's CertType mask.
constexpr uint32_t NY_CERT_KEY_RSA = 1;
constexpr uint32_t NY_CERT_KEY_SM2 = 2;
constexpr uint32_t NY_CERT_KEY_ECC = 4;
// Key usages; the values equal the platform's AT_KEYEXCHANGE and AT_SIGNATURE.
constexpr uint32_t NY_CERT_SPEC_KEYEXCHANGE = AT_KEYEXCHANGE;
constexpr uint32_t NY_CERT_SPEC_SIGNATURE = AT_SIGNATURE;

// The class of the certificate's subject public key, from the algorithm the
// system decoded with the certificate and, for an elliptic-curve key, the
// curve decoded with the system's decoder. Anything not recognised is RSA.
uint32_t ClassifyCertificateKey(const NyCrypt32& crypt, PCCERT_CONTEXT pCert);

// "MY" (or an empty name), and any name not listed, are current-user stores;
// "ROOT", "TRUST" and "CA" (any letter case) the local machine's. *phStore
// is null on failure and the platform's error is returned.
uint32_t OpenSystemStoreByName(const NyCrypt32& crypt, const wchar_t* pwszStoreName, HCERTSTORE* phStore);

// Told before a certificate is added to a store (replacing the store's copy
// of it, if any) or deleted from it, with the copy the store holds now
// (null: none). The base class keeps no record and lets the change go on.
class INyCertChanges {
 public:
  virtual ~INyCertChanges() = default;
  virtual uint32_t ChangingCertificate(PCCERT_CONTEXT pCert, PCCERT_CONTEXT pHeld);
};

// Adds the DER X.509 certificate in the file to the named store, replacing
// an existing copy of it. A missing file gives 2, an empty one 0xE0600003.
uint32_t AddCertificateFileToStore(const wchar_t* pwszFile, const wchar_t* pwszStoreName,
                                   INyCertChanges* pChanges = nullptr);

// Which certificates are removed: those whose key-provider information names
// the provider and container (when given, ignoring case), whose KeySpec is
// in u4SpecMask and whose key class is in u4TypeMask.
struct NyCertFilter {
  uint32_t u4TypeMask;
  uint32_t u4SpecMask;
  const wchar_t* pwszCspName;  // null or empty: any provider
  const wchar_t* pwszCntName;  // null or empty: any container
};

// The masks of UnRegCert's texts: "RSA", "SM2", "ECC" and "KEYEXCHANGE",
// "SIGNATURE", found anywhere in the text, case-sensitively.
uint32_t CertTypeMask(const char* pszCertType);
uint32_t KeySpecMask(const char* pszKeySpec);

// Removes every matching certificate of an open store. A certificate whose
// deletion the store refuses is left and not tried again; every certificate
// is looked at once. *pu4Removed is the number removed. Returns 0, or the
// code with which pChanges stopped the removal before a deletion.
uint32_t RemoveMatchingCertificates(const NyCrypt32& crypt, HCERTSTORE hStore, const NyCertFilter& filter,
                                    uint32_t* pu4Removed, INyCertChanges* pChanges = nullptr);

// Opens the named store and removes the matching certificates; 0 whether or
// not any were removed, or the error of opening the store or of committing
// the removals, or pChanges' code.
uint32_t RemoveCertificatesFromStore(const wchar_t* pwszStoreName, const NyCertFilter& filter,
                                     INyCertChanges* pChanges = nullptr);

// The certificate's subject as people read it, for the log.
std::wstring CertificateDisplayName(const NyCrypt32& crypt, PCCERT_CONTEXT pCert);
// The certificate with its properties, as the store keeps it.
uint32_t SerializeCertificate(const NyCrypt32& crypt, PCCERT_CONTEXT pCert, std::vector<uint8_t>* pElement);
// Puts the named store's copy of the DER certificate back as it was: the
// serialized element (with its properties), or, when that is empty, none.
uint32_t RestoreCertificate(const wchar_t* pwszStoreName, const std::vector<uint8_t>& encoded,
                            const std::vector<uint8_t>& element);
