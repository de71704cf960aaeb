#pragma once
// What the PE headers of a program say about its file. Portable: only the
// bytes of the headers are read, each one checked.
#include <cstddef>
#include <cstdint>

// A resource is found in the loaded image, but the package is read through
// the file, so that it need not be brought into the process's working set.
// The file offset of the image range [u4Rva, u4Rva + u4Size), from the
// headers at the start of the image (cbHeaders bytes of them readable).
// False unless the headers are a PE file's and the range lies wholly in the
// file data of one section: a range in the part of a section that the
// loader fills with zeros has no bytes in the file.
bool NyImageRangeToFileOffset(const uint8_t* pbHeaders, size_t cbHeaders, uint32_t u4Rva, uint32_t u4Size,
                              uint32_t* pu4FileOffset);

// The certificate table (the Authenticode signatures) of a PE file: its file
// offset and size. False for no PE headers or no table.
bool NyImageCertificateTable(const uint8_t* pbHeaders, size_t cbHeaders, uint32_t* pu4Offset, uint32_t* pu4Size);

// The first entry of a certificate table, when it is an Authenticode
// signature (a WIN_CERTIFICATE of revision 2.0 holding PKCS #7 signed data):
// where its signed data starts in the table and how long it is.
bool NyImageFirstSignature(const uint8_t* pbTable, size_t cbTable, size_t* pcbOffset, size_t* pcbSize);
