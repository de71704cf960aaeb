// RegCertFile and UnRegCert on the current user's and the local machine's
// system stores, with certificates made at build time by openssl.
#include <windows.h>
#include <wincrypt.h>

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "ActionHarness.h"
#include "CaptureLogger.h"
#include "NyCertStore.h"
#include "NyResult.h"
#include "NySystem_Win.h"
#include "ScratchDir.h"
#include "TestProcess.h"
#include "UndoJournal.h"

namespace {

const wchar_t kProvider[] = L"Zorvak Smart Card Crypto Provider";

std::wstring CertPath(const std::wstring& name) { return ExeDir() + L"certs\\" + name; }

std::vector<BYTE> ReadBytes(const std::wstring& path) {
  const std::string text = ReadTextFile(path);
  return std::vector<BYTE>(text.begin(), text.end());
}

const NyCrypt32& Crypt() {
  const NyCrypt32* pCrypt = NyGetCrypt32();
  if (pCrypt == nullptr) ADD_FAILURE() << "crypt32 did not load";
  static const NyCrypt32 s_empty{};
  return pCrypt != nullptr ? *pCrypt : s_empty;
}

// A certificate context of a DER file, freed with the holder.
class Cert {
 public:
  explicit Cert(const std::wstring& name) : m_bytes(ReadBytes(CertPath(name))) {
    m_pCert = Crypt().pfnCreateCertificateContext(X509_ASN_ENCODING, m_bytes.data(), static_cast<DWORD>(m_bytes.size()));
    if (m_pCert == nullptr) ADD_FAILURE() << Narrow(name) << " does not decode: " << std::hex << GetLastError();
  }
  ~Cert() {
    if (m_pCert != nullptr) Crypt().pfnFreeCertificateContext(m_pCert);
  }
  Cert(const Cert&) = delete;
  Cert& operator=(const Cert&) = delete;
  PCCERT_CONTEXT Get() const { return m_pCert; }

 private:
  std::vector<BYTE> m_bytes;
  PCCERT_CONTEXT m_pCert = nullptr;
};

class Store {
 public:
  explicit Store(const wchar_t* pwszName) { EXPECT_EQ(OpenSystemStoreByName(Crypt(), pwszName, &m_hStore), 0u); }
  Store(const wchar_t* pwszName, DWORD dwFlags) {
    m_hStore = Crypt().pfnOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, dwFlags, pwszName);
    EXPECT_NE(m_hStore, nullptr);
  }
  ~Store() {
    if (m_hStore != nullptr) Crypt().pfnCloseStore(m_hStore, CERT_CLOSE_STORE_FORCE_FLAG);
  }
  Store(const Store&) = delete;
  Store& operator=(const Store&) = delete;
  HCERTSTORE Get() const { return m_hStore; }

  // Copies of the certificate in the store.
  int Count(const Cert& cert) const {
    int nCount = 0;
    PCCERT_CONTEXT p = nullptr;
    while ((p = Crypt().pfnFindCertificateInStore(m_hStore, X509_ASN_ENCODING, 0, CERT_FIND_EXISTING, cert.Get(), p)) !=
           nullptr)
      ++nCount;
    return nCount;
  }
  // Adds the certificate; with a provider name, key-provider information
  // as a smart-card provider sets it.
  void Add(const Cert& cert, const wchar_t* pwszProvider = nullptr, const wchar_t* pwszContainer = L"container",
           DWORD dwKeySpec = AT_KEYEXCHANGE) {
    PCCERT_CONTEXT pAdded = nullptr;
    ASSERT_TRUE(Crypt().pfnAddCertificateContextToStore(m_hStore, cert.Get(), CERT_STORE_ADD_REPLACE_EXISTING, &pAdded));
    if (pwszProvider != nullptr) {
      CRYPT_KEY_PROV_INFO info{};
      info.pwszContainerName = const_cast<wchar_t*>(pwszContainer);
      info.pwszProvName = const_cast<wchar_t*>(pwszProvider);
      info.dwProvType = PROV_RSA_FULL;
      info.dwKeySpec = dwKeySpec;
      EXPECT_TRUE(Crypt().pfnSetCertificateContextProperty(pAdded, CERT_KEY_PROV_INFO_PROP_ID, 0, &info));
    }
    Crypt().pfnFreeCertificateContext(pAdded);
  }
  // The key container its key-provider information names, or "<none>".
  std::string Container(const Cert& cert) const {
    PCCERT_CONTEXT p = Crypt().pfnFindCertificateInStore(m_hStore, X509_ASN_ENCODING, 0, CERT_FIND_EXISTING,
                                                         cert.Get(), nullptr);
    if (p == nullptr) return "<missing>";
    std::vector<BYTE> info(1024);
    DWORD cb = static_cast<DWORD>(info.size());
    const bool bHas = Crypt().pfnGetCertificateContextProperty(p, CERT_KEY_PROV_INFO_PROP_ID, info.data(), &cb);
    Crypt().pfnFreeCertificateContext(p);
    return bHas ? Narrow(reinterpret_cast<const CRYPT_KEY_PROV_INFO*>(info.data())->pwszContainerName) : "<none>";
  }
  void Remove(const Cert& cert) {
    PCCERT_CONTEXT p = nullptr;
    while ((p = Crypt().pfnFindCertificateInStore(m_hStore, X509_ASN_ENCODING, 0, CERT_FIND_EXISTING, cert.Get(),
                                                  nullptr)) != nullptr) {
      Crypt().pfnDeleteCertificateFromStore(p);
    }
    Crypt().pfnControlStore(m_hStore, 0, CERT_STORE_CTRL_COMMIT, nullptr);
  }

 private:
  HCERTSTORE m_hStore = nullptr;
};

const char* const kCertNames[] = {"rsa", "rsa2", "rsa3", "p256", "k256", "sm2", "explicit", "ed25519"};

class CertActions : public ActionHarness {
 protected:
  void SetUp() override {
    for (const char* pszName : kCertNames) m_certs[pszName] = std::make_unique<Cert>(Widen(pszName) + L".cer");
    Clean();
  }
  void TearDown() override { Clean(); }
  static std::wstring Widen(const std::string& s) { return std::wstring(s.begin(), s.end()); }
  void Clean() {
    Store my(L"MY");
    for (auto& entry : m_certs) my.Remove(*entry.second);
  }
  const Cert& C(const char* pszName) { return *m_certs[pszName]; }
  // Which of the test certificates are in MY, by name.
  std::string InMy() {
    Store my(L"MY");
    std::string names;
    for (const char* pszName : kCertNames)
      if (my.Count(C(pszName)) > 0) names += std::string(names.empty() ? "" : " ") + pszName;
    return names;
  }
  uint32_t UnReg(const std::string& attributes) { return Run("<UnRegCert StoreName='MY' " + attributes + "/>"); }

  std::map<std::string, std::unique_ptr<Cert>> m_certs;
};

TEST_F(CertActions, KeysAreClassifiedFromTheDecodedAlgorithm) {
  EXPECT_EQ(ClassifyCertificateKey(Crypt(), C("rsa").Get()), NY_CERT_KEY_RSA);
  EXPECT_EQ(ClassifyCertificateKey(Crypt(), C("p256").Get()), NY_CERT_KEY_ECC);
  EXPECT_EQ(ClassifyCertificateKey(Crypt(), C("k256").Get()), NY_CERT_KEY_ECC);
  EXPECT_EQ(ClassifyCertificateKey(Crypt(), C("sm2").Get()), NY_CERT_KEY_SM2);
  EXPECT_EQ(ClassifyCertificateKey(Crypt(), C("explicit").Get()), NY_CERT_KEY_ECC);
  EXPECT_EQ(ClassifyCertificateKey(Crypt(), C("ed25519").Get()), NY_CERT_KEY_RSA);

  // The SM2 algorithm identifiers themselves, a curve outside the table and
  // a curve identifier that does not decode, on a copy of a decoded certificate.
  CERT_INFO info = *C("p256").Get()->pCertInfo;
  CERT_CONTEXT context = *C("p256").Get();
  context.pCertInfo = &info;
  for (const char* pszOid : {"1.2.156.10197.1.301", "1.2.156.10197.1.301.3"}) {
    info.SubjectPublicKeyInfo.Algorithm.pszObjId = const_cast<char*>(pszOid);
    EXPECT_EQ(ClassifyCertificateKey(Crypt(), &context), NY_CERT_KEY_SM2) << pszOid;
  }
  info.SubjectPublicKeyInfo.Algorithm.pszObjId = const_cast<char*>(szOID_ECC_PUBLIC_KEY);
  BYTE abSecp256r1[] = {0x06, 0x08, 0x2A, 0x86, 0x48, 0xCE, 0x3D, 0x03, 0x01, 0x07};
  BYTE abBrainpool[] = {0x06, 0x09, 0x2B, 0x24, 0x03, 0x03, 0x02, 0x08, 0x01, 0x01, 0x07};
  BYTE abBroken[] = {0x06, 0x05, 0x2B};
  BYTE abNull[] = {0x05, 0x00};
  const struct {
    BYTE* pb;
    DWORD cb;
    uint32_t u4Class;
  } cases[] = {{abSecp256r1, sizeof(abSecp256r1), NY_CERT_KEY_ECC},
               {abBrainpool, sizeof(abBrainpool), NY_CERT_KEY_RSA},
               {abBroken, sizeof(abBroken), NY_CERT_KEY_RSA},
               {abNull, sizeof(abNull), NY_CERT_KEY_ECC}};
  for (const auto& c : cases) {
    info.SubjectPublicKeyInfo.Algorithm.Parameters = {c.cb, c.pb};
    EXPECT_EQ(ClassifyCertificateKey(Crypt(), &context), c.u4Class) << c.cb;
  }
}

TEST_F(CertActions, MasksAreFoundCaseSensitively) {
  EXPECT_EQ(CertTypeMask("RSA|ECC"), NY_CERT_KEY_RSA | NY_CERT_KEY_ECC);
  EXPECT_EQ(CertTypeMask("SM2,RSA ECC"), NY_CERT_KEY_RSA | NY_CERT_KEY_SM2 | NY_CERT_KEY_ECC);
  EXPECT_EQ(CertTypeMask("rsa|ecc"), 0u);
  EXPECT_EQ(KeySpecMask("KEYEXCHANGE|SIGNATURE"), 3u);
  EXPECT_EQ(KeySpecMask("SIGNATURE"), 2u);
  EXPECT_EQ(KeySpecMask("signature"), 0u);
}

TEST_F(CertActions, UnRegCertRemovesTheProvidersCertificatesOfTheWantedKinds) {
  {
    Store my(L"MY");
    for (const char* pszName : {"rsa", "p256", "k256", "sm2", "explicit", "ed25519"}) my.Add(C(pszName), kProvider);
    my.Add(C("rsa2"), L"Another Provider");
    my.Add(C("rsa3"));  // no key-provider information
  }
  EXPECT_EQ(UnReg("CertType='RSA|ECC' KeySpec='KEYEXCHANGE|SIGNATURE' CspName='zorvak SMART card crypto provider'"),
            0u);
  EXPECT_EQ(InMy(), "rsa2 rsa3 sm2");
  EXPECT_EQ(UnReg("CertType='SM2' KeySpec='KEYEXCHANGE'"), 0u);
  EXPECT_EQ(InMy(), "rsa2 rsa3");
  // No provider and no container: every certificate with key-provider
  // information that passes the other tests goes; one without never does.
  EXPECT_EQ(UnReg("CertType='RSA|SM2|ECC' KeySpec='KEYEXCHANGE|SIGNATURE' CspName='' CntName=''"), 0u);
  EXPECT_EQ(InMy(), "rsa3");
  EXPECT_EQ(UnReg("CertType='RSA|SM2|ECC' KeySpec='KEYEXCHANGE|SIGNATURE'"), 0u);
  EXPECT_EQ(InMy(), "rsa3");
}

TEST_F(CertActions, UnRegCertFiltersByContainerKeySpecAndLetterCase) {
  {
    Store my(L"MY");
    my.Add(C("rsa"), kProvider, L"Container-A", AT_KEYEXCHANGE);
    my.Add(C("rsa2"), kProvider, L"Container-B", AT_SIGNATURE);
    my.Add(C("rsa3"), kProvider, L"Container-B", AT_KEYEXCHANGE);
    my.Add(C("p256"), kProvider, L"Container-A", 7);  // a KeySpec outside the filter passes it
  }
  EXPECT_EQ(UnReg("CertType='rsa|ecc' KeySpec='KEYEXCHANGE|SIGNATURE'"), 0u);
  EXPECT_EQ(InMy(), "rsa rsa2 rsa3 p256") << "lower-case kinds name no kind";
  EXPECT_EQ(UnReg("CertType='RSA' KeySpec='keyexchange|SIGNATURE'"), 0u);
  EXPECT_EQ(InMy(), "rsa rsa3 p256") << "lower-case KeySpec names match nothing";
  EXPECT_EQ(UnReg("CertType='RSA|ECC' KeySpec='SIGNATURE' CntName='container-a'"), 0u);
  EXPECT_EQ(InMy(), "rsa rsa3");
  EXPECT_EQ(UnReg("CertType='RSA|ECC' KeySpec='KEYEXCHANGE' CspName='Other' CntName='CONTAINER-B'"), 0u);
  EXPECT_EQ(InMy(), "rsa rsa3");
  EXPECT_EQ(UnReg("CertType='RSA|ECC' KeySpec='KEYEXCHANGE' CspName='" + Narrow(kProvider) + "' CntName='CONTAINER-B'"),
            0u);
  EXPECT_EQ(InMy(), "rsa");
}

TEST_F(CertActions, RefusedDeletionsAreNotTriedAgain) {
  {
    Store my(L"MY");
    for (const char* pszName : {"rsa", "rsa2", "p256"}) my.Add(C(pszName), kProvider);
  }
  Store readOnly(L"MY", CERT_SYSTEM_STORE_CURRENT_USER | CERT_STORE_READONLY_FLAG);
  CaptureLogger log;
  const NyCertFilter filter{NY_CERT_KEY_RSA | NY_CERT_KEY_ECC, 3, kProvider, nullptr};
  uint32_t u4Removed = 1;
  EXPECT_EQ(RemoveMatchingCertificates(Crypt(), readOnly.Get(), filter, &u4Removed), 0u);
  EXPECT_EQ(u4Removed, 0u);
  EXPECT_EQ(InMy(), "rsa rsa2 p256");
  int nRefused = 0;
  for (const auto& line : log.lines)
    if (line.text.rfind("CertDeleteCertificateFromStore failed for a matching certificate (error 0x", 0) == 0) ++nRefused;
  EXPECT_EQ(nRefused, 3);
}

TEST_F(CertActions, UnRegCertSucceedsOnAnEmptyStore) {
  EXPECT_EQ(Run("<UnRegCert StoreName='ZorvakEmptyTestStore' CertType='RSA' KeySpec='SIGNATURE'/>"), 0u);
  RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Microsoft\\SystemCertificates\\ZorvakEmptyTestStore");
}

TEST_F(CertActions, RegCertFileAddsOneCopy) {
  const std::string rsa = Narrow(CertPath(L"rsa.cer"));
  // Held open for reading, as the extraction holds what it extracted.
  const HANDLE hHeld = CreateFileW(CertPath(L"rsa.cer").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                   0, nullptr);
  ASSERT_NE(hHeld, INVALID_HANDLE_VALUE);
  EXPECT_EQ(Run("<RegCertFile Src='" + rsa + "'/>"), 0u);
  CloseHandle(hHeld);
  EXPECT_EQ(Run("<RegCertFile Src='" + rsa + "' StoreName='my'/>"), 0u);
  Store my(L"MY");
  EXPECT_EQ(my.Count(C("rsa")), 1);
  // Added without key-provider information, so UnRegCert leaves it.
  EXPECT_EQ(UnReg("CertType='RSA' KeySpec='KEYEXCHANGE|SIGNATURE'"), 0u);
  EXPECT_EQ(InMy(), "rsa");
}

TEST_F(CertActions, RegCertFileWithRootGoesToTheMachinesRootStore) {
  EXPECT_EQ(Run("<RegCertFile Src='" + Narrow(CertPath(L"p256.cer")) + "' StoreName='root'/>"), 0u);
  Store root(L"ROOT", CERT_SYSTEM_STORE_LOCAL_MACHINE);
  EXPECT_EQ(root.Count(C("p256")), 1);
  root.Remove(C("p256"));
  EXPECT_EQ(InMy(), "");
}

TEST_F(CertActions, RegCertFileReportsBadFiles) {
  ScratchDir dir(L"ny_certs");
  EXPECT_EQ(Run("<RegCertFile Src='" + Narrow(dir / L"missing.cer") + "'/>"), 2u);
  EXPECT_EQ(Run("<RegCertFile Src='" + Narrow(CertPath(L"empty.cer")) + "'/>"), NY_E_INVALID_DATA);
  const std::vector<BYTE> pem = ReadBytes(CertPath(L"rsa.pem"));
  ASSERT_EQ(Crypt().pfnCreateCertificateContext(X509_ASN_ENCODING, pem.data(), static_cast<DWORD>(pem.size())), nullptr);
  const DWORD dwPlatformError = GetLastError();
  EXPECT_NE(dwPlatformError, 0u);
  EXPECT_EQ(Run("<RegCertFile Src='" + Narrow(CertPath(L"rsa.pem")) + "'/>"), dwPlatformError);
  // A file far larger than any certificate is refused before it is read.
  const std::wstring huge = dir / L"huge.cer";
  HANDLE hHuge = CreateFileW(huge.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  LARGE_INTEGER size{};
  size.QuadPart = (16 << 20) + 1;
  ASSERT_TRUE(SetFilePointerEx(hHuge, size, nullptr, FILE_BEGIN) && SetEndOfFile(hHuge));
  CloseHandle(hHuge);
  EXPECT_EQ(Run("<RegCertFile Src='" + Narrow(huge) + "'/>"), NY_E_INVALID_DATA);
  // A file held open without sharing cannot be read.
  const std::wstring locked = dir / L"locked.cer";
  ASSERT_TRUE(CopyFileW(CertPath(L"rsa.cer").c_str(), locked.c_str(), FALSE));
  HANDLE hLocked = CreateFileW(locked.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  EXPECT_EQ(Run("<RegCertFile Src='" + Narrow(locked) + "'/>"), static_cast<uint32_t>(ERROR_SHARING_VIOLATION));
  CloseHandle(hLocked);
}

TEST_F(CertActions, AnUndoPutsBackRemovedAndReplacedCertificatesWithTheirProperties) {
  {
    Store my(L"MY");
    my.Add(C("rsa"), kProvider, L"removed");
    my.Add(C("p256"), L"Other Provider", L"replaced");
  }
  UndoJournal journal;
  EXPECT_EQ(Make("<UnRegCert StoreName='MY' CertType='RSA' KeySpec='KEYEXCHANGE' CspName='" + Narrow(kProvider) + "'/>")
                ->Do(journal.Info()),
            0u);
  for (const wchar_t* pwszFile : {L"p256.cer", L"rsa2.cer"}) {
    EXPECT_EQ(Make("<RegCertFile Src='" + Narrow(CertPath(pwszFile)) + "'/>")->Do(journal.Info()), 0u);
  }
  ASSERT_EQ(InMy(), "rsa2 p256");
  EXPECT_EQ(journal.Count("CERT"), 3u);
  for (int nRound = 0; nRound < 2; ++nRound) {
    EXPECT_EQ(journal.UndoAll(), 0u) << nRound;
    EXPECT_EQ(InMy(), "rsa p256") << nRound;
    Store my(L"MY");
    EXPECT_EQ(my.Container(C("rsa")), "removed") << nRound;
    EXPECT_EQ(my.Container(C("p256")), "replaced") << nRound;
  }
  journal.ExpectCutStepsRefused();
}

TEST_F(CertActions, AttributesAndTemplates) {
  EXPECT_EQ(Make("<RegCertFile/>")->LoadConfig(0), NY_E_ATTR_MISSING);
  EXPECT_EQ(Make("<RegCertFile Src=''/>")->LoadConfig(0), NY_E_INVALID_PARAM);
  EXPECT_EQ(Make("<RegCertFile Src='a.cer' StoreName=''/>")->Do(nullptr), NY_E_INVALID_PARAM);
  EXPECT_EQ(Describe(Make("<RegCertFile Src='a.cer'/>")), "Register cert file a.cer to MY");
  EXPECT_EQ(Describe(Make("<RegCertFile Src='a.cer' StoreName='CA'/>")), "Register cert file a.cer to CA");
  EXPECT_EQ(DescribeWithoutTemplate("<RegCertFile Src='a.cer'/>"), NY_E_NO_TEMPLATE);

  EXPECT_EQ(Make("<UnRegCert CertType='RSA' KeySpec='SIGNATURE'/>")->LoadConfig(0), NY_E_ATTR_MISSING);
  EXPECT_EQ(Make("<UnRegCert StoreName='MY' KeySpec='SIGNATURE'/>")->LoadConfig(0), NY_E_ATTR_MISSING);
  EXPECT_EQ(Make("<UnRegCert StoreName='MY' CertType='RSA'/>")->LoadConfig(0), NY_E_ATTR_MISSING);
  EXPECT_EQ(Make("<UnRegCert StoreName='MY' CertType='' KeySpec='SIGNATURE'/>")->Do(nullptr), NY_E_INVALID_PARAM);
  EXPECT_EQ(Make("<UnRegCert StoreName='MY' CertType='RSA' KeySpec=''/>")->Do(nullptr), NY_E_INVALID_PARAM);
  EXPECT_EQ(Describe(Make("<UnRegCert StoreName='MY' CertType='RSA|ECC' KeySpec='SIGNATURE'/>")),
            "Unregister RSA|ECC cert in MY");
  EXPECT_EQ(DescribeWithoutTemplate("<UnRegCert StoreName='MY' CertType='RSA' KeySpec='SIGNATURE'/>"),
            NY_E_NO_TEMPLATE);
}

}  // namespace
