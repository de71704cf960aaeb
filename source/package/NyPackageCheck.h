#pragma once
// Before a setup changes anything it proves that the package it carries is
// the one the build packed: the package's bytes, read through the program's
// own file, must give the digest recorded beside them (NyPackageDigest.h).
#include <windows.h>

#include <cstdint>
#include <string>

#include "NyHandle.h"
#include "NyHeldFiles.h"
#include "NyPackageDigest.h"

// The digest of package resource N (type 256) is resource N of this type.
constexpr UINT NY_PACKAGE_DIGEST_RESOURCE_TYPE = 257;
// Windows Installer's code for a package that cannot be opened or is invalid.
constexpr uint32_t NY_E_PACKAGE_DAMAGED = ERROR_INSTALL_PACKAGE_INVALID;

// The bytes of a package where they stand in a file, read a range at a time
// so that the package never has to be in memory as a whole. The file is open
// for reading with others allowed to read or rename it, but not to write it:
// while this object lives, the bytes it reads cannot change.
class CNyPackageFile : public INyPackageBytes {
 public:
  // Package resource uId of the running program, in the program's file.
  uint32_t OpenResource(UINT uId);
  // u4Size bytes at u8Offset of a file.
  uint32_t Open(const std::wstring& path, uint64_t u8Offset, uint32_t u4Size);

  uint32_t Size() const { return m_u4Size; }
  // cb bytes from u4Offset of the package, or the read's error
  // (ERROR_HANDLE_EOF when the file ends before them).
  uint32_t Read(uint32_t u4Offset, void* pv, uint32_t cb) const override;

 private:
  CNyFile m_file;
  std::wstring m_path;
  uint64_t m_u8Base = 0;
  uint32_t m_u4Size = 0;
};

// The digest of the package's bytes with the given chunk size, the chunks
// hashed on up to uThreads threads (0: one per processor).
uint32_t ComputePackageDigest(const CNyPackageFile& package, uint32_t u4ChunkSize, unsigned uThreads,
                              NySha256* pDigest);

// Checks the package read through `package` against the digest resource
// uId. 0 when they match, and when the program carries no digest resource
// (old packages have none; the log says so); NY_E_PACKAGE_DAMAGED when they
// differ or the record is malformed, with one log line that gives the
// expected and the computed digest; or the code of a failing system call.
uint32_t CheckPackageDigest(UINT uId, const CNyPackageFile& package);

// Opens package resource uId through *pPackage and checks it.
uint32_t OpenCheckedPackage(UINT uId, CNyPackageFile* pPackage);
// The same, for a program that only checks and then lets the file go.
uint32_t CheckPackageResource(UINT uId);
