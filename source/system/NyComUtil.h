#pragma once
// COM for the shell, zone and task routines: each COM initialisation and
// each interface (CNyComPtr, NyHandle.h) is released in the operation that
// acquired it.
#include <windows.h>
#include <objbase.h>

#include "NyHandle.h"

// Initialises COM (multi-threaded apartment) for the calling thread for the
// life of the holder. The objects used (shell link, task scheduler, URL
// zones) are free-threaded; a single-threaded apartment would make a hidden
// window, which under Wine loads the display driver: 30 ms of a silent run.
// A thread already in a single-threaded apartment answers
// RPC_E_CHANGED_MODE: COM is usable there all the same, but that
// initialisation is not ours to undo.
class CNyComInit {
 public:
  CNyComInit() : m_hr(CoInitializeEx(nullptr, COINIT_MULTITHREADED)) {}
  ~CNyComInit() {
    if (SUCCEEDED(m_hr)) CoUninitialize();
  }
  CNyComInit(const CNyComInit&) = delete;
  CNyComInit& operator=(const CNyComInit&) = delete;
  bool IsUsable() const { return SUCCEEDED(m_hr) || m_hr == RPC_E_CHANGED_MODE; }
  HRESULT Result() const { return m_hr; }

 private:
  HRESULT m_hr;
};
