#include "NyRegFileText.h"

#include <cstdint>

#include "NyString.h"

namespace {

std::wstring TrimLeft(const std::wstring& text) {
  const size_t start = text.find_first_not_of(L" \t");
  return start == std::wstring::npos ? std::wstring() : text.substr(start);
}

std::wstring TrimRight(const std::wstring& text) {
  const size_t end = text.find_last_not_of(L" \t\r");
  return end == std::wstring::npos ? std::wstring() : text.substr(0, end + 1);
}

// The quoted name at the start of a value line, its escapes (\\ and \")
// resolved; *pRest gets what follows the closing quote.
bool ReadQuotedName(const std::wstring& line, std::wstring* pName, std::wstring* pRest) {
  pName->clear();
  for (size_t i = 1; i < line.size(); ++i) {
    if (line[i] == L'\\' && i + 1 < line.size()) {
      pName->push_back(line[++i]);
    } else if (line[i] == L'"') {
      *pRest = line.substr(i + 1);
      return true;
    } else {
      pName->push_back(line[i]);
    }
  }
  return false;
}

}  // namespace

bool DecodeRegFileBytes(const std::vector<uint8_t>& bytes, std::wstring* pText) {
  pText->clear();
  if (bytes.size() >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE) {
    for (size_t i = 2; i + 1 < bytes.size(); i += 2) {
      pText->push_back(static_cast<wchar_t>(bytes[i] | bytes[i + 1] << 8));
    }
    return true;
  }
  const bool bUtf8 = bytes.size() >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF;
  const size_t skip = bUtf8 ? 3 : 0;
  if (bytes.size() == skip) return true;
  return NyMultiByteToWide(bUtf8 ? NY_CP_UTF8 : NY_CP_ACP, reinterpret_cast<const char*>(bytes.data()) + skip,
                           bytes.size() - skip, pText);
}

bool ParseRegFileText(const std::wstring& text, std::vector<RegFileSection>* pSections) {
  pSections->clear();
  bool bHeader = false, bContinued = false;
  // The section whose values are being read; none before the first one and
  // under a deleted key.
  size_t current = SIZE_MAX;
  for (size_t at = 0; at <= text.size();) {
    size_t end = text.find(L'\n', at);
    if (end == std::wstring::npos) end = text.size();
    const std::wstring line = TrimRight(TrimLeft(text.substr(at, end - at)));
    at = end + 1;
    // A value's data may go on over lines that end in a backslash.
    if (bContinued) {
      bContinued = !line.empty() && line.back() == L'\\';
      continue;
    }
    if (line.empty() || line[0] == L';') continue;
    if (!bHeader) {
      if (line != L"Windows Registry Editor Version 5.00" && line != L"REGEDIT4") return true;
      bHeader = true;
      continue;
    }
    if (line[0] == L'[') {
      const size_t close = line.rfind(L']');
      if (close == std::wstring::npos) return false;
      RegFileSection section;
      std::wstring key = line.substr(1, close - 1);
      section.bDeleteKey = !key.empty() && key[0] == L'-';
      if (section.bDeleteKey) key.erase(0, 1);
      const size_t slash = key.find(L'\\');
      section.root = key.substr(0, slash);
      if (slash != std::wstring::npos) section.subKey = key.substr(slash + 1);
      current = section.bDeleteKey ? SIZE_MAX : pSections->size();
      pSections->push_back(section);
      continue;
    }
    std::wstring name, rest;
    if (line[0] == L'@') {
      rest = line.substr(1);
    } else if (line[0] != L'"' || !ReadQuotedName(line, &name, &rest)) {
      return false;
    }
    rest = TrimLeft(rest);
    if (rest.empty() || rest[0] != L'=') return false;
    bContinued = rest.back() == L'\\';
    if (current != SIZE_MAX) (*pSections)[current].valueNames.push_back(name);
  }
  return true;
}
