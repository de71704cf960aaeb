/* The smart-card minidriver of the product, in the shape the smart-card
 * base provider loads: it exports CardAcquireContext. This build of the
 * driver supports no card yet and says so. */
#include <windows.h>

#ifndef SCARD_E_UNSUPPORTED_FEATURE
#define SCARD_E_UNSUPPORTED_FEATURE ((DWORD)0x80100022L)
#endif

BOOL WINAPI DllMain(HINSTANCE hInstance, DWORD dwReason, LPVOID pvReserved) {
  (void)pvReserved;
  if (dwReason == DLL_PROCESS_ATTACH) DisableThreadLibraryCalls(hInstance);
  return TRUE;
}

__declspec(dllexport) DWORD WINAPI CardAcquireContext(void* pCardData, DWORD dwFlags) {
  (void)pCardData;
  (void)dwFlags;
  return SCARD_E_UNSUPPORTED_FEATURE;
}
