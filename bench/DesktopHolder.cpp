// Holds Wine's desktop open while the install benchmarks run. Wine starts its
// desktop process (explorer.exe /desktop) when the first program asks for the
// desktop window, and ends it soon after the last program attached to the
// desktop has ended; every timed install would then wait for a new desktop
// process, a cost of a few hundred milliseconds that Windows, whose desktop
// is always there, never charges an installer. The benchmark kills it.
#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  if (GetDesktopWindow() == nullptr) return 1;
  Sleep(INFINITE);
  return 0;
}
