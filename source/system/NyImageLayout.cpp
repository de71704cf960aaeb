#include "NyImageLayout.h"

namespace {

constexpr size_t DOS_NEW_HEADER_OFFSET = 0x3C;
constexpr size_t FILE_HEADER_SIZE = 24;  // "PE\0\0" and IMAGE_FILE_HEADER
constexpr size_t SECTION_HEADER_SIZE = 40;

uint32_t U32At(const uint8_t* pb) {
  return uint32_t(pb[0]) | uint32_t(pb[1]) << 8 | uint32_t(pb[2]) << 16 | uint32_t(pb[3]) << 24;
}

uint16_t U16At(const uint8_t* pb) { return uint16_t(pb[0] | pb[1] << 8); }

// The offset of "PE\0\0" and its file header, or 0 for no PE headers.
uint64_t PeHeaderOffset(const uint8_t* pbHeaders, size_t cbHeaders) {
  if (pbHeaders == nullptr || cbHeaders < DOS_NEW_HEADER_OFFSET + 4 || pbHeaders[0] != 'M' || pbHeaders[1] != 'Z')
    return 0;
  const uint64_t u8Pe = U32At(pbHeaders + DOS_NEW_HEADER_OFFSET);
  if (u8Pe == 0 || u8Pe + FILE_HEADER_SIZE > cbHeaders || U32At(pbHeaders + u8Pe) != 0x00004550) return 0;
  return u8Pe;
}

}  // namespace

bool NyImageRangeToFileOffset(const uint8_t* pbHeaders, size_t cbHeaders, uint32_t u4Rva, uint32_t u4Size,
                              uint32_t* pu4FileOffset) {
  const uint64_t u8Pe = PeHeaderOffset(pbHeaders, cbHeaders);
  if (u8Pe == 0) return false;
  const unsigned uSections = U16At(pbHeaders + u8Pe + 6);
  const uint64_t u8Table = u8Pe + FILE_HEADER_SIZE + U16At(pbHeaders + u8Pe + 20);
  const uint64_t u8End = uint64_t(u4Rva) + u4Size;
  for (unsigned i = 0; i < uSections; ++i) {
    const uint64_t u8At = u8Table + uint64_t(i) * SECTION_HEADER_SIZE;
    if (u8At + SECTION_HEADER_SIZE > cbHeaders) return false;
    const uint8_t* pbSection = pbHeaders + u8At;
    const uint32_t u4VirtualSize = U32At(pbSection + 8), u4Address = U32At(pbSection + 12);
    // Raw data beyond the virtual size is padding the loader does not map;
    // a virtual size of 0 (old linkers) means the raw size.
    uint32_t u4InFile = U32At(pbSection + 16);
    if (u4VirtualSize != 0 && u4VirtualSize < u4InFile) u4InFile = u4VirtualSize;
    if (u4Rva < u4Address || u8End > uint64_t(u4Address) + u4InFile) continue;
    const uint64_t u8Offset = uint64_t(U32At(pbSection + 20)) + (u4Rva - u4Address);
    if (u8Offset + u4Size > 0xFFFFFFFFu) return false;
    *pu4FileOffset = static_cast<uint32_t>(u8Offset);
    return true;
  }
  return false;
}

bool NyImageCertificateTable(const uint8_t* pbHeaders, size_t cbHeaders, uint32_t* pu4Offset, uint32_t* pu4Size) {
  const uint64_t u8Pe = PeHeaderOffset(pbHeaders, cbHeaders);
  if (u8Pe == 0) return false;
  const uint64_t u8Optional = u8Pe + FILE_HEADER_SIZE;
  const size_t cbOptional = U16At(pbHeaders + u8Pe + 20);
  if (u8Optional + 2 > cbHeaders) return false;
  // The data directories follow the optional header's fixed part, whose
  // size depends on the image's word size; the certificate table is entry 4.
  const uint16_t u2Magic = U16At(pbHeaders + u8Optional);
  const size_t cbFixed = u2Magic == 0x10B ? 96 : u2Magic == 0x20B ? 112 : 0;
  constexpr size_t CERTIFICATE_ENTRY = 4, ENTRY_SIZE = 8;
  const size_t cbEnd = cbFixed + (CERTIFICATE_ENTRY + 1) * ENTRY_SIZE;
  if (cbFixed == 0 || cbOptional < cbEnd || u8Optional + cbEnd > cbHeaders) return false;
  if (U32At(pbHeaders + u8Optional + cbFixed - 4) <= CERTIFICATE_ENTRY) return false;  // NumberOfRvaAndSizes
  const uint8_t* pbEntry = pbHeaders + u8Optional + cbFixed + CERTIFICATE_ENTRY * ENTRY_SIZE;
  *pu4Offset = U32At(pbEntry);
  *pu4Size = U32At(pbEntry + 4);
  return *pu4Size != 0;
}

bool NyImageFirstSignature(const uint8_t* pbTable, size_t cbTable, size_t* pcbOffset, size_t* pcbSize) {
  constexpr size_t HEADER_SIZE = 8;  // dwLength, wRevision, wCertificateType
  constexpr uint16_t REVISION_2_0 = 0x0200, PKCS_SIGNED_DATA = 0x0002;
  if (pbTable == nullptr || cbTable < HEADER_SIZE) return false;
  const uint32_t u4Length = U32At(pbTable);
  if (u4Length <= HEADER_SIZE || u4Length > cbTable) return false;
  if (U16At(pbTable + 4) != REVISION_2_0 || U16At(pbTable + 6) != PKCS_SIGNED_DATA) return false;
  *pcbOffset = HEADER_SIZE;
  *pcbSize = u4Length - HEADER_SIZE;
  return true;
}
