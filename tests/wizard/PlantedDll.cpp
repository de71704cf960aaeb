// A DLL that announces being loaded, planted beside the setup program under
// the names of system libraries: the setup must never load it.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE hInstance, DWORD dwReason, LPVOID) {
  if (dwReason != DLL_PROCESS_ATTACH) return TRUE;
  wchar_t wszPath[MAX_PATH] = {};
  GetModuleFileNameW(hInstance, wszPath, MAX_PATH);
  wchar_t* pwszSlash = wcsrchr(wszPath, L'\\');
  if (pwszSlash != nullptr) {
    wcscpy(pwszSlash + 1, L"planted_dll_was_loaded.txt");
    HANDLE h = CreateFileW(wszPath, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
  }
  return TRUE;
}
