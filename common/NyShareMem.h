#pragma once
// Named kernel objects of the common library: their names, the security
// they are created with, and named shared-memory regions.
#include <windows.h>

#include <cstddef>
#include <cstdint>

#include "NyHandle.h"

enum class NyKernelObjectKind { SharedMemory, Mutex, Event };

// Full name of an object: prefix, kind part, short name. The prefix is
// "Global" for a global name, or where the private namespace cannot be had;
// otherwise the private namespace's name.
uint32_t KernelObjectName(NyKernelObjectKind kind, const wchar_t* pwszShortName, bool bGlobal, wchar_t* pwszDest,
                          size_t cchDest);

// The private namespace is opened (or created) once per process and kept
// with a use count; Release closes it with the last user.
void NyNamespaceAcquire();
void NyNamespaceRelease();

// Security attributes that let processes of every integrity level open an
// object: full access for Everyone and all application packages.
class CNyObjectSecurity {
 public:
  CNyObjectSecurity();
  CNyObjectSecurity(const CNyObjectSecurity&) = delete;
  CNyObjectSecurity& operator=(const CNyObjectSecurity&) = delete;
  SECURITY_ATTRIBUTES* Get() { return m_sd ? &m_sa : nullptr; }
  // Gives a newly created object the low mandatory integrity label; ignored
  // where the system has no integrity levels.
  static void ApplyLowIntegrityLabel(HANDLE hObject);

 private:
  CNyLocalMemory m_sd;
  SECURITY_ATTRIBUTES m_sa{};
};

// Opens a named mutex or creates it with the object security.
CNyHandle NyCreateNamedMutex(const wchar_t* pwszShortName, bool bGlobal);

struct NyMappedViewTraits {
  using Type = void*;
  static Type Empty() { return nullptr; }
  static void Release(Type p) { UnmapViewOfFile(p); }
};
using CNyMappedView = CNyUnique<NyMappedViewTraits>;

// An opened region: its mapping, its view and its companion mutex, released
// together.
struct NyShareMemHandle {
  CNyHandle mapping;
  CNyMappedView view;
  CNyHandle mutex;
  size_t cbSize = 0;  // whole region, including its size word
  void* View() const { return view.Get(); }
};

// Opens the named region, or with bCreate creates it with cbSize bytes when
// it does not exist yet. A new region holds its size in its first word.
// Returns 0 or a platform error code.
uint32_t NyShareMemOpen(const wchar_t* pwszShortName, size_t cbSize, bool bCreate, NyShareMemHandle* pHandle,
                        bool* pbCreated);
