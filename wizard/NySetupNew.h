#pragma once
// The application: start-up hardening, the command line, the wizard, and the
// exit code that deployment tools read.
#include <windows.h>

// Exit codes, as installers report them to deployment tools.
constexpr int NY_EXIT_SUCCESS = 0;
constexpr int NY_EXIT_USER_CANCELLED = 1602;
constexpr int NY_EXIT_FAILED = 1603;
constexpr int NY_EXIT_ALREADY_RUNNING = 1618;
constexpr int NY_EXIT_PACKAGE_INVALID = 1620;
constexpr int NY_EXIT_RESTART_REQUIRED = 3010;

class CNySetupNewApp {
 public:
  // Runs the whole program and returns its exit code.
  int InitInstance();
};
