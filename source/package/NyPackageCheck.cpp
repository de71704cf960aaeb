#include "NyPackageCheck.h"

#include <algorithm>
#include <atomic>
#include <memory>
#include <new>
#include <vector>

#include "MemExtractFiles.h"
#include "NyImageLayout.h"
#include "NyLog.h"
#include "NyResult.h"

namespace {

// A thread reads its chunk through a buffer of this size at most.
constexpr uint32_t READ_PIECE = 1u << 20;
constexpr unsigned MAX_THREADS = 16;

// The chunks of one digest, handed out to the threads one at a time: the
// threads finish together however unevenly the machine serves them.
class CChunkHasher {
 public:
  CChunkHasher(const CNyPackageFile& package, uint32_t u4ChunkSize, uint32_t u4Chunks, NySha256* pDigests)
      : m_package(package), m_u4ChunkSize(u4ChunkSize), m_u4Chunks(u4Chunks), m_pDigests(pDigests) {}

  uint32_t Result() const { return m_u4Result.load(); }

  static DWORD WINAPI ThreadProc(LPVOID pvSelf) {
    static_cast<CChunkHasher*>(pvSelf)->Work();
    return 0;
  }

  void Work() {
    const uint32_t u4Piece = std::max<uint32_t>(1, std::min({m_u4ChunkSize, READ_PIECE, m_package.Size()}));
    const std::unique_ptr<BYTE[]> pBuffer(new (std::nothrow) BYTE[u4Piece]);
    if (!pBuffer) return SetResult(NYFAIL(NY_E_OUTOFMEMORY, "new", "the digest's read buffer"));
    CNySha256 sha;
    for (uint32_t i = m_u4Next++; i < m_u4Chunks && Result() == 0; i = m_u4Next++) {
      const uint32_t u4Begin = i * m_u4ChunkSize;
      const uint32_t cbChunk = std::min(m_u4ChunkSize, m_package.Size() - u4Begin);
      for (uint32_t cbDone = 0; cbDone < cbChunk;) {
        const uint32_t cbPiece = std::min(u4Piece, cbChunk - cbDone);
        uint32_t u4Result = m_package.Read(u4Begin + cbDone, pBuffer.get(), cbPiece);
        if (u4Result == 0) u4Result = sha.Add(pBuffer.get(), cbPiece);
        if (u4Result != 0) return SetResult(u4Result);
        cbDone += cbPiece;
      }
      const uint32_t u4Result = sha.Finish(&m_pDigests[i]);
      if (u4Result != 0) return SetResult(u4Result);
    }
  }

 private:
  void SetResult(uint32_t u4Result) {
    uint32_t u4None = 0;
    m_u4Result.compare_exchange_strong(u4None, u4Result);
  }

  const CNyPackageFile& m_package;
  const uint32_t m_u4ChunkSize;
  const uint32_t m_u4Chunks;
  NySha256* const m_pDigests;
  std::atomic<uint32_t> m_u4Next{0};
  std::atomic<uint32_t> m_u4Result{0};
};

unsigned ThreadCount(unsigned uRequested, uint32_t u4Chunks) {
  if (uRequested == 0) {
    SYSTEM_INFO si{};
    GetSystemInfo(&si);
    uRequested = si.dwNumberOfProcessors;
  }
  return static_cast<unsigned>(std::max<uint32_t>(1, std::min<uint32_t>({uRequested, u4Chunks, MAX_THREADS})));
}

double MillisecondsSince(const LARGE_INTEGER& start) {
  LARGE_INTEGER now{}, frequency{};
  QueryPerformanceCounter(&now);
  QueryPerformanceFrequency(&frequency);
  return double(now.QuadPart - start.QuadPart) * 1000.0 / double(frequency.QuadPart);
}

}  // namespace

uint32_t CNyPackageFile::OpenResource(UINT uId) {
  const BYTE* pbResource = nullptr;
  DWORD cbResource = 0;
  const uint32_t u4Result = LoadPackageResource(uId, &pbResource, &cbResource);
  if (u4Result != 0) return u4Result;
  // The resource's place in the image, and through the image's own headers
  // its place in the file.
  const auto* pbImage = reinterpret_cast<const BYTE*>(GetModuleHandleW(nullptr));
  MEMORY_BASIC_INFORMATION headers{};
  if (VirtualQuery(pbImage, &headers, sizeof(headers)) == 0)
    return NYFAIL(GetLastError(), "VirtualQuery", "the program's headers");
  const size_t cbHeaders = static_cast<const BYTE*>(headers.BaseAddress) + headers.RegionSize - pbImage;
  const uint64_t u8Rva = static_cast<uint64_t>(pbResource - pbImage);
  uint32_t u4FileOffset = 0;
  if (pbResource < pbImage || u8Rva > 0xFFFFFFFFu ||
      !NyImageRangeToFileOffset(pbImage, cbHeaders, static_cast<uint32_t>(u8Rva), cbResource, &u4FileOffset))
    return NYFAIL(NY_E_INVALID_DATA, "find in the program's file", "the package resource");
  std::wstring path(32768, L'\0');
  const DWORD cchPath = GetModuleFileNameW(nullptr, &path[0], static_cast<DWORD>(path.size()));
  if (cchPath == 0 || cchPath >= path.size())
    return NYFAIL(GetLastError(), "GetModuleFileNameW", "the running program");
  path.resize(cchPath);
  return Open(path, u4FileOffset, cbResource);
}

uint32_t CNyPackageFile::Open(const std::wstring& path, uint64_t u8Offset, uint32_t u4Size) {
  m_file.Reset(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                           FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!m_file) return NYFAIL(GetLastError(), "CreateFileW", path.c_str());
  m_path = path;
  m_u8Base = u8Offset;
  m_u4Size = u4Size;
  return 0;
}

uint32_t CNyPackageFile::Read(uint32_t u4Offset, void* pv, uint32_t cb) const {
  if (uint64_t(u4Offset) + cb > m_u4Size) return ERROR_INVALID_PARAMETER;
  // A position of its own for every read: threads share the handle.
  const uint64_t u8At = m_u8Base + u4Offset;
  OVERLAPPED at{};
  at.Offset = static_cast<DWORD>(u8At);
  at.OffsetHigh = static_cast<DWORD>(u8At >> 32);
  DWORD cbRead = 0;
  if (!ReadFile(m_file.Get(), pv, cb, &cbRead, &at)) return NYFAIL(GetLastError(), "ReadFile", m_path.c_str());
  if (cbRead != cb) return NYFAIL(ERROR_HANDLE_EOF, "ReadFile", m_path.c_str());
  return 0;
}

uint32_t ComputePackageDigest(const CNyPackageFile& package, uint32_t u4ChunkSize, unsigned uThreads,
                              NySha256* pDigest) {
  if (u4ChunkSize < NY_PACKAGE_DIGEST_MIN_CHUNK || u4ChunkSize > NY_PACKAGE_DIGEST_MAX_CHUNK)
    return ERROR_INVALID_PARAMETER;
  const uint32_t u4Chunks = static_cast<uint32_t>((uint64_t(package.Size()) + u4ChunkSize - 1) / u4ChunkSize);
  const std::unique_ptr<NySha256[]> pDigests(new (std::nothrow) NySha256[u4Chunks == 0 ? 1 : u4Chunks]);
  if (!pDigests) return NYFAIL(NY_E_OUTOFMEMORY, "new", "the chunk digests");
  CChunkHasher hasher(package, u4ChunkSize, u4Chunks, pDigests.get());
  std::vector<CNyHandle> helpers;
  const unsigned uCount = ThreadCount(uThreads, u4Chunks);
  for (unsigned i = 1; i < uCount; ++i) {
    CNyHandle thread(CreateThread(nullptr, 0, CChunkHasher::ThreadProc, &hasher, 0, nullptr));
    // Fewer threads only take longer.
    if (!thread) {
      NYFAIL(GetLastError(), "CreateThread", "a digest thread");
      break;
    }
    helpers.push_back(std::move(thread));
  }
  hasher.Work();
  for (const CNyHandle& thread : helpers) WaitForSingleObject(thread.Get(), INFINITE);
  uint32_t u4Result = hasher.Result();
  CNySha256 root;
  if (u4Result == 0) u4Result = root.Add(pDigests.get(), sizeof(NySha256) * u4Chunks);
  if (u4Result == 0) u4Result = root.Finish(pDigest);
  return u4Result;
}

uint32_t CheckPackageDigest(UINT uId, const CNyPackageFile& package) {
  HRSRC hResource = FindResourceW(nullptr, MAKEINTRESOURCEW(uId), MAKEINTRESOURCEW(NY_PACKAGE_DIGEST_RESOURCE_TYPE));
  if (hResource == nullptr) {
    const DWORD dwError = GetLastError();
    if (dwError != ERROR_RESOURCE_DATA_NOT_FOUND && dwError != ERROR_RESOURCE_TYPE_NOT_FOUND &&
        dwError != ERROR_RESOURCE_NAME_NOT_FOUND)
      return NYFAIL(dwError, "FindResourceW", "the package digest");
    NYLOG(LOG_LEVEL_OUTCOME, "The package has no digest: it is used without a check (%u bytes)",
          static_cast<unsigned>(package.Size()));
    return 0;
  }
  HGLOBAL hData = LoadResource(nullptr, hResource);
  const void* pvRecord = hData != nullptr ? LockResource(hData) : nullptr;
  if (pvRecord == nullptr) return NYFAIL(GetLastError(), "LoadResource", "the package digest");
  const DWORD cbRecord = SizeofResource(nullptr, hResource);
  NyPackageDigest expected;
  if (!NyPackageDigestRead(static_cast<const uint8_t*>(pvRecord), cbRecord, &expected)) {
    NYLOG(LOG_LEVEL_OUTCOME, "The package is damaged: its digest record (%u bytes) is malformed",
          static_cast<unsigned>(cbRecord));
    return NY_E_PACKAGE_DAMAGED;
  }
  LARGE_INTEGER start{};
  QueryPerformanceCounter(&start);
  NySha256 computed{};
  const uint32_t u4Result = ComputePackageDigest(package, expected.u4ChunkSize, 0, &computed);
  if (u4Result != 0) return u4Result;
  const std::string expectedHex = NySha256Hex(expected.digest), computedHex = NySha256Hex(computed);
  if (computed != expected.digest || package.Size() != expected.u4PackageSize) {
    NYLOG(LOG_LEVEL_OUTCOME, "The package is damaged: expected digest %s (%u bytes), computed %s (%u bytes)",
          expectedHex.c_str(), static_cast<unsigned>(expected.u4PackageSize), computedHex.c_str(),
          static_cast<unsigned>(package.Size()));
    return NY_E_PACKAGE_DAMAGED;
  }
  NYLOG(LOG_LEVEL_TRACE, "The package's digest matches: %s (%u bytes, %.1f ms)", computedHex.c_str(),
        static_cast<unsigned>(package.Size()), MillisecondsSince(start));
  return 0;
}

uint32_t OpenCheckedPackage(UINT uId, CNyPackageFile* pPackage) {
  const uint32_t u4Result = pPackage->OpenResource(uId);
  return u4Result != 0 ? u4Result : CheckPackageDigest(uId, *pPackage);
}

uint32_t CheckPackageResource(UINT uId) {
  CNyPackageFile package;
  return OpenCheckedPackage(uId, &package);
}
