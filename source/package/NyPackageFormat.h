#pragma once
// The package: a tree of folders and files stored as one block of bytes that
// is read from its end towards its start. This unit knows only the byte
// layout; it builds on every platform (the package builder and the fuzz
// target use it natively). The Windows side (MemExtractFiles) turns its flat
// list into wide-text entries and writes them to disk.
//
// Layout (all integers 32-bit little-endian):
//   trailer      "This is a file list ." followed by its length, 21
//   folder table (read backwards from its end E)
//                E-4 count, E-8 base, then `count` entry records, record 0
//                ending at E-8, record 1 ending where record 0 begins, ...
//   entry record offset (relative to the table's base), size, flags
//                (0x80 folder, 0x00 file), name bytes, name length
//   folder data  the region [base+offset, base+offset+size): the children's
//                data followed by the folder's own table, which ends exactly
//                at the end of the region.
//
// The reader never trusts the bytes: every range it lists lies inside the
// package and inside its parent folder's data before its table, folder
// regions shrink at every level and sibling folders do not overlap (so every
// table is read once and a list never has more entries than the package has
// records), nesting is bounded, no name can step out of the folder it is
// extracted to, and no name makes Windows open a device instead of a file.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

constexpr char NY_PACKAGE_MARKER[] = "This is a file list .";
constexpr uint8_t NY_PACKAGE_FOLDER = 0x80;
// A stored name's length must be below this.
constexpr uint32_t NY_PACKAGE_NAME_LIMIT = 260;
// Folder levels below the root table. A Windows path of at most 260
// characters cannot hold more than 128 levels; deeper nesting is malformed.
constexpr unsigned NY_PACKAGE_MAX_DEPTH = 128;

// One entry of the flat file list: every file of the tree and every empty
// folder, in reading order.
struct NyPackageEntry {
  std::string name;          // bytes as stored (the ANSI code page of the names)
  std::string relativePath;  // "\Folder\Sub\file", a root file's bare name, "\Folder\Empty\"
  uint32_t u4Size = 0xFFFFFFFF;
  uint32_t u4Offset = 0xFFFFFFFF;  // absolute offset in the package
  uint8_t u1Flags = 0;
  bool bFolder = false;  // an empty folder; its relative path ends in '\'
};

// Lead-byte table of a double-byte code page: 256 flags, nonzero for a byte
// that starts a two-byte character. Null for single-byte code pages and
// UTF-8, where a path separator byte is always a separator.
using NyLeadByteTable = const uint8_t*;

// Reads the whole tree into `list` (appending). Returns false on any
// malformed part; the entries appended before the failure stay. Logs
// "File: %s" and "Empty dir: %s!!!!!" at the trace level as it goes.
bool NyPackageReadList(const uint8_t* pbData, size_t cbData, std::vector<NyPackageEntry>& list,
                       NyLeadByteTable pLeadBytes = nullptr);

// True for a name that may stand in a package: 1 to 259 bytes; no NUL, '/'
// or ':'; no '\' other than the second byte of a double-byte character and
// no incomplete character at its end; not made only of dots and spaces
// (".", "..", and the names Windows path rules fold into them); not a device
// name.
bool NyPackageIsValidName(const std::string& name, NyLeadByteTable pLeadBytes = nullptr);

// True for a name that Windows opens as a device wherever it stands in a
// path: CON, PRN, AUX, NUL, COM1-COM9, LPT1-LPT9, CONIN$ or CONOUT$ in any
// letter case, judged by the part before the first dot less its trailing
// spaces ("nul.txt", "CON .log" and "aux." are devices too). Windows counts
// the superscript digits one to three as digits of COM and LPT; a name
// reaches it through the ANSI code page, so both their code page 1252 bytes
// (B9, B2, B3) and their UTF-8 form (C2 B9, C2 B2, C2 B3) count.
bool NyPackageIsDeviceName(const std::string& name);

#ifdef _WIN32
// Fills `table` with the lead bytes of a code page (0 the system ANSI code
// page, 3 the thread's) and returns it, or returns null when the code page
// has none.
NyLeadByteTable NyPackageLeadBytes(uint32_t u4CodePage, uint8_t table[256]);
#endif

// A node of the tree the writer packs.
struct NyPackageNode {
  std::string name;  // bytes as stored
  bool bFolder = false;
  std::vector<NyPackageNode> children;  // a folder's content
  std::string data;                     // a file's content, unless `source` is set
  std::filesystem::path source;         // a file whose content is read from disk

  static NyPackageNode Folder(std::string name, std::vector<NyPackageNode> children = {});
  static NyPackageNode File(std::string name, std::string data);
  static NyPackageNode FileFrom(std::string name, std::filesystem::path source);
};

// Writes a package in the layout the program's packages have: depth-first,
// each folder region holding its children's data (in ascending byte order of
// their names) and then its table, whose base is the region's absolute
// offset and whose records stand in the order of the data, so the child
// written last is read first. The output is produced front to back in one
// pass and file contents are streamed, so a package of any size up to 4 GiB
// needs little memory.
class CNyPackageWriter {
 public:
  using WriteFn = std::function<bool(const void* pv, size_t cb)>;

  explicit CNyPackageWriter(WriteFn write, NyLeadByteTable pLeadBytes = nullptr);

  // Packs `roots` as the root table. False on an invalid or duplicate name
  // (names are compared ignoring the case of A-Z, as extraction finds them),
  // nesting deeper than NY_PACKAGE_MAX_DEPTH, an unreadable source file, a
  // package over 4 GiB or a failed write; Error() then says what.
  bool Write(const std::vector<NyPackageNode>& roots);
  const std::string& Error() const { return m_strError; }

  // The whole package in memory.
  static bool WriteToMemory(const std::vector<NyPackageNode>& roots, std::string& out,
                            std::string* pError = nullptr);

 private:
  struct Record;
  bool WriteRegion(const std::vector<NyPackageNode>& children, const std::string& path, unsigned depth);
  bool WriteFileData(const NyPackageNode& node, const std::string& path);
  bool Put(const void* pv, size_t cb);
  bool PutU32(uint32_t u4);
  bool Fail(const std::string& error);

  WriteFn m_write;
  NyLeadByteTable m_pLeadBytes;
  uint64_t m_u8Pos = 0;
  std::string m_strError;
};
