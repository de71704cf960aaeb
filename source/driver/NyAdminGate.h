#pragma once
// The administrator gate of an action run.
#include <windows.h>

// TRUE when the process's own security context passes an access check
// against a descriptor that lets only the Administrators group in.
BOOL IsAdministrator();
