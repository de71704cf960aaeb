// Loading the embedded package and writing its files to disk (Windows).
// The embedded package is the shipped package's shape made by nypack at
// build time (resource 136 of type 256 of this test program).
#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>

#include "CaptureLogger.h"
#include "MemExtractFiles.h"
#include "NyFileUtil.h"
#include "NyHeldFiles.h"
#include "NyPackageCheck.h"
#include "NyResult.h"
#include "PackageBytes.h"

namespace fs = std::filesystem;

namespace {

using Node = NyPackageNode;

// A fresh folder under the temporary folder, removed with everything in it.
// Its path has no '.' unless the temporary folder's has one.
class TempFolder {
 public:
  TempFolder() {
    static int nCount = 0;
    wchar_t szTemp[MAX_PATH + 1] = {};
    GetTempPathW(MAX_PATH, szTemp);
    m_path = std::wstring(szTemp) + L"NyPkgTest_" + std::to_wstring(GetCurrentProcessId()) + L"_" +
             std::to_wstring(++nCount);
    fs::remove_all(m_path);
    fs::create_directories(m_path);
  }
  ~TempFolder() {
    std::error_code ec;
    fs::remove_all(m_path, ec);
  }
  const std::wstring& Path() const { return m_path; }  // without a trailing '\'
  std::wstring Sub(const std::wstring& relative) const { return m_path + L"\\" + relative; }

 private:
  std::wstring m_path;
};

std::string ReadBytes(const std::wstring& path) {
  std::ifstream in(fs::path(path), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool IsFolder(const std::wstring& path) {
  const DWORD dwAttributes = GetFileAttributesW(path.c_str());
  return dwAttributes != INVALID_FILE_ATTRIBUTES && (dwAttributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::string Narrow(const std::wstring& ascii) { return std::string(ascii.begin(), ascii.end()); }

// The embedded package, loaded and listed.
struct EmbeddedPackage {
  EmbeddedPackage() {
    bLoaded = LoadPackageResource(NY_PACKAGE_RESOURCE_ID, &bytes, &cb) == 0;
    extractor = std::make_unique<CMemExtractFiles>(bytes, cb);
    bListed = bLoaded && extractor->GetFileList(list);
  }
  std::string Data(const CFileInfo& entry) const {
    return std::string(reinterpret_cast<const char*>(bytes) + entry.m_u4Offset, entry.m_u4Size);
  }
  const BYTE* bytes = nullptr;
  DWORD cb = 0;
  bool bLoaded = false, bListed = false;
  std::unique_ptr<CMemExtractFiles> extractor;
  CFileInfoArray list;
};

// A package made in memory, with its list.
struct MemoryPackage {
  explicit MemoryPackage(const std::vector<NyPackageNode>& roots)
      : bytes(Pack(roots)), extractor(reinterpret_cast<const BYTE*>(bytes.data()), DWORD(bytes.size())) {
    bListed = extractor.GetFileList(list);
  }
  std::string bytes;
  CMemExtractFiles extractor;
  CFileInfoArray list;
  bool bListed;
};

TEST(PackageResource, ListsAndExtractsTheEmbeddedPackage) {
  EmbeddedPackage package;
  ASSERT_TRUE(package.bLoaded);
  EXPECT_EQ(package.cb, 2230795u);
  ASSERT_TRUE(package.bListed);
  const struct {
    const wchar_t* pwszPath;
    const wchar_t* pwszName;
    uint32_t u4Size, u4Offset;
  } expected[] = {
      {L"\\PackageFiles\\System32(x86)\\ZorvakMiniDriver.dll", L"ZorvakMiniDriver.dll", 963536, 0x135540},
      {L"\\PackageFiles\\System32(x64)\\ZorvakMiniDriver.dll", L"ZorvakMiniDriver.dll", 1207760, 0xE747},
      {L"\\PackageFiles\\Share\\ZorvakMiniDriver.cfg", L"ZorvakMiniDriver.cfg", 39429, 0x4D19},
      {L"\\PackageFiles\\SetupScript.xml", L"SetupScript.xml", 19663, 0x4A},
      {L"\\PackageFiles\\Reg\\", L"Reg", 8, 0x42},
      {L"\\PackageFiles\\ProgramFiles(x86)\\Zorvak\\MiniDriver\\", L"MiniDriver", 8, 0x0},
  };
  ASSERT_EQ(package.list.size(), std::size(expected));
  for (size_t i = 0; i < std::size(expected); ++i) {
    const CFileInfo& entry = package.list[i];
    EXPECT_EQ(entry.m_strRelativePath, expected[i].pwszPath);
    EXPECT_EQ(entry.m_strName, expected[i].pwszName);
    EXPECT_EQ(entry.m_u4Size, expected[i].u4Size);
    EXPECT_EQ(entry.m_u4Offset, expected[i].u4Offset);
    EXPECT_EQ(entry.m_u1Flags, i < 4 ? 0x00 : 0x80);
  }
  EXPECT_EQ(package.Data(package.list[2]).substr(0, 4), "NYAR");

  // The extraction folder ends in '\', so every path has a doubled backslash.
  TempFolder dir;
  ASSERT_EQ(CMemExtractFiles::ExtractFiles(package.extractor.get(), package.list, L"", dir.Path() + L"\\"), 0u);
  for (const CFileInfo& entry : package.list) {
    const std::wstring path = dir.Path() + L"\\" + entry.m_strRelativePath;
    if (entry.IsFolder())
      EXPECT_TRUE(IsFolder(path));
    else
      EXPECT_EQ(ReadBytes(path), package.Data(entry)) << Narrow(path);
  }
  size_t nFiles = 0;
  for (const fs::directory_entry& item : fs::recursive_directory_iterator(dir.Path()))
    if (item.is_regular_file()) ++nFiles;
  EXPECT_EQ(nFiles, 4u);
}

TEST(PackageResource, LoadFailsWithoutOutPointersOrResource) {
  const BYTE* pb = nullptr;
  DWORD cb = 0;
  EXPECT_EQ(LoadPackageResource(NY_PACKAGE_RESOURCE_ID, nullptr, &cb), static_cast<uint32_t>(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(LoadPackageResource(NY_PACKAGE_RESOURCE_ID, &pb, nullptr), static_cast<uint32_t>(ERROR_INVALID_PARAMETER));
  CaptureLogger log;
  EXPECT_EQ(LoadPackageResource(NY_PACKAGE_RESOURCE_ID + 1, &pb, &cb),
            static_cast<uint32_t>(ERROR_RESOURCE_NAME_NOT_FOUND));
  EXPECT_TRUE(log.Contains("FindResourceW failed for the package resource (error 0x00000716)"));
  EXPECT_EQ(pb, nullptr);

  CFileInfoArray list;
  EXPECT_FALSE(CMemExtractFiles(nullptr, 10).GetFileList(list));
  EXPECT_FALSE(CMemExtractFiles(reinterpret_cast<const BYTE*>("x"), 0).GetFileList(list));
}

TEST(PackageExtract, TheWantedPathIsFoundIgnoringCaseAndWrittenAlone) {
  EmbeddedPackage package;
  ASSERT_TRUE(package.bListed);
  TempFolder dir;
  CaptureLogger log;
  ASSERT_EQ(CMemExtractFiles::ExtractFiles(package.extractor.get(), package.list, L"\\packagefiles\\setupscript.xml",
                                             dir.Path() + L"\\"), 0u);
  EXPECT_EQ(ReadBytes(dir.Sub(L"PackageFiles\\SetupScript.xml")), package.Data(package.list[3]));
  EXPECT_FALSE(Exists(dir.Sub(L"PackageFiles\\System32(x86)")));
  EXPECT_FALSE(Exists(dir.Sub(L"PackageFiles\\Reg")));

  // No such entry: false, nothing written, nothing logged.
  EXPECT_NE(CMemExtractFiles::ExtractFiles(package.extractor.get(), package.list, L"\\PackageFiles\\Other.xml",
                                              dir.Path() + L"\\"), 0u);
  EXPECT_TRUE(log.lines.empty());
  // An empty list extracts nothing and succeeds.
  EXPECT_EQ(CMemExtractFiles::ExtractFiles(package.extractor.get(), CFileInfoArray(), L"", dir.Path() + L"\\"), 0u);

  // The same entry's bytes, in place; a folder or an entry past the end has none.
  const BYTE* pb = nullptr;
  DWORD cb = 0;
  ASSERT_EQ(package.extractor->GetFileBytes(package.list, L"\\PACKAGEFILES\\SetupScript.XML", &pb, &cb), 0u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(pb), cb), package.Data(package.list[3]));
  EXPECT_EQ(package.extractor->GetFileBytes(package.list, L"\\PackageFiles\\Other.xml", &pb, &cb),
            static_cast<uint32_t>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(package.extractor->GetFileBytes(package.list, L"\\PackageFiles\\Reg\\", &pb, &cb),
            static_cast<uint32_t>(ERROR_INVALID_DATA));
  CFileInfoArray past = package.list;
  past[3].m_u4Offset = package.cb - 1;
  EXPECT_EQ(package.extractor->GetFileBytes(past, L"\\PackageFiles\\SetupScript.xml", &pb, &cb),
            static_cast<uint32_t>(ERROR_INVALID_DATA));
}

// Every byte around the 1 MiB chunk, from memory and through the package's
// file; there into a held folder too, whose files are read back against the
// package. The copy in memory differs in the files' bytes, so the files
// show where their bytes came from.
TEST(PackageExtract, WritesEveryByteAroundTheChunkSizeFromMemoryOrTheFile) {
  constexpr size_t kChunk = 1 << 20;
  std::string pattern;
  for (size_t i = 0; i <= kChunk; ++i) pattern += static_cast<char>(i * 7 + i / 256);
  const std::vector<Node> roots = {Node::File("a.bin", pattern.substr(0, kChunk)), Node::File("b.bin", pattern),
                                   Node::File("c1.bin", "\n"), Node::File("d0.bin", "")};
  MemoryPackage package(roots);
  ASSERT_TRUE(package.bListed);
  const auto expectFiles = [&](const TempFolder& dir) {
    EXPECT_EQ(ReadBytes(dir.Sub(L"a.bin")), pattern.substr(0, kChunk));
    EXPECT_EQ(ReadBytes(dir.Sub(L"b.bin")), pattern);
    EXPECT_EQ(ReadBytes(dir.Sub(L"c1.bin")), "\n");  // binary: no "\r\n"
    EXPECT_TRUE(Exists(dir.Sub(L"d0.bin")));
    EXPECT_EQ(ReadBytes(dir.Sub(L"d0.bin")), "");
  };
  TempFolder fromMemory;
  ASSERT_EQ(CMemExtractFiles::ExtractFiles(&package.extractor, package.list, L"", fromMemory.Path() + L"\\"), 0u);
  expectFiles(fromMemory);

  TempFolder source;
  const std::wstring file = source.Sub(L"setup.bin");
  std::ofstream(fs::path(file), std::ios::binary) << "head" << package.bytes;
  CNyPackageFile packageFile;
  ASSERT_EQ(packageFile.Open(file, 4, static_cast<uint32_t>(package.bytes.size())), 0u);
  std::string altered = package.bytes;
  for (const CFileInfo& entry : package.list)
    for (uint32_t i = 0; i < entry.m_u4Size; ++i) altered[entry.m_u4Offset + i] ^= 0x55;
  CMemExtractFiles throughFile(reinterpret_cast<const BYTE*>(altered.data()), DWORD(altered.size()), &packageFile);
  TempFolder held;
  CNyHeldFiles::Instance().AddFolder(held.Path());
  ASSERT_EQ(CMemExtractFiles::ExtractFiles(&throughFile, package.list, L"", held.Path() + L"\\"), 0u);
  bool bInFolder = false;
  EXPECT_NE(CNyHeldFiles::Instance().Find(held.Sub(L"b.bin"), &bInFolder), nullptr);
  expectFiles(held);
  // Copied on from the held handles: the same bytes and time stamps, a
  // chunk and a byte as well as nothing at all.
  TempFolder copies;
  for (const wchar_t* pwszName : {L"a.bin", L"b.bin", L"c1.bin", L"d0.bin"}) {
    const HANDLE hHeld = CNyHeldFiles::Instance().Find(held.Sub(pwszName), &bInFolder);
    ASSERT_NE(hHeld, nullptr);
    ASSERT_EQ(CopyHeldFile(hHeld, copies.Sub(pwszName)), 0u);
    WIN32_FILE_ATTRIBUTE_DATA from{}, to{};
    ASSERT_TRUE(GetFileAttributesExW(held.Sub(pwszName).c_str(), GetFileExInfoStandard, &from));
    ASSERT_TRUE(GetFileAttributesExW(copies.Sub(pwszName).c_str(), GetFileExInfoStandard, &to));
    EXPECT_EQ(CompareFileTime(&from.ftLastWriteTime, &to.ftLastWriteTime), 0) << pwszName;
  }
  expectFiles(copies);
  CNyHeldFiles::Instance().ReleaseFolder(held.Path());
}

TEST(PackageExtract, ReplacesALargerFileExactly) {
  MemoryPackage package({Node::Folder("Data", {Node::File("small.txt", "ten bytes!")})});
  ASSERT_TRUE(package.bListed);
  TempFolder dir;
  fs::create_directories(dir.Sub(L"Data"));
  std::ofstream(fs::path(dir.Sub(L"Data\\small.txt")), std::ios::binary) << std::string(100000, 'o');
  ASSERT_EQ(CMemExtractFiles::ExtractFiles(&package.extractor, package.list, L"", dir.Path() + L"\\"), 0u);
  EXPECT_EQ(ReadBytes(dir.Sub(L"Data\\small.txt")), "ten bytes!");
}

TEST(PackageExtract, AFolderAtTheTargetPathStopsTheExtraction) {
  EmbeddedPackage package;
  ASSERT_TRUE(package.bListed);
  TempFolder dir;
  fs::create_directories(dir.Sub(L"PackageFiles\\SetupScript.xml"));
  CaptureLogger log;
  // The system's error of the failed open comes back, for the exit code.
  EXPECT_EQ(CMemExtractFiles::ExtractFiles(package.extractor.get(), package.list, L"", dir.Path() + L"\\"),
            static_cast<uint32_t>(ERROR_ACCESS_DENIED));

  const std::string prefix = "CMemExtractFiles::ExtractFileEx()->fopen(" +
                             Narrow(dir.Path() + L"\\\\PackageFiles\\SetupScript.xml") + ") error. GetLastError=0x";
  ASSERT_EQ(log.lines.size(), 1u);
  EXPECT_EQ(log.lines.back().u4Level, LOG_LEVEL_OUTCOME);
  EXPECT_EQ(log.lines.back().text, prefix + "5");
  // What came before stays; nothing after it is written.
  EXPECT_EQ(ReadBytes(dir.Sub(L"PackageFiles\\Share\\ZorvakMiniDriver.cfg")), package.Data(package.list[2]));
  EXPECT_FALSE(Exists(dir.Sub(L"PackageFiles\\Reg")));
}

TEST(PackageExtract, AFileNamedWithoutADotIsMadeAFolderFirst) {
  MemoryPackage package({Node::Folder("Data", {Node::File("LICENSE", "text")})});
  ASSERT_TRUE(package.bListed);
  TempFolder dir;
  if (dir.Path().find(L'.') != std::wstring::npos) GTEST_SKIP() << "the temporary folder's path has a dot";
  CaptureLogger log;
  EXPECT_NE(CMemExtractFiles::ExtractFiles(&package.extractor, package.list, L"", dir.Path() + L"\\"), 0u);
  EXPECT_TRUE(IsFolder(dir.Sub(L"Data\\LICENSE")));
  ASSERT_EQ(log.lines.size(), 1u);
  EXPECT_EQ(log.lines[0].text.rfind("CMemExtractFiles::ExtractFileEx()->fopen(", 0), 0u);
}

// --- Extraction never writes outside its target folder ----------------------

TEST(PackageExtract, RootFilesStayInsideATargetWithoutTrailingSeparator) {
  MemoryPackage package({Node::File("root.txt", "r")});
  ASSERT_TRUE(package.bListed);
  ASSERT_EQ(package.list.at(0).m_strRelativePath, L"root.txt");
  TempFolder dir;
  ASSERT_EQ(CMemExtractFiles::ExtractFiles(&package.extractor, package.list, L"", dir.Sub(L"out")), 0u);
  EXPECT_EQ(ReadBytes(dir.Sub(L"out\\root.txt")), "r");
  EXPECT_FALSE(Exists(dir.Sub(L"outroot.txt")));

  // An empty target folder would put everything under the drive's root.
  CaptureLogger log;
  EXPECT_NE(CMemExtractFiles::ExtractFiles(&package.extractor, package.list, L"", L""), 0u);
  ASSERT_EQ(log.lines.size(), 1u);
  EXPECT_EQ(log.lines[0].text, "u4Result = E0600007");
  EXPECT_EQ(log.lines[0].u4Level, LOG_LEVEL_ERROR);
}

TEST(PackageExtract, RefusesPlantedNamesAndForeignRanges) {
  // A folder named ".." holding a file: a naive reader lists "\..\evil.txt".
  const std::string planted = PackageBytes()
                                  .Raw("evil")
                                  .Record(0, 4, 0, "evil.txt")
                                  .TableEnd(0, 1)
                                  .Record(0, 33, 0x80, "..")
                                  .TableEnd(0, 1)
                                  .Trailer()
                                  .Str();
  CMemExtractFiles extractor(reinterpret_cast<const BYTE*>(planted.data()), DWORD(planted.size()));
  CFileInfoArray list;
  EXPECT_FALSE(extractor.GetFileList(list));
  EXPECT_TRUE(list.empty());

  // An entry that points past the package is never read.
  MemoryPackage package({Node::File("a.txt", "abc")});
  ASSERT_TRUE(package.bListed);
  TempFolder dir;
  CFileInfo entry = package.list.at(0);
  entry.m_u4Size = DWORD(package.bytes.size()) + 1;
  EXPECT_NE(CMemExtractFiles::ExtractFileEx(&package.extractor, dir.Sub(L"a.txt"), entry), 0u);
  EXPECT_FALSE(Exists(dir.Sub(L"a.txt")));
  // No path, a folder entry, or no bytes: false without a log line.
  CaptureLogger log;
  EXPECT_NE(CMemExtractFiles::ExtractFileEx(&package.extractor, L"", package.list[0]), 0u);
  CFileInfo folder = package.list[0];
  folder.m_u1Flags = 0x80;
  EXPECT_NE(CMemExtractFiles::ExtractFileEx(&package.extractor, dir.Sub(L"b.txt"), folder), 0u);
  CMemExtractFiles empty(nullptr, 0);
  EXPECT_NE(CMemExtractFiles::ExtractFileEx(&empty, dir.Sub(L"c.txt"), package.list[0]), 0u);
  EXPECT_TRUE(log.lines.empty());
}

// --- CreateDirectoryTree ----------------------------------------------------

TEST(CreateDirectoryTree, ADotMakesTheLastElementAFileName) {
  TempFolder dir;
  if (dir.Path().find(L'.') != std::wstring::npos) GTEST_SKIP() << "the temporary folder's path has a dot";
  EXPECT_EQ(CreateDirectoryTree(dir.Sub(L"a\\b\\c").c_str()), NY_SUCCESS);
  EXPECT_TRUE(IsFolder(dir.Sub(L"a\\b\\c")));
  EXPECT_EQ(CreateDirectoryTree(dir.Sub(L"p\\App 1.0").c_str()), NY_SUCCESS);
  EXPECT_TRUE(IsFolder(dir.Sub(L"p")));
  EXPECT_FALSE(Exists(dir.Sub(L"p\\App 1.0")));
  EXPECT_EQ(CreateDirectoryTree(dir.Sub(L"q\\App 1.0\\").c_str()), NY_SUCCESS);
  EXPECT_TRUE(IsFolder(dir.Sub(L"q\\App 1.0")));
  EXPECT_EQ(CreateDirectoryTree(dir.Sub(L"r.d\\s\\t").c_str()), NY_SUCCESS);
  EXPECT_TRUE(IsFolder(dir.Sub(L"r.d\\s")));
  EXPECT_FALSE(Exists(dir.Sub(L"r.d\\s\\t")));
  // Again, with everything there already.
  EXPECT_EQ(CreateDirectoryTree(dir.Sub(L"a\\b\\c\\").c_str()), NY_SUCCESS);
}

TEST(CreateDirectoryTree, FailsOnShortPathsAndFilesInTheWay) {
  EXPECT_EQ(CreateDirectoryTree(nullptr), NY_E_INVALID_PARAM);
  EXPECT_EQ(CreateDirectoryTree(L"C:\\"), NY_E_INVALID_PARAM);
  TempFolder dir;
  std::ofstream(fs::path(dir.Sub(L"file"))) << "x";
  const uint32_t u4Result = CreateDirectoryTree(dir.Sub(L"file\\sub\\deeper").c_str());
  EXPECT_NE(u4Result, NY_SUCCESS);
  EXPECT_LT(u4Result, 0x10000u) << "a platform error code";
}

}  // namespace
