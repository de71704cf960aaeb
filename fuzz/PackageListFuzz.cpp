// libFuzzer target: the package reader on arbitrary bytes. Besides the
// sanitizers' checks, every list it gives (even a partial one, before a
// failure) must keep its promises: ranges inside the buffer, names that
// cannot step out of a folder, paths built only from such names.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "NyPackageFormat.h"

namespace {

void Require(bool bCondition) {
  if (!bCondition) abort();
}

void CheckList(const std::vector<NyPackageEntry>& list, size_t cbData, NyLeadByteTable pLeadBytes) {
  for (const NyPackageEntry& entry : list) {
    Require(uint64_t(entry.u4Offset) + entry.u4Size <= cbData);
    Require(NyPackageIsValidName(entry.name, pLeadBytes));
    const std::string& path = entry.relativePath;
    Require(!path.empty());
    if (path[0] != '\\') {  // a root file: its bare name
      Require(path == entry.name && !entry.bFolder);
      continue;
    }
    const std::string tail = "\\" + entry.name + (entry.bFolder ? "\\" : "");
    Require(path.size() >= tail.size() && path.compare(path.size() - tail.size(), tail.size(), tail) == 0);
    if (pLeadBytes == nullptr) {
      // Without double-byte characters every '\' is a separator: each
      // element between them must be a valid name.
      const size_t end = path.size() - (entry.bFolder ? 1 : 0);
      for (size_t start = 1; start < end;) {
        size_t next = path.find('\\', start);
        if (next == std::string::npos || next > end) next = end;
        Require(NyPackageIsValidName(path.substr(start, next - start), nullptr));
        start = next + 1;
      }
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pbData, size_t cbData) {
  static uint8_t leadBytes[256];
  for (int c = 0x81; c <= 0xFE; ++c) leadBytes[c] = 1;  // as in code page 936

  for (NyLeadByteTable pLeadBytes : {static_cast<NyLeadByteTable>(nullptr), static_cast<NyLeadByteTable>(leadBytes)}) {
    std::vector<NyPackageEntry> list;
    NyPackageReadList(pbData, cbData, list, pLeadBytes);
    CheckList(list, cbData, pLeadBytes);
  }
  return 0;
}
