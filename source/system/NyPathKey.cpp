#include "NyPathKey.h"

#include <windows.h>

namespace {

bool IsSeparator(wchar_t ch) { return ch == L'\\' || ch == L'/'; }

// '/' as '\', runs of separators as one. The leading pair of a UNC path
// stays; a "\\?\" or "\??\" prefix goes (it only asks the system not to
// parse the rest, which a comparison wants parsed).
std::wstring OneSeparator(const std::wstring& path) {
  size_t start = 0;
  if (path.size() >= 4 && IsSeparator(path[0]) && (IsSeparator(path[1]) || path[1] == L'?') && path[2] == L'?' &&
      IsSeparator(path[3])) {
    start = 4;
  }
  std::wstring out;
  out.reserve(path.size());
  if (start == 0 && path.size() >= 2 && IsSeparator(path[0]) && IsSeparator(path[1])) {
    out = L"\\\\";
    start = 2;
  }
  for (size_t i = start; i < path.size(); ++i) {
    const bool bSeparator = IsSeparator(path[i]);
    if (bSeparator && !out.empty() && out.back() == L'\\' && out.size() > 2) continue;
    out += bSeparator ? L'\\' : path[i];
  }
  return out;
}

}  // namespace

std::wstring NyFullPath(const std::wstring& path) {
  const std::wstring plain = OneSeparator(path);
  std::wstring full(MAX_PATH, L'\0');
  for (;;) {
    const DWORD cch = GetFullPathNameW(plain.c_str(), static_cast<DWORD>(full.size()), &full[0], nullptr);
    if (cch == 0) {
      full = plain;
      break;
    }
    if (cch < full.size()) {
      full.resize(cch);
      break;
    }
    full.resize(cch);
  }
  // "C:\" keeps its separator: without it the name is the drive's current folder.
  if (full.size() > 3 && full.back() == L'\\') full.pop_back();
  return full;
}

std::wstring NyPathKey(const std::wstring& path) {
  std::wstring key = NyFullPath(path);
  if (key.empty()) return key;
  // The invariant upper case is the file system's own folding of names,
  // beyond the ASCII letters that the C runtime's lower-casing knows.
  std::wstring upper(key.size(), L'\0');
  const int cch = LCMapStringW(LOCALE_INVARIANT, LCMAP_UPPERCASE, key.c_str(), static_cast<int>(key.size()), &upper[0],
                               static_cast<int>(upper.size()));
  if (cch == static_cast<int>(key.size())) key.swap(upper);
  return key;
}

bool NyPathKeyIsIn(const std::wstring& key, const std::wstring& folderKey) {
  if (folderKey.empty() || key.size() <= folderKey.size() || key.compare(0, folderKey.size(), folderKey) != 0) {
    return false;
  }
  return folderKey.back() == L'\\' || key[folderKey.size()] == L'\\';
}
