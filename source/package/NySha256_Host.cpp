// SHA-256 natively: OpenSSL's libcrypto, as Debian ships it.
#include <openssl/evp.h>

#include "NyPackageDigest.h"
#include "NyResult.h"

struct CNySha256::State {
  EVP_MD_CTX* pContext = nullptr;
  bool bStarted = false;
  ~State() { EVP_MD_CTX_free(pContext); }
};

CNySha256::CNySha256() : m_pState(new State) { m_pState->pContext = EVP_MD_CTX_new(); }

CNySha256::~CNySha256() = default;

uint32_t CNySha256::Add(const void* pv, size_t cb) {
  State& state = *m_pState;
  if (state.pContext == nullptr) return NY_E_OUTOFMEMORY;
  if (!state.bStarted && EVP_DigestInit_ex(state.pContext, EVP_sha256(), nullptr) != 1) return NY_E_FAIL;
  state.bStarted = true;
  return EVP_DigestUpdate(state.pContext, pv, cb) == 1 ? 0 : NY_E_FAIL;
}

uint32_t CNySha256::Finish(NySha256* pDigest) {
  const uint32_t u4Result = Add(nullptr, 0);
  if (u4Result != 0) return u4Result;
  m_pState->bStarted = false;
  unsigned cb = 0;
  return EVP_DigestFinal_ex(m_pState->pContext, pDigest->data(), &cb) == 1 && cb == NY_SHA256_SIZE ? 0 : NY_E_FAIL;
}
