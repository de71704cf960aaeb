// Setup-script preparation: Load + InitVariables + Update of the shipped
// script, repeated; prints milliseconds per run. Under Wine the built-ins
// come from the real system folders; natively from the host stand-in.
//   script_bench [RUNS] [SCRIPT]
// SCRIPT defaults to SetupScript.xml beside the program.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "NyConfigScript.h"
#include "NyResult.h"

#if defined(_WIN32)
#include <windows.h>
#endif

namespace {

using Clock = std::chrono::steady_clock;

std::string DefaultScriptPath(const char* pszArgv0) {
#if defined(_WIN32)
  (void)pszArgv0;
  wchar_t wszPath[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, wszPath, MAX_PATH);
  std::wstring path(wszPath);
  path = path.substr(0, path.find_last_of(L'\\') + 1) + L"SetupScript.xml";
  return CNyString(path.c_str()).GetAnsi();
#else
  const std::string self(pszArgv0);
  const size_t slash = self.find_last_of('/');
  return (slash == std::string::npos ? std::string() : self.substr(0, slash + 1)) + "SetupScript.xml";
#endif
}

}  // namespace

int main(int argc, char** argv) {
  const int nRuns = argc > 1 ? atoi(argv[1]) : 1000;
  const std::string path = argc > 2 ? argv[2] : DefaultScriptPath(argv[0]);
  if (nRuns <= 0) {
    fprintf(stderr, "usage: script_bench [RUNS] [SCRIPT]\n");
    return 2;
  }
  const char* pszSourceRoot = "C:\\Temp\\NyKeyPackage_0000ABCD\\";
  std::vector<double> runs;
  runs.reserve(static_cast<size_t>(nRuns));
  CNyXmlConfigScript script;
  // One run outside the timing: the first SHGetFolderPathW calls load shell
  // state that every later run finds ready.
  for (int i = -1; i < nRuns; ++i) {
    const Clock::time_point start = Clock::now();
    uint32_t u4Result = script.Load(path.c_str());
    if (u4Result == NY_SUCCESS && !script.InitVariables(pszSourceRoot)) u4Result = NY_E_INVALID_DATA;
    if (u4Result == NY_SUCCESS) u4Result = script.Update();
    const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    if (u4Result != NY_SUCCESS) {
      fprintf(stderr, "script_bench: %s failed with 0x%08X\n", path.c_str(), static_cast<unsigned>(u4Result));
      return 1;
    }
    if (i >= 0) runs.push_back(ms);
  }
  CNyString installDir;
  script.GetValue("InstallDir", &installDir);
  std::sort(runs.begin(), runs.end());
  double total = 0;
  for (double ms : runs) total += ms;
  printf("script: %s\n", path.c_str());
  printf("InstallDir: %s\n", installDir.GetAnsi());
  printf("runs: %d  mean: %.3f ms per run  median: %.3f ms  min: %.3f ms  max: %.3f ms\n", nRuns,
         total / nRuns, runs[runs.size() / 2], runs.front(), runs.back());
  return 0;
}
