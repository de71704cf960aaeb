#pragma once
// What a registry file in regedit's import format will change, read before
// it is imported so that the change can be undone. Portable.
#include <cstdint>
#include <string>
#include <vector>

// One key section: "[KEY]" writes (and makes) the key and the values listed
// under it, or deletes them ("name"=-); "[-KEY]" deletes the key with
// everything below it, and the values listed under it are not read.
struct RegFileSection {
  std::wstring root;    // as written: "HKEY_LOCAL_MACHINE", "HKLM", ...
  std::wstring subKey;  // empty for the root itself
  bool bDeleteKey = false;
  std::vector<std::wstring> valueNames;  // "" is the key's default value ("@")
};

// The file's text: UTF-16LE after its byte-order mark (what regedit
// exports), UTF-8 after its mark, else text in the system's ANSI code page.
bool DecodeRegFileBytes(const std::vector<uint8_t>& bytes, std::wstring* pText);

// The sections in file order. A file without the header line of either
// format ("Windows Registry Editor Version 5.00", "REGEDIT4") imports
// nothing and has none. False for a line that regedit would act on but
// that cannot be read here: a section without its closing bracket, a value
// line that is neither "name"=... nor @=...
bool ParseRegFileText(const std::wstring& text, std::vector<RegFileSection>* pSections);
