#pragma once
// A fresh folder under the temporary folder for one test, removed after it.
#include <windows.h>

#include <string>

#include "NyFileDelete.h"

class ScratchDir {
 public:
  explicit ScratchDir(const wchar_t* pwszName) {
    wchar_t wsz[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, wsz);
    m_path = std::wstring(wsz) + pwszName + L"_" + std::to_wstring(GetCurrentProcessId());
    DeleteDirectoryTree(m_path, nullptr);
    CreateDirectoryW(m_path.c_str(), nullptr);
  }
  ~ScratchDir() { DeleteDirectoryTree(m_path, nullptr); }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  const std::wstring& Path() const { return m_path; }
  std::wstring operator/(const std::wstring& name) const { return m_path + L"\\" + name; }

 private:
  std::wstring m_path;
};

inline bool WriteTextFile(const std::wstring& path, const std::string& text) {
  HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  DWORD cb = 0;
  const BOOL bOk = WriteFile(h, text.data(), static_cast<DWORD>(text.size()), &cb, nullptr);
  CloseHandle(h);
  return bOk && cb == text.size();
}

inline std::string ReadTextFile(const std::wstring& path) {
  HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return "<missing>";
  std::string text;
  char buf[4096];
  DWORD cb = 0;
  while (ReadFile(h, buf, sizeof(buf), &cb, nullptr) && cb != 0) text.append(buf, cb);
  CloseHandle(h);
  return text;
}

inline bool PathExists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }
