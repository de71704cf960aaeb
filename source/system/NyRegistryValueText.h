#pragma once
// The texts of registry values in a setup script. Portable.
#include <cstdint>
#include <vector>

// A signed decimal: leading blanks and a sign allowed, reading stops at the
// first non-digit, out-of-range values clamp to the 32-bit limits, no
// digits gives 0 ("0x10" is 0, "-1" is 0xFFFFFFFF).
int32_t ParseRegDwordText(const char* pszText);
// Pairs of hexadecimal digits, high half first; false for an odd length or
// any other character. An empty text is an empty value.
bool ParseRegBinaryText(const char* pszText, std::vector<uint8_t>* pBytes);
