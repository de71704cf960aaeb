#pragma once
// Who signed a file: the signing certificate of its embedded Authenticode
// signature, read through the crypto API without judging it, with no window
// and no network. Cheap: neither the file is hashed nor a certificate chain
// built (WinVerifyTrust does both, and under Wine its first use in a process
// also imports the host's root certificates, which takes longer than a
// whole silent install). crypt32 is no KnownDLL: it is loaded from the
// system folder at run time.
#include <windows.h>

#include <cstdint>
#include <string>

struct NyFileSigner {
  std::wstring subject;     // the certificate's subject, X.500 form
  std::wstring thumbprint;  // its SHA-1 thumbprint, upper-case hex
};

// 0 with *pSigner filled (both texts empty for a file that carries no
// signature), or the error that kept crypt32 from answering (logged where
// it happened).
uint32_t ReadFileSigner(const wchar_t* pwszPath, NyFileSigner* pSigner);
