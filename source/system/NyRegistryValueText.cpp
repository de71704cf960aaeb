#include "NyRegistryValueText.h"

#include <climits>
#include <cstring>

int32_t ParseRegDwordText(const char* pszText) {
  if (pszText == nullptr) return 0;
  const char* p = pszText;
  while (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\v' || *p == '\f' || *p == '\r') ++p;
  bool bNegative = false;
  if (*p == '+' || *p == '-') bNegative = *p++ == '-';
  int64_t value = 0;
  for (; *p >= '0' && *p <= '9'; ++p) {
    value = value * 10 + (*p - '0');
    if (value > int64_t(INT32_MAX) + 1) value = int64_t(INT32_MAX) + 1;
  }
  if (bNegative) value = -value;
  if (value > INT32_MAX) return INT32_MAX;
  if (value < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(value);
}

bool ParseRegBinaryText(const char* pszText, std::vector<uint8_t>* pBytes) {
  pBytes->clear();
  if (pszText == nullptr) return true;
  const size_t len = strlen(pszText);
  if (len % 2 != 0) return false;
  auto nibble = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
  };
  std::vector<uint8_t> bytes;
  bytes.reserve(len / 2);
  for (size_t i = 0; i < len; i += 2) {
    const int hi = nibble(pszText[i]), lo = nibble(pszText[i + 1]);
    if (hi < 0 || lo < 0) return false;
    bytes.push_back(static_cast<uint8_t>(hi << 4 | lo));
  }
  pBytes->swap(bytes);
  return true;
}
