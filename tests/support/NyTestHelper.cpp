// A small program that tests start to stand in for other programs:
//   ny_test_helper hold FILE     keeps FILE open without sharing until killed
//                                (exit code 1000 + the error when it cannot)
//   ny_test_helper sleep         waits until killed
//   ny_test_helper marker FILE   writes FILE and ends (a planted program)
//   ny_test_helper exit CODE     ends with CODE
//   ny_test_helper attack FILE   tries to overwrite, rename and delete FILE;
//                                the exit code has a bit for each that worked
// Started in any other way (for example planted as taskkill.exe) it leaves
// "ny_helper_ran.txt" in its current folder, so a test can tell it ran.
#include <windows.h>

#include <cstdlib>
#include <cwchar>
#include <string>

int wmain(int argc, wchar_t** argv) {
  if (argc >= 3 && wcscmp(argv[1], L"hold") == 0) {
    HANDLE h = CreateFileW(argv[2], GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    // The exit code tells the test why the file could not be held.
    if (h == INVALID_HANDLE_VALUE) return 1000 + static_cast<int>(GetLastError());
    Sleep(INFINITE);
  }
  if (argc >= 2 && wcscmp(argv[1], L"sleep") == 0) Sleep(INFINITE);
  if (argc >= 3 && wcscmp(argv[1], L"marker") == 0) {
    HANDLE h = CreateFileW(argv[2], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return 2;
    CloseHandle(h);
    return 0;
  }
  if (argc >= 3 && wcscmp(argv[1], L"attack") == 0) {
    int nDone = 0;
    HANDLE h = CreateFileW(argv[2], GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
      DWORD cb = 0;
      WriteFile(h, "swapped", 7, &cb, nullptr);
      CloseHandle(h);
      nDone |= 1;
    }
    const std::wstring moved = std::wstring(argv[2]) + L".moved";
    if (MoveFileW(argv[2], moved.c_str())) {
      MoveFileW(moved.c_str(), argv[2]);
      nDone |= 2;
    }
    if (DeleteFileW(argv[2])) nDone |= 4;
    return nDone;
  }
  if (argc >= 3 && wcscmp(argv[1], L"exit") == 0) return static_cast<int>(wcstoul(argv[2], nullptr, 10));
  HANDLE h = CreateFileW(L"ny_helper_ran.txt", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
  return 1;
}
