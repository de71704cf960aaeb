// A GUI-subsystem program that does nothing and exits 0 at once. The install
// benchmark starts it exactly as it starts the installer, so its time is what
// Wine itself costs to create and end a GUI process; whatever the installer
// takes beyond that is the installer's own work.
#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) { return 0; }
