// Setup-script preparation as the setup program does it: the script's bytes
// are in memory (the package resource), then LoadFromMemory + InitVariables +
// Update, repeated; prints the median, minimum and maximum of each phase and
// of the whole, and the first run on its own (the one a setup process pays:
// it finds no shell state ready and reads the system folders). Each run uses
// a new script object, as the setup program does; its destruction is not
// timed. Two last lines give the whole for one object loaded again and
// again, which first frees the documents of the run before, and the time of
// Load from the file, for comparison. Under Wine the built-ins come from the
// real system folders; natively from the host stand-in.
//   script_bench [RUNS] [SCRIPT]
// SCRIPT defaults to SetupScript.xml beside the program. On a busy machine the
// wall-clock figures count the time other processes hold the CPU: the minimum
// is then nearer what a quiet machine shows.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
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

enum Phase { kLoad, kInitVariables, kUpdate, kTotal, kPhases };
const char* const kPhaseNames[kPhases] = {"LoadFromMemory", "InitVariables", "Update", "total"};

double MsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

bool ReadWholeFile(const std::string& path, std::string* pText) {
  FILE* pFile = fopen(path.c_str(), "rb");
  if (pFile == nullptr) return false;
  char abChunk[65536];
  for (size_t cb; (cb = fread(abChunk, 1, sizeof(abChunk), pFile)) > 0;) pText->append(abChunk, cb);
  const bool bRead = ferror(pFile) == 0;
  fclose(pFile);
  return bRead;
}

// One preparation as the setup driver does it; false on the first failure.
bool RunOnce(CNyXmlConfigScript& script, const std::string& text, double* pdMs) {
  const Clock::time_point start = Clock::now();
  uint32_t u4Result = script.LoadFromMemory(text.data(), text.size());
  pdMs[kLoad] = MsSince(start);
  const Clock::time_point variables = Clock::now();
  if (u4Result == NY_SUCCESS && !script.InitVariables("C:\\Temp\\NyKeyPackage_0000ABCD\\")) {
    u4Result = NY_E_INVALID_DATA;
  }
  pdMs[kInitVariables] = MsSince(variables);
  const Clock::time_point update = Clock::now();
  if (u4Result == NY_SUCCESS) u4Result = script.Update();
  pdMs[kUpdate] = MsSince(update);
  pdMs[kTotal] = MsSince(start);
  if (u4Result != NY_SUCCESS) {
    fprintf(stderr, "script_bench: the script failed with 0x%08X\n", static_cast<unsigned>(u4Result));
  }
  return u4Result == NY_SUCCESS;
}

}  // namespace

int main(int argc, char** argv) {
  const int nRuns = argc > 1 ? atoi(argv[1]) : 1000;
  const std::string path = argc > 2 ? argv[2] : DefaultScriptPath(argv[0]);
  if (nRuns <= 0) {
    fprintf(stderr, "usage: script_bench [RUNS] [SCRIPT]\n");
    return 2;
  }
  std::string text;
  if (!ReadWholeFile(path, &text)) {
    fprintf(stderr, "script_bench: cannot read %s\n", path.c_str());
    return 1;
  }
  auto pScript = std::make_unique<CNyXmlConfigScript>();
  double adFirst[kPhases] = {};
  if (!RunOnce(*pScript, text, adFirst)) return 1;
  std::vector<double> runs[kPhases];
  for (int i = 0; i < nRuns; ++i) {
    pScript = std::make_unique<CNyXmlConfigScript>();
    double adMs[kPhases] = {};
    if (!RunOnce(*pScript, text, adMs)) return 1;
    for (int p = 0; p < kPhases; ++p) runs[p].push_back(adMs[p]);
  }
  CNyString installDir;
  pScript->GetValue("InstallDir", &installDir);
  printf("script: %s\n", path.c_str());
  printf("InstallDir: %s\n", installDir.GetAnsi());
  printf("%-14s %10s %10s %10s %10s   (ms; first run apart, then %d runs)\n", "phase", "first", "median", "min",
         "max", nRuns);
  for (int p = 0; p < kPhases; ++p) {
    std::vector<double>& v = runs[p];
    std::sort(v.begin(), v.end());
    printf("%-14s %10.3f %10.3f %10.3f %10.3f\n", kPhaseNames[p], adFirst[p], v[v.size() / 2], v.front(), v.back());
  }
  std::vector<double> reloaded;
  for (int i = 0; i < nRuns; ++i) {
    double adMs[kPhases] = {};
    if (!RunOnce(*pScript, text, adMs)) return 1;
    reloaded.push_back(adMs[kTotal]);
  }
  std::sort(reloaded.begin(), reloaded.end());
  printf("%-14s %10s %10.3f %10.3f %10.3f   (one object loaded again each run)\n", "total", "",
         reloaded[reloaded.size() / 2], reloaded.front(), reloaded.back());
  std::vector<double> fromFile;
  for (int i = 0; i < nRuns; ++i) {
    const Clock::time_point start = Clock::now();
    if (pScript->Load(path.c_str()) != NY_SUCCESS) return 1;
    fromFile.push_back(MsSince(start));
  }
  std::sort(fromFile.begin(), fromFile.end());
  printf("%-14s %10s %10.3f %10.3f %10.3f   (Load from the file, for comparison)\n", "Load", "",
         fromFile[fromFile.size() / 2], fromFile.front(), fromFile.back());
  return 0;
}
