// Package extraction benchmark (Windows; run it under Wine or on Windows).
//   package_bench.exe [PACKAGE_MB [ROUNDS]]      defaults: 256 MB, 3 rounds
// Makes a tree of a few large files and about 2,000 small ones in a fresh
// folder under the temporary folder, packs it, loads the package into a heap
// buffer as the program does with its resource, and then, round by round,
// extracts it and copies the same files with CopyFileW. Prints the rates and
// the peak working set before loading, after loading and after extracting.
// Everything it made is deleted at the end.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "BenchWin.h"
#include "MemExtractFiles.h"
#include "NyPackageFormat.h"

namespace fs = std::filesystem;

namespace {

constexpr int SMALL_FILES = 2000;
constexpr int SMALL_FOLDERS = 40;
constexpr int LARGE_FILES = 4;
constexpr double MB = 1e6;

struct SourceFile {
  std::wstring relative;  // "big\\large1.bin"
  uint64_t u8Size;
};

double PeakWorkingSetMB() { return PeakWorkingSetBytes() / MB; }

[[noreturn]] void Die(const std::string& what) {
  fprintf(stderr, "package_bench: %s (error %lu)\n", what.c_str(), GetLastError());
  exit(1);
}

void WriteFileOf(const fs::path& path, uint64_t u8Size, const std::vector<char>& noise, size_t seed) {
  std::ofstream out(path, std::ios::binary);
  size_t pos = seed % noise.size();
  for (uint64_t left = u8Size; left > 0 && out;) {
    const size_t n = size_t(std::min<uint64_t>(left, noise.size() - pos));
    out.write(noise.data() + pos, std::streamsize(n));
    left -= n;
    pos = 0;
  }
  if (!out) Die("cannot write " + path.string());
}

// The source tree: LARGE_FILES large files and SMALL_FILES small ones in
// SMALL_FOLDERS folders, about u8Total bytes in all.
std::vector<SourceFile> MakeTree(const fs::path& root, uint64_t u8Total) {
  std::vector<char> noise(1 << 20);
  uint64_t state = 0x9E3779B97F4A7C15ull;
  for (char& c : noise) {
    state ^= state << 13, state ^= state >> 7, state ^= state << 17;
    c = char(state);
  }
  std::vector<SourceFile> files;
  uint64_t u8Small = 0;
  for (int i = 0; i < SMALL_FILES; ++i) {
    const uint64_t u8Size = 1 + (uint64_t(i) * 7919) % 16383;  // 1 byte to 16 KB, about 8 KB on average
    files.push_back({L"small\\group" + std::to_wstring(i % SMALL_FOLDERS) + L"\\file" + std::to_wstring(i) + L".dat",
                     u8Size});
    u8Small += u8Size;
  }
  for (int i = 0; i < LARGE_FILES; ++i)
    files.push_back({L"big\\large" + std::to_wstring(i) + L".bin", (u8Total - u8Small) / LARGE_FILES});
  size_t seed = 0;
  for (const SourceFile& file : files) {
    const fs::path path = root / file.relative;
    fs::create_directories(path.parent_path());
    WriteFileOf(path, file.u8Size, noise, seed += 4099);
  }
  return files;
}

NyPackageNode ReadTree(const fs::path& dir, const std::string& name) {
  NyPackageNode node = NyPackageNode::Folder(name);
  for (const fs::directory_entry& item : fs::directory_iterator(dir)) {
    const std::string child = item.path().filename().string();  // ASCII names only
    node.children.push_back(item.is_directory() ? ReadTree(item.path(), child)
                                                : NyPackageNode::FileFrom(child, item.path()));
  }
  return node;
}

void Remove(const fs::path& path) {
  std::error_code ec;
  fs::remove_all(path, ec);
}

// CopyFileW of every source file into dest, creating each folder once.
void CopyAll(const fs::path& source, const fs::path& dest, const std::vector<SourceFile>& files) {
  std::vector<std::wstring> made;
  fs::create_directories(dest);
  for (const SourceFile& file : files) {
    const std::wstring folder = file.relative.substr(0, file.relative.rfind(L'\\'));
    if (std::find(made.begin(), made.end(), folder) == made.end()) {
      for (size_t i = folder.find(L'\\'); ; i = folder.find(L'\\', i + 1)) {
        CreateDirectoryW((dest / folder.substr(0, i)).c_str(), nullptr);
        if (i == std::wstring::npos) break;
      }
      made.push_back(folder);
    }
    if (!CopyFileW((source / file.relative).c_str(), (dest / file.relative).c_str(), FALSE))
      Die("CopyFileW failed");
  }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const uint64_t u8Total = uint64_t(argc > 1 ? _wtoi(argv[1]) : 256) * 1000000;
  const int nRounds = std::max(1, argc > 2 ? _wtoi(argv[2]) : 3);
  wchar_t szTemp[MAX_PATH + 1] = {};
  GetTempPathW(MAX_PATH, szTemp);
  const fs::path root = fs::path(szTemp) / (L"NyPkgBench_" + std::to_wstring(GetCurrentProcessId()));
  Remove(root);
  fs::create_directories(root);

  double t = Now();
  const std::vector<SourceFile> files = MakeTree(root / L"src", u8Total);
  const double tTree = Now() - t;

  t = Now();
  const fs::path packagePath = root / L"package.bin";
  {
    std::ofstream out(packagePath, std::ios::binary);
    CNyPackageWriter writer([&out](const void* pv, size_t cb) {
      out.write(static_cast<const char*>(pv), std::streamsize(cb));
      return bool(out);
    });
    if (!writer.Write({ReadTree(root / L"src", "Payload")})) Die("packing failed: " + writer.Error());
  }
  const double tPack = Now() - t;

  // Load it as the program loads its resource: one heap buffer of its size.
  const double peakBeforeLoad = PeakWorkingSetMB();
  const DWORD cbPackage = DWORD(fs::file_size(packagePath));
  std::unique_ptr<BYTE[]> package(new BYTE[cbPackage]);
  {
    std::ifstream in(packagePath, std::ios::binary);
    if (!in.read(reinterpret_cast<char*>(package.get()), cbPackage)) Die("cannot read the package");
  }
  const double peakAfterLoad = PeakWorkingSetMB();
  CMemExtractFiles extractor(package.get(), cbPackage);
  CFileInfoArray list;
  t = Now();
  if (!extractor.GetFileList(list)) Die("the package does not list");
  const double tList = Now() - t;

  uint64_t u8Bytes = 0;
  for (const SourceFile& file : files) u8Bytes += file.u8Size;
  printf("package: %.1f MB, %zu files (%d large, %d small in %d folders); tree made in %.2f s, packed in %.2f s,"
         " listed in %.1f ms\n",
         cbPackage / MB, files.size(), LARGE_FILES, SMALL_FILES, SMALL_FOLDERS, tTree, tPack, tList * 1000);

  std::vector<double> extractRates, copyRates;
  for (int round = 1; round <= nRounds; ++round) {
    const fs::path extracted = root / L"extracted", copied = root / L"copied";
    double tExtract = 0, tCopy = 0;
    for (int step = 0; step < 2; ++step) {
      // Alternate which goes first, so neither always meets a warmer cache.
      if ((step == 0) == (round % 2 == 1)) {
        t = Now();
        if (!CMemExtractFiles::ExtractFiles(&extractor, list, L"", extracted.wstring() + L"\\")) Die("extraction failed");
        tExtract = Now() - t;
      } else {
        t = Now();
        CopyAll(root / L"src", copied / L"Payload", files);
        tCopy = Now() - t;
      }
    }
    extractRates.push_back(u8Bytes / MB / tExtract);
    copyRates.push_back(u8Bytes / MB / tCopy);
    printf("round %d: extract %.2f s (%.1f MB/s), CopyFileW %.2f s (%.1f MB/s)\n", round, tExtract,
           extractRates.back(), tCopy, copyRates.back());
    Remove(extracted);
    Remove(copied);
  }
  const double peakAfterExtract = PeakWorkingSetMB();

  std::sort(extractRates.begin(), extractRates.end());
  std::sort(copyRates.begin(), copyRates.end());
  const double extractMedian = extractRates[extractRates.size() / 2], copyMedian = copyRates[copyRates.size() / 2];
  printf("median: extract %.1f MB/s, CopyFileW %.1f MB/s: %.2f of the copy rate (target at least 0.90)\n",
         extractMedian, copyMedian, extractMedian / copyMedian);
  printf("peak working set: %.1f MB before loading, %.1f MB after loading the %.1f MB package, %.1f MB after"
         " extracting: extraction added %.1f MB (target: a few MB)\n",
         peakBeforeLoad, peakAfterLoad, cbPackage / MB, peakAfterExtract, peakAfterExtract - peakAfterLoad);
  printf("(1 MB = 1,000,000 bytes)\n");

  package.reset();
  Remove(root);
  return 0;
}
