#pragma once
// Four-part file versions a.b.c.d, compared as a·2^48 + b·2^32 + c·2^16 + d.
// Portable: the parsing and comparison build natively for unit tests.
#include <cstdint>

struct NyFileVersion {
  uint32_t au4Parts[4] = {0, 0, 0, 0};  // major, minor, build, revision; each 0..65535
};

// Blanks are removed and commas read as dots; then exactly four decimal
// parts separated by single dots are required. Each part is kept modulo
// 65536. False when the text does not parse.
bool ParseVersionText(const char* pszText, NyFileVersion* pVersion);
bool ParseVersionText(const wchar_t* pwszText, NyFileVersion* pVersion);
// -1, 0 or 1.
int CompareVersions(const NyFileVersion& a, const NyFileVersion& b);
