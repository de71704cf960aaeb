#pragma once
// The package's digest: a record of its own beside the package resource,
// written by the package builder and checked by the setup program before it
// changes anything. This unit is portable: the builder computes the digest
// natively; the program checks it on Windows.
//
// The digest of a package: the package is cut into chunks of `chunk size`
// bytes (the last one may be shorter, an empty package has none); each chunk
// gets its SHA-256; the digest is the SHA-256 of those chunk digests, one
// after another in package order. The chunks can be hashed on any number of
// threads without changing the result.
//
// The record (48 bytes, integers 32-bit little-endian):
//   0   "NYPD"
//   4   1: the digest as defined above
//   8   chunk size in bytes, 4 KiB to 64 MiB
//   12  package size in bytes
//   16  the digest (32 bytes)
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

constexpr size_t NY_SHA256_SIZE = 32;
using NySha256 = std::array<uint8_t, NY_SHA256_SIZE>;

constexpr size_t NY_PACKAGE_DIGEST_RECORD_SIZE = 48;
// What the builder writes: large enough that a chunk's digest costs nothing
// beside its hashing, small enough that two threads share a few MB evenly.
constexpr uint32_t NY_PACKAGE_DIGEST_CHUNK = 1u << 20;
constexpr uint32_t NY_PACKAGE_DIGEST_MIN_CHUNK = 4u << 10;
constexpr uint32_t NY_PACKAGE_DIGEST_MAX_CHUNK = 64u << 20;

struct NyPackageDigest {
  uint32_t u4ChunkSize = NY_PACKAGE_DIGEST_CHUNK;
  uint32_t u4PackageSize = 0;
  NySha256 digest{};
};

// Reads a record; false for anything else (size, marker, definition, a
// chunk size out of range).
bool NyPackageDigestRead(const uint8_t* pb, size_t cb, NyPackageDigest* pDigest);
// The 48 bytes of a record.
std::string NyPackageDigestRecord(const NyPackageDigest& digest);
// Lower-case hexadecimal, as sha256sum prints a digest.
std::string NySha256Hex(const NySha256& digest);

// One SHA-256 computation: on Windows the processor's SHA extensions where
// it has them, else CryptoAPI; OpenSSL's libcrypto natively. Each call returns 0 or the code of
// the failing system call (logged where it failed); Finish makes the object
// ready for the next computation.
class CNySha256 {
 public:
  CNySha256();
  ~CNySha256();
  CNySha256(const CNySha256&) = delete;
  CNySha256& operator=(const CNySha256&) = delete;

  uint32_t Add(const void* pv, size_t cb);
  uint32_t Finish(NySha256* pDigest);

 private:
  struct State;
  std::unique_ptr<State> m_pState;
};

// The digest of bytes handed over front to back in pieces of any size: the
// package builder hashes the package as it writes it.
class CNyPackageDigester {
 public:
  explicit CNyPackageDigester(uint32_t u4ChunkSize = NY_PACKAGE_DIGEST_CHUNK) : m_u4ChunkSize(u4ChunkSize) {}

  uint32_t Add(const void* pv, size_t cb);
  // The record of everything added; the package size must fit 32 bits.
  uint32_t Finish(NyPackageDigest* pDigest);

 private:
  uint32_t EndChunk();

  uint32_t m_u4ChunkSize;
  uint64_t m_u8Size = 0;
  uint32_t m_u4InChunk = 0;
  CNySha256 m_chunk;
  CNySha256 m_root;
};
