#pragma once
// One owner for everything the system hands out with a matching release
// call: kernel handles, files, find handles, registry keys, modules, GDI
// objects, local memory, COM interfaces. A kind is a traits type that names
// the value's type, its empty value and its release.
#include <windows.h>

template <typename Traits>
class CNyUnique {
 public:
  using Type = typename Traits::Type;

  CNyUnique() = default;
  explicit CNyUnique(Type value) : m_value(value) {}
  ~CNyUnique() { Reset(); }
  CNyUnique(CNyUnique&& other) noexcept : m_value(other.Detach()) {}
  CNyUnique& operator=(CNyUnique&& other) noexcept {
    if (this != &other) Reset(other.Detach());
    return *this;
  }
  CNyUnique(const CNyUnique&) = delete;
  CNyUnique& operator=(const CNyUnique&) = delete;

  Type Get() const { return m_value; }
  Type operator->() const { return m_value; }
  bool IsValid() const { return m_value != Traits::Empty(); }
  explicit operator bool() const { return IsValid(); }
  // For the out parameter of a call that creates the value; drops what was
  // held first.
  Type* Put() {
    Reset();
    return &m_value;
  }
  void** PutVoid() { return reinterpret_cast<void**>(Put()); }
  // Gives the value up without releasing it.
  Type Detach() {
    const Type value = m_value;
    m_value = Traits::Empty();
    return value;
  }
  void Reset(Type value = Traits::Empty()) {
    if (IsValid()) Traits::Release(m_value);
    m_value = value;
  }

 private:
  Type m_value = Traits::Empty();
};

struct NyKernelHandleTraits {
  using Type = HANDLE;
  static Type Empty() { return nullptr; }
  static void Release(Type h) { CloseHandle(h); }
};
// CreateFileW answers INVALID_HANDLE_VALUE, not null, on failure.
struct NyFileHandleTraits {
  using Type = HANDLE;
  static Type Empty() { return INVALID_HANDLE_VALUE; }
  static void Release(Type h) { CloseHandle(h); }
};
struct NyFindHandleTraits {
  using Type = HANDLE;
  static Type Empty() { return INVALID_HANDLE_VALUE; }
  static void Release(Type h) { FindClose(h); }
};
struct NyRegKeyTraits {
  using Type = HKEY;
  static Type Empty() { return nullptr; }
  static void Release(Type h) { RegCloseKey(h); }
};
struct NyModuleTraits {
  using Type = HMODULE;
  static Type Empty() { return nullptr; }
  static void Release(Type h) { FreeLibrary(h); }
};
struct NyGdiObjectTraits {
  using Type = HGDIOBJ;
  static Type Empty() { return nullptr; }
  static void Release(Type h) { DeleteObject(h); }
};
struct NyLocalMemoryTraits {
  using Type = HLOCAL;
  static Type Empty() { return nullptr; }
  static void Release(Type h) { LocalFree(h); }
};
template <typename T>
struct NyComTraits {
  using Type = T*;
  static Type Empty() { return nullptr; }
  static void Release(Type p) { p->Release(); }
};

using CNyHandle = CNyUnique<NyKernelHandleTraits>;
using CNyFile = CNyUnique<NyFileHandleTraits>;
using CNyFind = CNyUnique<NyFindHandleTraits>;
using CNyRegKey = CNyUnique<NyRegKeyTraits>;
using CNyModule = CNyUnique<NyModuleTraits>;
using CNyGdiObject = CNyUnique<NyGdiObjectTraits>;
using CNyLocalMemory = CNyUnique<NyLocalMemoryTraits>;
template <typename T>
using CNyComPtr = CNyUnique<NyComTraits<T>>;
