#include "NyFileSigner.h"

#include <wincrypt.h>

#include <vector>

#include "NyHandle.h"
#include "NyImageLayout.h"
#include "NyLog.h"
#include "NySystem_Win.h"

namespace {

template <typename Fn>
bool Resolve(HMODULE hModule, const char* pszName, Fn* ppfn) {
  *ppfn = hModule != nullptr ? NyGetProcAs<Fn>(hModule, pszName) : nullptr;
  return *ppfn != nullptr;
}

struct NySignerApi {
  decltype(&CryptQueryObject) pfnQuery = nullptr;
  decltype(&CryptMsgGetParam) pfnMsgGetParam = nullptr;
  decltype(&CryptMsgClose) pfnMsgClose = nullptr;
  decltype(&CertFindCertificateInStore) pfnFind = nullptr;
  decltype(&CertFreeCertificateContext) pfnFreeCert = nullptr;
  decltype(&CertCloseStore) pfnCloseStore = nullptr;
  decltype(&CertGetNameStringW) pfnGetName = nullptr;
  decltype(&CertGetCertificateContextProperty) pfnGetProperty = nullptr;
};

bool LoadSignerApi(NySignerApi* pApi) {
  HMODULE hCrypt32 = NyLoadSystemLibrary(L"crypt32.dll");
  if (Resolve(hCrypt32, "CryptQueryObject", &pApi->pfnQuery) &&
      Resolve(hCrypt32, "CryptMsgGetParam", &pApi->pfnMsgGetParam) &&
      Resolve(hCrypt32, "CryptMsgClose", &pApi->pfnMsgClose) &&
      Resolve(hCrypt32, "CertFindCertificateInStore", &pApi->pfnFind) &&
      Resolve(hCrypt32, "CertFreeCertificateContext", &pApi->pfnFreeCert) &&
      Resolve(hCrypt32, "CertCloseStore", &pApi->pfnCloseStore) &&
      Resolve(hCrypt32, "CertGetNameStringW", &pApi->pfnGetName) &&
      Resolve(hCrypt32, "CertGetCertificateContextProperty", &pApi->pfnGetProperty))
    return true;
  NYFAIL(ERROR_PROC_NOT_FOUND, "NyLoadSystemLibrary", "crypt32.dll");
  return false;
}

// Loaded once for the process; null when crypt32 or an entry point is missing.
const NySignerApi* SignerApi() {
  static NySignerApi s_api;
  static const bool s_bLoaded = LoadSignerApi(&s_api);
  return s_bLoaded ? &s_api : nullptr;
}

// What CryptQueryObject hands out for an embedded signature, and the
// signer's certificate found in it, released together.
struct CSignature {
  explicit CSignature(const NySignerApi& api) : m_api(api) {}
  ~CSignature() {
    if (m_pCert != nullptr) m_api.pfnFreeCert(m_pCert);
    if (m_hMsg != nullptr) m_api.pfnMsgClose(m_hMsg);
    if (m_hStore != nullptr) m_api.pfnCloseStore(m_hStore, 0);
  }
  CSignature(const CSignature&) = delete;
  CSignature& operator=(const CSignature&) = delete;

  const NySignerApi& m_api;
  HCERTSTORE m_hStore = nullptr;
  HCRYPTMSG m_hMsg = nullptr;
  PCCERT_CONTEXT m_pCert = nullptr;
};

void ReadCertificate(const NySignerApi& api, PCCERT_CONTEXT pCert, NyFileSigner* pSigner) {
  DWORD dwNameType = CERT_X500_NAME_STR;
  wchar_t wszSubject[512] = {};
  if (api.pfnGetName(pCert, CERT_NAME_RDN_TYPE, 0, &dwNameType, wszSubject, ARRAYSIZE(wszSubject)) > 1)
    pSigner->subject = wszSubject;
  BYTE abHash[20] = {};
  DWORD cbHash = sizeof(abHash);
  if (!api.pfnGetProperty(pCert, CERT_SHA1_HASH_PROP_ID, abHash, &cbHash)) return;
  static const wchar_t kDigits[] = L"0123456789ABCDEF";
  for (DWORD i = 0; i < cbHash; ++i) {
    pSigner->thumbprint += kDigits[abHash[i] >> 4];
    pSigner->thumbprint += kDigits[abHash[i] & 15];
  }
}

// The PKCS #7 signed data of the file's Authenticode signature, read from
// its certificate table: the system's own reader of a signed file goes
// through the subject-interface packages (wintrust and imagehlp under Wine),
// which cost more to load than the rest of a small install. Empty when the
// file is not signed. Authenticode's signatures are the last thing in the
// file: bytes after them make WinVerifyTrust (and osslsigncode) find no
// signature at all, so such a file counts as unsigned too.
uint32_t ReadSignedData(const wchar_t* pwszPath, std::vector<BYTE>* pSigned) {
  pSigned->clear();
  const CNyFile file(CreateFileW(pwszPath, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                 nullptr, OPEN_EXISTING, 0, nullptr));
  if (!file) return NYFAIL(GetLastError(), "CreateFileW", pwszPath);
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(file.Get(), &size)) return NYFAIL(GetLastError(), "GetFileSizeEx", pwszPath);
  BYTE abHeaders[4096];
  DWORD cbHeaders = 0;
  if (!ReadFile(file.Get(), abHeaders, sizeof(abHeaders), &cbHeaders, nullptr))
    return NYFAIL(GetLastError(), "ReadFile", pwszPath);
  uint32_t u4Offset = 0, u4Size = 0;
  if (!NyImageCertificateTable(abHeaders, cbHeaders, &u4Offset, &u4Size) ||
      uint64_t(u4Offset) + u4Size != uint64_t(size.QuadPart)) {
    return 0;
  }
  std::vector<BYTE> table(u4Size);
  LARGE_INTEGER at{};
  at.QuadPart = u4Offset;
  DWORD cbRead = 0;
  if (!SetFilePointerEx(file.Get(), at, nullptr, FILE_BEGIN)) return NYFAIL(GetLastError(), "SetFilePointerEx", pwszPath);
  if (!ReadFile(file.Get(), table.data(), u4Size, &cbRead, nullptr)) return NYFAIL(GetLastError(), "ReadFile", pwszPath);
  size_t cbSigned = 0, cbSize = 0;
  if (cbRead != u4Size || !NyImageFirstSignature(table.data(), table.size(), &cbSigned, &cbSize)) return 0;
  pSigned->assign(table.begin() + cbSigned, table.begin() + cbSigned + cbSize);
  return 0;
}

}  // namespace

uint32_t ReadFileSigner(const wchar_t* pwszPath, NyFileSigner* pSigner) {
  *pSigner = NyFileSigner();
  std::vector<BYTE> signedData;
  const uint32_t u4Result = ReadSignedData(pwszPath, &signedData);
  if (u4Result != 0 || signedData.empty()) return u4Result;
  const NySignerApi* pApi = SignerApi();
  if (pApi == nullptr) return ERROR_PROC_NOT_FOUND;
  CSignature signature(*pApi);
  DWORD dwEncoding = 0, dwContent = 0, dwFormat = 0;
  CRYPT_DATA_BLOB blob{static_cast<DWORD>(signedData.size()), signedData.data()};
  // A signature the system cannot read is no signature.
  if (!pApi->pfnQuery(CERT_QUERY_OBJECT_BLOB, &blob, CERT_QUERY_CONTENT_FLAG_PKCS7_SIGNED, CERT_QUERY_FORMAT_FLAG_BINARY,
                      0, &dwEncoding, &dwContent, &dwFormat, &signature.m_hStore, &signature.m_hMsg, nullptr))
    return 0;
  DWORD cbInfo = 0;
  if (!pApi->pfnMsgGetParam(signature.m_hMsg, CMSG_SIGNER_CERT_INFO_PARAM, 0, nullptr, &cbInfo) || cbInfo == 0)
    return 0;
  std::vector<BYTE> info(cbInfo);
  if (!pApi->pfnMsgGetParam(signature.m_hMsg, CMSG_SIGNER_CERT_INFO_PARAM, 0, info.data(), &cbInfo)) return 0;
  signature.m_pCert = pApi->pfnFind(signature.m_hStore, dwEncoding, 0, CERT_FIND_SUBJECT_CERT, info.data(), nullptr);
  if (signature.m_pCert != nullptr) ReadCertificate(*pApi, signature.m_pCert, pSigner);
  return 0;
}
