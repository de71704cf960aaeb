// SHA-256 on Windows: the processor's SHA extensions where it has them;
// elsewhere CryptoAPI's AES provider, which has SHA-256 from Windows XP SP3
// on and lives in advapi32, a KnownDLL. Under Wine it is also the faster of
// the system's two hashes.
#include <windows.h>
#include <wincrypt.h>

#include <memory>

#include "NyLog.h"
#include "NyHandle.h"
#include "NyPackageDigest.h"
#include "NyResult.h"
#include "NySha256Blocks.h"

namespace {

struct NyCryptProviderTraits {
  using Type = HCRYPTPROV;
  static Type Empty() { return 0; }
  static void Release(Type h) { CryptReleaseContext(h, 0); }
};
struct NyCryptHashTraits {
  using Type = HCRYPTHASH;
  static Type Empty() { return 0; }
  static void Release(Type h) { CryptDestroyHash(h); }
};

// One provider for the process: acquiring one reads the registry, and a
// provider serves hash objects on any number of threads at once.
HCRYPTPROV Provider() {
  static const CNyUnique<NyCryptProviderTraits> s_provider([] {
    HCRYPTPROV hProvider = 0;
    if (!CryptAcquireContextW(&hProvider, nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT | CRYPT_SILENT)) {
      NYFAIL(GetLastError(), "CryptAcquireContextW", "PROV_RSA_AES");
      return HCRYPTPROV(0);
    }
    return hProvider;
  }());
  return s_provider.Get();
}

}  // namespace

struct CNySha256::State {
  CNyUnique<NyCryptHashTraits> hash;
  std::unique_ptr<CNySha256Blocks> blocks;
};

CNySha256::CNySha256() : m_pState(new State) {
  static const bool s_bShaExtensions = NySha256HasShaExtensions();
  if (s_bShaExtensions) m_pState->blocks = std::make_unique<CNySha256Blocks>();
}

CNySha256::~CNySha256() = default;

uint32_t CNySha256::Add(const void* pv, size_t cb) {
  State& state = *m_pState;
  if (state.blocks != nullptr) {
    state.blocks->Add(pv, cb);
    return 0;
  }
  if (!state.hash) {
    const HCRYPTPROV hProvider = Provider();
    if (hProvider == 0) return NY_E_FAIL;
    if (!CryptCreateHash(hProvider, CALG_SHA_256, 0, 0, state.hash.Put()))
      return NYFAIL(GetLastError(), "CryptCreateHash", "CALG_SHA_256");
  }
  // CryptHashData takes a 32-bit count.
  const auto* pb = static_cast<const BYTE*>(pv);
  while (cb != 0) {
    const DWORD cbPart = cb > 0x40000000u ? 0x40000000u : static_cast<DWORD>(cb);
    if (!CryptHashData(state.hash.Get(), pb, cbPart, 0)) return NYFAIL(GetLastError(), "CryptHashData", "CALG_SHA_256");
    pb += cbPart;
    cb -= cbPart;
  }
  return 0;
}

uint32_t CNySha256::Finish(NySha256* pDigest) {
  if (m_pState->blocks != nullptr) {
    m_pState->blocks->Finish(pDigest);
    return 0;
  }
  uint32_t u4Result = Add(nullptr, 0);
  if (u4Result != 0) return u4Result;
  DWORD cb = NY_SHA256_SIZE;
  if (!CryptGetHashParam(m_pState->hash.Get(), HP_HASHVAL, pDigest->data(), &cb, 0))
    u4Result = NYFAIL(GetLastError(), "CryptGetHashParam", "CALG_SHA_256");
  m_pState->hash.Reset();
  return u4Result;
}
