// nypack: builds, lists and extracts the program's packages.
//   nypack build DIR OUT     packs the tree under DIR (DIR's children form the root table),
//                            and writes the package's digest record to OUT.digest
//   nypack digest PKG [OUT]  prints the digest, chunk size and package size; writes the record to OUT
//   nypack list PKG          one line per entry: relative path, kind, size, offset in hex
//   nypack extract PKG DIR   writes the entries under DIR
// Any failure ends with one message on stderr and exit code 1; wrong usage
// exits with 2.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "NyPackageDigest.h"
#include "NyPackageFormat.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace fs = std::filesystem;

namespace {

struct Failure {
  std::string message;
};

[[noreturn]] void Fail(const std::string& message) { throw Failure{message}; }

std::string Shown(const fs::path& path) { return reinterpret_cast<const char*>(path.u8string().c_str()); }

// Why the last C library or stream call failed.
std::string Reason() { return strerror(errno); }

#ifdef _WIN32
// Package names are in the system ANSI code page.
NyLeadByteTable LeadBytes() {
  static uint8_t table[256];
  return NyPackageLeadBytes(CP_ACP, table);
}

std::string PackageName(const fs::path& file) {
  const std::wstring wide = file.filename().native();
  const bool bUtf8 = GetACP() == CP_UTF8;
  BOOL bUsedDefault = FALSE;
  const int cb = WideCharToMultiByte(CP_ACP, bUtf8 ? 0 : WC_NO_BEST_FIT_CHARS, wide.data(), int(wide.size()), nullptr,
                                     0, nullptr, bUtf8 ? nullptr : &bUsedDefault);
  std::string name(cb > 0 ? size_t(cb) : 0, '\0');
  if (cb <= 0 ||
      WideCharToMultiByte(CP_ACP, bUtf8 ? 0 : WC_NO_BEST_FIT_CHARS, wide.data(), int(wide.size()), &name[0], cb,
                          nullptr, bUtf8 ? nullptr : &bUsedDefault) != cb ||
      bUsedDefault)
    Fail(Shown(file) + ": the name cannot be written in the system code page");
  return name;
}

fs::path NativeRelative(const std::string& relativePath) {
  const int cch = MultiByteToWideChar(CP_ACP, 0, relativePath.data(), int(relativePath.size()), nullptr, 0);
  std::wstring wide(cch > 0 ? size_t(cch) : 0, L'\0');
  if (cch <= 0 || MultiByteToWideChar(CP_ACP, 0, relativePath.data(), int(relativePath.size()), &wide[0], cch) != cch)
    Fail("cannot convert the name " + relativePath);
  return fs::path(wide.substr(wide.find_first_not_of(L'\\')));
}
#else
NyLeadByteTable LeadBytes() { return nullptr; }

std::string PackageName(const fs::path& file) { return file.filename().native(); }

fs::path NativeRelative(std::string relativePath) {
  for (char& c : relativePath)
    if (c == '\\') c = '/';
  return fs::path(relativePath.substr(relativePath.find_first_not_of('/')));
}
#endif

std::vector<NyPackageNode> ReadTree(const fs::path& dir, unsigned depth) {
  if (depth > NY_PACKAGE_MAX_DEPTH)
    Fail(Shown(dir) + ": folders nested deeper than " + std::to_string(NY_PACKAGE_MAX_DEPTH) + " levels");
  std::vector<NyPackageNode> nodes;
  std::error_code ec;
  fs::directory_iterator it(dir, ec), end;
  for (; !ec && it != end; it.increment(ec)) {
    const fs::path& path = it->path();
    std::string name = PackageName(path);
    // Before the entry is looked at: on Windows its path opens the device.
    if (NyPackageIsDeviceName(name))
      Fail(Shown(path) + ": a device name (CON, NUL, COM1...), which Windows would open instead of a file");
    const fs::file_status status = it->status(ec);  // follows links
    if (ec) Fail("cannot read " + Shown(path) + ": " + ec.message());
    if (fs::is_directory(status))
      nodes.push_back(NyPackageNode::Folder(std::move(name), ReadTree(path, depth + 1)));
    else if (fs::is_regular_file(status))
      nodes.push_back(NyPackageNode::FileFrom(std::move(name), path));
    else
      Fail(Shown(path) + ": neither a file nor a folder");
  }
  if (ec) Fail("cannot read " + Shown(dir) + ": " + ec.message());
  return nodes;
}

bool IsInside(const fs::path& path, const fs::path& dir) {
  std::error_code ec;
  const fs::path full = fs::weakly_canonical(path, ec);
  const fs::path base = fs::canonical(dir, ec);
  if (ec) return false;
  auto it = full.begin();
  for (const fs::path& part : base) {
    if (it == full.end() || *it != part) return false;
    ++it;
  }
  return true;
}

fs::path DigestPath(const fs::path& package) {
  fs::path path = package;
  path += ".digest";
  return path;
}

// False, with nothing left at `out`, when the record cannot be written.
bool WriteDigest(const NyPackageDigest& digest, const fs::path& out) {
  const std::string record = NyPackageDigestRecord(digest);
  std::ofstream file(out, std::ios::binary | std::ios::trunc);
  if (file) file.write(record.data(), std::streamsize(record.size()));
  file.close();
  if (file) return true;
  std::error_code ec;
  fs::remove(out, ec);
  return false;
}

int Build(const fs::path& dir, const fs::path& out) {
  std::error_code ec;
  if (!fs::is_directory(dir, ec)) Fail(Shown(dir) + ": no such folder");
  if (IsInside(out, dir)) Fail(Shown(out) + ": the package may not be written inside " + Shown(dir));
  const std::vector<NyPackageNode> roots = ReadTree(dir, 0);

  std::ofstream file(out, std::ios::binary | std::ios::trunc);
  if (!file) Fail("cannot write " + Shown(out) + ": " + Reason());
  // The digest is taken from the bytes as they are written.
  CNyPackageDigester digester;
  uint32_t u4HashResult = 0;
  CNyPackageWriter writer(
      [&file, &digester, &u4HashResult](const void* pv, size_t cb) {
        file.write(static_cast<const char*>(pv), std::streamsize(cb));
        if (u4HashResult == 0) u4HashResult = digester.Add(pv, cb);
        return bool(file);
      },
      LeadBytes());
  const bool bOk = writer.Write(roots);
  file.close();
  NyPackageDigest digest;
  if (bOk && file && u4HashResult == 0) u4HashResult = digester.Finish(&digest);
  const fs::path digestPath = DigestPath(out);
  if (!bOk || !file || u4HashResult != 0 || !WriteDigest(digest, digestPath)) {
    const std::string reason = !bOk                ? writer.Error()
                               : !file             ? Reason()
                               : u4HashResult != 0 ? "SHA-256 failed"
                                                   : "cannot write " + Shown(digestPath) + ": " + Reason();
    fs::remove(out, ec);
    fs::remove(digestPath, ec);
    Fail("cannot build " + Shown(out) + ": " + reason);
  }
  return 0;
}

std::vector<uint8_t> ReadPackage(const fs::path& path, std::vector<NyPackageEntry>& list) {
  std::error_code ec;
  if (!fs::exists(path, ec)) Fail(Shown(path) + ": no such file");
  if (!fs::is_regular_file(path, ec)) Fail(Shown(path) + ": not a file");
  std::ifstream in(path, std::ios::binary);
  std::vector<uint8_t> bytes;
  if (in) bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  if (!in && !in.eof()) Fail("cannot read " + Shown(path) + ": " + Reason());
  if (!NyPackageReadList(bytes.data(), bytes.size(), list, LeadBytes()))
    Fail(Shown(path) + ": not a valid package");
  return bytes;
}

int List(const fs::path& package) {
  std::vector<NyPackageEntry> list;
  ReadPackage(package, list);
  for (const NyPackageEntry& entry : list)
    printf("%s\t%s\t%u\t0x%X\n", entry.relativePath.c_str(), entry.bFolder ? "folder" : "file",
           unsigned(entry.u4Size), unsigned(entry.u4Offset));
  return fflush(stdout) == 0 ? 0 : 1;
}

int Digest(const fs::path& package, const fs::path* pOut) {
  std::vector<NyPackageEntry> list;
  const std::vector<uint8_t> bytes = ReadPackage(package, list);
  CNyPackageDigester digester;
  NyPackageDigest digest;
  if (digester.Add(bytes.data(), bytes.size()) != 0 || digester.Finish(&digest) != 0)
    Fail(Shown(package) + ": SHA-256 failed");
  printf("%s %u %u\n", NySha256Hex(digest.digest).c_str(), unsigned(digest.u4ChunkSize),
         unsigned(digest.u4PackageSize));
  if (pOut != nullptr && !WriteDigest(digest, *pOut)) Fail("cannot write " + Shown(*pOut) + ": " + Reason());
  return fflush(stdout) == 0 ? 0 : 1;
}

void CreateFolders(const fs::path& dir) {
  std::error_code ec;
  fs::create_directories(dir, ec);
  if (ec || !fs::is_directory(dir)) Fail("cannot create " + Shown(dir) + ": " + (ec ? ec.message() : "not a folder"));
}

int Extract(const fs::path& package, const fs::path& dir) {
  std::vector<NyPackageEntry> list;
  const std::vector<uint8_t> bytes = ReadPackage(package, list);
  CreateFolders(dir);
  for (const NyPackageEntry& entry : list) {
    const fs::path target = dir / NativeRelative(entry.relativePath);
    if (entry.bFolder) {
      CreateFolders(target);
      continue;
    }
    CreateFolders(target.parent_path());
    std::error_code ec;
    if (fs::is_directory(target, ec)) Fail("cannot write " + Shown(target) + ": a folder of that name exists");
    std::ofstream file(target, std::ios::binary | std::ios::trunc);
    if (file) file.write(reinterpret_cast<const char*>(bytes.data()) + entry.u4Offset, std::streamsize(entry.u4Size));
    file.close();
    if (!file) Fail("cannot write " + Shown(target) + ": " + Reason());
  }
  return 0;
}

int Run(const std::vector<fs::path>& args) {
  const std::string command = args.size() > 1 ? Shown(args[1]) : std::string();
  if (command == "build" && args.size() == 4) return Build(args[2], args[3]);
  if (command == "digest" && (args.size() == 3 || args.size() == 4))
    return Digest(args[2], args.size() == 4 ? &args[3] : nullptr);
  if (command == "list" && args.size() == 3) return List(args[2]);
  if (command == "extract" && args.size() == 4) return Extract(args[2], args[3]);
  fputs("usage: nypack build DIR OUT | nypack digest PKG [OUT] | nypack list PKG | nypack extract PKG DIR\n", stderr);
  return 2;
}

template <typename Char>
int Main(int argc, Char** argv) {
  try {
    return Run(std::vector<fs::path>(argv, argv + argc));
  } catch (const Failure& failure) {
    fprintf(stderr, "nypack: %s\n", failure.message.c_str());
  } catch (const std::exception& e) {
    fprintf(stderr, "nypack: %s\n", e.what());
  }
  return 1;
}

}  // namespace

#ifdef _WIN32
int wmain(int argc, wchar_t** argv) { return Main(argc, argv); }
#else
int main(int argc, char** argv) { return Main(argc, argv); }
#endif
