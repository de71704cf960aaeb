// The package check against the raw speed of the system's SHA-256 (Windows;
// run it under Wine or on Windows).
//   digest_bench.exe [ROUNDS [PACKAGE_MIB]]      defaults: 5 rounds, 256 MiB
// This program carries the shipped package and its digest, as the setup
// does. It times, each in a fresh process of its own: its own package, and a
// package of PACKAGE_MIB MiB of noise in a copy of itself in the temporary
// folder. For each: the first check of the process (which also loads the
// system's hash provider), then per round the check as the setup makes it
// (all processors) and on one thread, and last the raw hash: one SHA-256 of
// the same bytes, already in memory. Prints the best round of each, the
// ratio of the check to the raw hash, and the peak working set after the
// checks and after the raw hash.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "BenchWin.h"
#include "MemExtractFiles.h"
#include "NyPackageCheck.h"

namespace {

constexpr double MiB = 1048576.0;

double PeakWorkingSetMiB() { return PeakWorkingSetBytes() / MiB; }

[[noreturn]] void Die(const char* pszWhat, unsigned uError) {
  fprintf(stderr, "digest_bench: %s (error 0x%08X)\n", pszWhat, uError);
  exit(1);
}

// The best of `rounds` timings of fn, in seconds.
template <typename Fn>
double Best(int rounds, Fn fn) {
  double best = 1e30;
  for (int i = 0; i < rounds; ++i) {
    const double start = Now();
    fn();
    best = std::min(best, Now() - start);
  }
  return best;
}

int Measure(int rounds) {
  const double baselineMiB = PeakWorkingSetMiB();
  const BYTE* pbPackage = nullptr;
  DWORD cbPackage = 0;
  if (LoadPackageResource(NY_PACKAGE_RESOURCE_ID, &pbPackage, &cbPackage) != 0) Die("no package", GetLastError());
  const double mib = cbPackage / MiB;
  const auto check = [] {
    const uint32_t u4Result = CheckPackageResource(NY_PACKAGE_RESOURCE_ID);
    if (u4Result != 0) Die("the check failed", u4Result);
  };
  const double first = Best(1, check);
  const double all = Best(rounds, check);
  CNyPackageFile package;
  if (package.OpenResource(NY_PACKAGE_RESOURCE_ID) != 0) Die("cannot open the package", GetLastError());
  NySha256 digest{};
  const double one = Best(rounds, [&] {
    const uint32_t u4Result = ComputePackageDigest(package, NY_PACKAGE_DIGEST_CHUNK, 1, &digest);
    if (u4Result != 0) Die("the one-thread digest failed", u4Result);
  });
  const double checkedMiB = PeakWorkingSetMiB();
  // The raw hash reads memory: the pages are brought in before the timing.
  volatile BYTE bSum = 0;
  for (DWORD i = 0; i < cbPackage; i += 4096) bSum = bSum + pbPackage[i];
  const double raw = Best(rounds, [&] {
    CNySha256 sha;
    if (sha.Add(pbPackage, cbPackage) != 0 || sha.Finish(&digest) != 0) Die("the raw hash failed", GetLastError());
  });
  SYSTEM_INFO si{};
  GetSystemInfo(&si);
  printf("   package %.2f MiB, %u processors, best of %d rounds\n", mib, unsigned(si.dwNumberOfProcessors), rounds);
  printf("     first check     %9.2f ms  %7.1f MiB/s  (loads the hash provider)\n", first * 1e3, mib / first);
  printf("     check           %9.2f ms  %7.1f MiB/s  %.2fx the raw hash\n", all * 1e3, mib / all, all / raw);
  printf("     check, 1 thread %9.2f ms  %7.1f MiB/s  %.2fx the raw hash\n", one * 1e3, mib / one, one / raw);
  printf("     raw SHA-256     %9.2f ms  %7.1f MiB/s  (one call, bytes in memory)\n", raw * 1e3, mib / raw);
  printf("     peak working set: %.1f MiB at start, %.1f MiB after the checks, %.1f MiB after the raw hash\n",
         baselineMiB, checkedMiB, PeakWorkingSetMiB());
  return 0;
}

// Runs this program's file (or a copy) with --measure, in a process of its own.
void RunMeasure(const std::wstring& exe, int rounds) {
  std::wstring command = L"\"" + exe + L"\" --measure " + std::to_wstring(rounds);
  STARTUPINFOW si{};
  si.cb = sizeof(si);
  PROCESS_INFORMATION pi{};
  if (!CreateProcessW(exe.c_str(), &command[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi))
    Die("cannot start the measuring process", GetLastError());
  WaitForSingleObject(pi.hProcess, INFINITE);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
}

// A copy of this program whose only resources are a package of noise and its digest.
std::wstring MakeCopyWithNoise(const std::wstring& self, uint32_t cbPackage) {
  wchar_t wszTemp[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, wszTemp);
  const std::wstring copy = std::wstring(wszTemp) + L"digest_bench_" + std::to_wstring(GetCurrentProcessId()) + L".exe";
  if (!CopyFileW(self.c_str(), copy.c_str(), FALSE)) Die("cannot copy the program", GetLastError());
  std::vector<BYTE> noise(cbPackage);
  uint64_t state = 0x9E3779B97F4A7C15ull;
  for (BYTE& b : noise) {
    state ^= state << 13, state ^= state >> 7, state ^= state << 17;
    b = BYTE(state);
  }
  CNyPackageDigester digester;
  NyPackageDigest digest;
  if (digester.Add(noise.data(), noise.size()) != 0 || digester.Finish(&digest) != 0) Die("no digest", 0);
  std::string record = NyPackageDigestRecord(digest);
  HANDLE hUpdate = BeginUpdateResourceW(copy.c_str(), TRUE);
  if (hUpdate == nullptr ||
      !UpdateResourceW(hUpdate, MAKEINTRESOURCEW(NY_PACKAGE_RESOURCE_TYPE), MAKEINTRESOURCEW(NY_PACKAGE_RESOURCE_ID),
                       MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL), noise.data(), DWORD(noise.size())) ||
      !UpdateResourceW(hUpdate, MAKEINTRESOURCEW(NY_PACKAGE_DIGEST_RESOURCE_TYPE),
                       MAKEINTRESOURCEW(NY_PACKAGE_RESOURCE_ID), MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL),
                       &record[0], DWORD(record.size())) ||
      !EndUpdateResourceW(hUpdate, FALSE))
    Die("cannot write the package into the copy", GetLastError());
  return copy;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc == 3 && wcscmp(argv[1], L"--measure") == 0) return Measure(_wtoi(argv[2]));
  const int rounds = argc > 1 ? _wtoi(argv[1]) : 5;
  const int packageMiB = argc > 2 ? _wtoi(argv[2]) : 256;
  if (rounds < 1 || packageMiB < 1 || packageMiB > 2048) {
    fprintf(stderr, "usage: digest_bench.exe [ROUNDS [PACKAGE_MIB]]\n");
    return 2;
  }
  wchar_t wszSelf[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, wszSelf, MAX_PATH);
  printf("digest_bench: the shipped package\n");
  fflush(stdout);
  RunMeasure(wszSelf, rounds);
  printf("digest_bench: %d MiB of noise\n", packageMiB);
  fflush(stdout);
  const std::wstring copy = MakeCopyWithNoise(wszSelf, uint32_t(packageMiB) << 20);
  RunMeasure(copy, rounds);
  DeleteFileW(copy.c_str());
  return 0;
}
