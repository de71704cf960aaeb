#pragma once
// Hand-made package bytes, for layouts the writer never produces.
#include <cstdint>
#include <string>
#include <vector>

#include "NyPackageFormat.h"

class PackageBytes {
 public:
  PackageBytes& Raw(const std::string& bytes) {
    m_bytes += bytes;
    return *this;
  }
  PackageBytes& U32(uint32_t u4) {
    for (int i = 0; i < 4; ++i) m_bytes += static_cast<char>(u4 >> (8 * i));
    return *this;
  }
  PackageBytes& Name(const std::string& name) { return Raw(name).U32(static_cast<uint32_t>(name.size())); }
  PackageBytes& Record(uint32_t u4Offset, uint32_t u4Size, uint8_t u1Flags, const std::string& name) {
    U32(u4Offset).U32(u4Size);
    m_bytes += static_cast<char>(u1Flags);
    return Name(name);
  }
  // Base and count: the end of a folder table.
  PackageBytes& TableEnd(uint32_t u4Base, uint32_t u4Count) { return U32(u4Base).U32(u4Count); }
  PackageBytes& Trailer() { return Name(NY_PACKAGE_MARKER); }

  uint32_t Size() const { return static_cast<uint32_t>(m_bytes.size()); }
  const std::string& Str() const { return m_bytes; }

 private:
  std::string m_bytes;
};

inline bool ReadList(const std::string& bytes, std::vector<NyPackageEntry>& list,
                     NyLeadByteTable pLeadBytes = nullptr) {
  return NyPackageReadList(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), list, pLeadBytes);
}

inline std::string Pack(const std::vector<NyPackageNode>& roots) {
  std::string bytes, error;
  if (!CNyPackageWriter::WriteToMemory(roots, bytes, &error)) return "writer failed: " + error;
  return bytes;
}
