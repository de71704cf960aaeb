// The package digest: known answers (worked out apart from this code), which
// the native build's libcrypto and the Windows build's hash must both give,
// and the record that carries it; the processor's SHA rounds against the
// platform's hash.
#include <gtest/gtest.h>

#include <string>

#include "NyPackageDigest.h"
#include "NySha256Blocks.h"

namespace {

std::string Pattern(size_t cb) {
  std::string bytes(cb, '\0');
  for (size_t i = 0; i < cb; ++i) bytes[i] = static_cast<char>((i * 131 + (i >> 11)) & 0xFF);
  return bytes;
}

// The digest of `bytes`, handed over in pieces of `cbPiece` bytes.
std::string DigestHex(const std::string& bytes, uint32_t u4Chunk, size_t cbPiece, NyPackageDigest* pDigest = nullptr) {
  CNyPackageDigester digester(u4Chunk);
  for (size_t at = 0; at < bytes.size(); at += cbPiece)
    EXPECT_EQ(digester.Add(bytes.data() + at, std::min(cbPiece, bytes.size() - at)), 0u);
  NyPackageDigest digest;
  EXPECT_EQ(digester.Finish(&digest), 0u);
  if (pDigest != nullptr) *pDigest = digest;
  return NySha256Hex(digest.digest);
}

TEST(PackageDigest, KnownAnswersWhateverThePiecesTheBytesComeIn) {
  constexpr uint32_t MiB = 1u << 20;
  // No chunk at all: the digest of nothing.
  EXPECT_EQ(DigestHex("", MiB, 1), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  // Exactly one chunk: no empty chunk follows it.
  EXPECT_EQ(DigestHex(Pattern(MiB), MiB, 65536), "71ac1b58deca880a69a8e15670414e29ce90b174915ee596d9e9926e1b6e832b");
  const std::string bytes = Pattern(2 * MiB + 100);
  NyPackageDigest digest;
  for (size_t cbPiece : {size_t(1000003), size_t(MiB), bytes.size()}) {
    EXPECT_EQ(DigestHex(bytes, MiB, cbPiece, &digest),
              "b34ec8fc1970af7f42c7a5eaa4b32b6b1d065919fc0cc2e886af42b22f74f4fa")
        << cbPiece;
  }
  EXPECT_EQ(digest.u4PackageSize, bytes.size());
  EXPECT_EQ(digest.u4ChunkSize, MiB);
  EXPECT_EQ(DigestHex(Pattern(10000), 4096, 7), "e6396e8fc47a91e5b1b4228f25498bebfe6f57f3f1ddc40d63d6bbbf0c6f043f");
}

// Every length around the block and the padding's edges, in pieces that
// split blocks anywhere, and a long run of whole blocks.
TEST(PackageDigest, TheProcessorsRoundsGiveThePlatformsDigest) {
  if (!NySha256HasShaExtensions()) GTEST_SKIP() << "this processor has no SHA extensions";
  const std::string bytes = Pattern(300000);
  for (size_t cb : {size_t(0), size_t(1), size_t(55), size_t(56), size_t(63), size_t(64), size_t(65), size_t(119),
                    size_t(120), size_t(128), size_t(1000), bytes.size()}) {
    CNySha256 platform;
    CNySha256Blocks blocks;
    NySha256 expected{}, got{};
    for (size_t at = 0, i = 0; at < cb; ++i) {
      const size_t cbPiece = std::min<size_t>(i % 2 == 0 ? 37 : 4133, cb - at);
      ASSERT_EQ(platform.Add(bytes.data() + at, cbPiece), 0u);
      blocks.Add(bytes.data() + at, cbPiece);
      at += cbPiece;
    }
    ASSERT_EQ(platform.Finish(&expected), 0u);
    blocks.Finish(&got);
    EXPECT_EQ(NySha256Hex(got), NySha256Hex(expected)) << cb;
  }
}

TEST(PackageDigest, TheRecordReadsBackAndAnythingElseIsRefused) {
  NyPackageDigest digest;
  digest.u4ChunkSize = 65536;
  digest.u4PackageSize = 123456;
  for (size_t i = 0; i < NY_SHA256_SIZE; ++i) digest.digest[i] = static_cast<uint8_t>(i * 7);
  const std::string record = NyPackageDigestRecord(digest);
  ASSERT_EQ(record.size(), NY_PACKAGE_DIGEST_RECORD_SIZE);
  NyPackageDigest read;
  ASSERT_TRUE(NyPackageDigestRead(reinterpret_cast<const uint8_t*>(record.data()), record.size(), &read));
  EXPECT_EQ(read.u4ChunkSize, 65536u);
  EXPECT_EQ(read.u4PackageSize, 123456u);
  EXPECT_EQ(read.digest, digest.digest);

  const auto refused = [](std::string bytes) {
    NyPackageDigest out;
    return !NyPackageDigestRead(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), &out);
  };
  EXPECT_TRUE(refused(record.substr(0, record.size() - 1)));
  EXPECT_TRUE(refused(record + "x"));
  std::string other = record;
  other[0] = 'X';  // marker
  EXPECT_TRUE(refused(other));
  other = record;
  other[4] = 2;  // another definition
  EXPECT_TRUE(refused(other));
  for (uint32_t u4Chunk : {NY_PACKAGE_DIGEST_MIN_CHUNK - 1, NY_PACKAGE_DIGEST_MAX_CHUNK + 1, 0u}) {
    digest.u4ChunkSize = u4Chunk;
    EXPECT_TRUE(refused(NyPackageDigestRecord(digest))) << u4Chunk;
  }
  // A digester asked for such a chunk size takes no bytes and gives no record.
  CNyPackageDigester none(0);
  EXPECT_NE(none.Add("x", 1), 0u);
  EXPECT_NE(none.Finish(&read), 0u);
}

}  // namespace
