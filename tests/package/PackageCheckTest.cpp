// The check of a package against its digest: the program's own package read
// through its file, a flipped byte, a record cut short, and a digest that
// does not depend on the number of threads that work it out.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "CaptureLogger.h"
#include "MemExtractFiles.h"
#include "NyPackageCheck.h"
#include "ScratchDir.h"

namespace {

constexpr UINT kPackage = 136, kPackageWithCutRecord = 137;

std::string ResourceBytes(UINT uId, UINT uType) {
  HRSRC hResource = FindResourceW(nullptr, MAKEINTRESOURCEW(uId), MAKEINTRESOURCEW(uType));
  if (hResource == nullptr) return std::string();
  const char* pb = static_cast<const char*>(LockResource(LoadResource(nullptr, hResource)));
  return std::string(pb, SizeofResource(nullptr, hResource));
}

std::string Hex(const std::string& bytes) {
  NyPackageDigest digest;
  CNyPackageDigester digester;
  if (digester.Add(bytes.data(), bytes.size()) != 0 || digester.Finish(&digest) != 0) return "<failed>";
  return NySha256Hex(digest.digest);
}

TEST(PackageCheck, TheProgramsOwnPackageIsReadThroughItsFileAndMatches) {
  const std::string mapped = ResourceBytes(kPackage, NY_PACKAGE_RESOURCE_TYPE);
  ASSERT_GT(mapped.size(), 2u << 20) << "the golden package spans several chunks";
  CNyPackageFile package;
  ASSERT_EQ(package.OpenResource(kPackage), 0u);
  ASSERT_EQ(package.Size(), mapped.size());
  std::string read(mapped.size(), '\0');
  ASSERT_EQ(package.Read(0, &read[0], package.Size()), 0u);
  EXPECT_TRUE(read == mapped) << "the file's bytes are not the resource's";
  EXPECT_EQ(package.Read(1, &read[0], package.Size()), DWORD(ERROR_INVALID_PARAMETER));
  CaptureLogger log;
  EXPECT_EQ(CheckPackageDigest(kPackage, package), 0u);
  EXPECT_TRUE(log.Contains("The package's digest matches: " + Hex(mapped)));
}

TEST(PackageCheck, AFlippedByteACutRecordAndNoRecord) {
  std::string bytes = ResourceBytes(kPackage, NY_PACKAGE_RESOURCE_TYPE);
  bytes[bytes.size() / 2] ^= 0x01;
  ScratchDir scratch(L"ny_package_check");
  // The package stands in the file after other bytes, as in a program.
  ASSERT_TRUE(WriteTextFile(scratch / L"damaged.exe", std::string(100, 'x') + bytes));
  CNyPackageFile package;
  ASSERT_EQ(package.Open(scratch / L"damaged.exe", 100, static_cast<uint32_t>(bytes.size())), 0u);
  CaptureLogger log;
  EXPECT_EQ(CheckPackageDigest(kPackage, package), NY_E_PACKAGE_DAMAGED);
  const std::string record = ResourceBytes(kPackage, NY_PACKAGE_DIGEST_RESOURCE_TYPE);
  NyPackageDigest expected;
  ASSERT_TRUE(NyPackageDigestRead(reinterpret_cast<const uint8_t*>(record.data()), record.size(), &expected));
  const std::string size = " (" + std::to_string(bytes.size()) + " bytes)";
  EXPECT_TRUE(log.Contains("The package is damaged: expected digest " + NySha256Hex(expected.digest) + size +
                           ", computed " + Hex(bytes) + size));

  EXPECT_EQ(CheckPackageDigest(kPackageWithCutRecord, package), NY_E_PACKAGE_DAMAGED);
  EXPECT_TRUE(log.Contains("The package is damaged: its digest record (4 bytes) is malformed"));
  // A program made before packages had digests: its package is used as it is.
  EXPECT_EQ(CheckPackageDigest(999, package), 0u);
  EXPECT_TRUE(log.Contains("The package has no digest"));
}

TEST(PackageCheck, TheNumberOfThreadsDoesNotChangeTheDigest) {
  std::string bytes((5u << 20) + 3, '\0');
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 2654435761u >> 24);
  ScratchDir scratch(L"ny_package_threads");
  ASSERT_TRUE(WriteTextFile(scratch / L"package.bin", bytes));
  CNyPackageFile package;
  ASSERT_EQ(package.Open(scratch / L"package.bin", 0, static_cast<uint32_t>(bytes.size())), 0u);
  CNyPackageDigester digester(65536);
  NyPackageDigest streamed;
  ASSERT_EQ(digester.Add(bytes.data(), bytes.size()), 0u);
  ASSERT_EQ(digester.Finish(&streamed), 0u);
  for (unsigned uThreads : {1u, 4u}) {
    NySha256 digest{};
    ASSERT_EQ(ComputePackageDigest(package, 65536, uThreads, &digest), 0u);
    EXPECT_EQ(NySha256Hex(digest), NySha256Hex(streamed.digest)) << uThreads << " threads";
  }
}

}  // namespace
