#pragma once
// COM holders for the shell, zone and task routines: each COM initialisation
// and each interface is released in the operation that acquired it.
#include <windows.h>
#include <objbase.h>

// Initialises COM (single-threaded apartment) for the calling thread for the
// life of the holder. A thread that is already in the multi-threaded
// apartment answers RPC_E_CHANGED_MODE: COM is usable there all the same,
// but that initialisation is not ours to undo.
class CNyComInit {
 public:
  CNyComInit() : m_hr(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
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

// Owns one reference to an interface.
template <typename T>
class CNyComPtr {
 public:
  CNyComPtr() = default;
  ~CNyComPtr() { Reset(); }
  CNyComPtr(const CNyComPtr&) = delete;
  CNyComPtr& operator=(const CNyComPtr&) = delete;
  T* Get() const { return m_p; }
  T* operator->() const { return m_p; }
  explicit operator bool() const { return m_p != nullptr; }
  // For the out parameter of a creating call; drops what was held.
  T** Put() {
    Reset();
    return &m_p;
  }
  void** PutVoid() { return reinterpret_cast<void**>(Put()); }
  void Reset() {
    if (m_p != nullptr) m_p->Release();
    m_p = nullptr;
  }

 private:
  T* m_p = nullptr;
};
