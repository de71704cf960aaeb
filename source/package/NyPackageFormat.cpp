#include "NyPackageFormat.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <set>
#include <utility>

#include "NyLog.h"

namespace {

constexpr uint32_t MARKER_LENGTH = sizeof(NY_PACKAGE_MARKER) - 1;
constexpr uint64_t PACKAGE_LIMIT = 0xFFFFFFFFu;

std::string FoldAsciiCase(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return text;
}

uint32_t U32At(const uint8_t* pb) {
  return uint32_t(pb[0]) | uint32_t(pb[1]) << 8 | uint32_t(pb[2]) << 16 | uint32_t(pb[3]) << 24;
}

// One record of a folder table, its offset already made absolute.
struct TableEntry {
  std::string name;
  uint32_t u4Size = 0;
  uint32_t u4Offset = 0;
  uint8_t u1Flags = 0;
};

// The root table marks a folder with exactly 0x80; the tables below it test
// the bit. Extraction tests the bit everywhere.
bool IsFolder(const TableEntry& entry, bool bRoot) {
  return bRoot ? entry.u1Flags == NY_PACKAGE_FOLDER : (entry.u1Flags & NY_PACKAGE_FOLDER) != 0;
}

class CPackageReader {
 public:
  CPackageReader(const uint8_t* pb, size_t cb, std::vector<NyPackageEntry>& list, NyLeadByteTable pLeadBytes)
      : m_pb(pb), m_cb(cb), m_list(list), m_pLeadBytes(pLeadBytes) {}

  bool ReadList() {
    if (m_pb == nullptr || m_cb == 0 || m_cb > PACKAGE_LIMIT) return false;
    uint64_t u8Pos = m_cb;
    std::string marker;
    if (!ReadName(u8Pos, 0, marker) || marker != NY_PACKAGE_MARKER) return false;
    std::vector<TableEntry> roots;
    if (!ReadTable(0, u8Pos, "", roots)) return false;
    bool bOk = true;
    for (const TableEntry& entry : roots) {
      if (IsFolder(entry, true)) {
        if (!WalkFolder("\\" + entry.name, entry, 1)) bOk = false;
      } else {
        Append(entry, entry.name, false);
      }
    }
    return bOk;
  }

 private:
  // A name (or the trailer text) ending at u8Pos, its bytes not below u8Floor.
  bool ReadName(uint64_t& u8Pos, uint64_t u8Floor, std::string& name) const {
    if (u8Pos - u8Floor < 4) return false;
    u8Pos -= 4;
    const uint32_t u4Length = U32At(m_pb + u8Pos);
    if (u4Length >= NY_PACKAGE_NAME_LIMIT || u4Length > u8Pos - u8Floor) return false;
    u8Pos -= u4Length;
    name.assign(reinterpret_cast<const char*>(m_pb + u8Pos), u4Length);
    return true;
  }

  // The table that ends at u8End of the region [u8Start, u8End) of the folder
  // at `path` ("" for the root table). Every record lies inside the region,
  // every entry's data inside the region before the table, and no two
  // folders overlap.
  bool ReadTable(uint64_t u8Start, uint64_t u8End, const std::string& path, std::vector<TableEntry>& entries) const {
    const bool bRoot = path.empty();
    if (u8End - u8Start < 8) return false;
    uint64_t u8Pos = u8End - 8;
    const uint32_t u4Count = U32At(m_pb + u8Pos + 4);
    const uint32_t u4Base = U32At(m_pb + u8Pos);
    // Each record takes at least 14 bytes, so the loop ends with the region.
    for (uint32_t i = 0; i < u4Count; ++i) {
      TableEntry entry;
      if (!ReadName(u8Pos, u8Start, entry.name)) return false;
      // Windows would write such an entry to the device (a serial port, or
      // nowhere at all). A package built by another tool may hold one by
      // mistake, so the log names it.
      if (NyPackageIsDeviceName(entry.name)) {
        NYLOG(LOG_LEVEL_OUTCOME, "Device name refused: %s\\%s", path.c_str(), entry.name.c_str());
        return false;
      }
      if (!NyPackageIsValidName(entry.name, m_pLeadBytes)) return false;
      if (u8Pos - u8Start < 9) return false;
      entry.u1Flags = m_pb[u8Pos - 1];
      entry.u4Size = U32At(m_pb + u8Pos - 5);
      entry.u4Offset = U32At(m_pb + u8Pos - 9);
      u8Pos -= 9;
      entries.push_back(std::move(entry));
    }
    std::vector<std::pair<uint64_t, uint64_t>> folders;
    for (TableEntry& entry : entries) {
      const uint64_t u8Offset = uint64_t(u4Base) + entry.u4Offset;
      if (u8Offset < u8Start || u8Offset + entry.u4Size > u8Pos) return false;
      entry.u4Offset = static_cast<uint32_t>(u8Offset);
      if (IsFolder(entry, bRoot)) folders.emplace_back(u8Offset, u8Offset + entry.u4Size);
    }
    std::sort(folders.begin(), folders.end());
    for (size_t i = 1; i < folders.size(); ++i)
      if (folders[i].first < folders[i - 1].second) return false;
    return true;
  }

  bool WalkFolder(const std::string& path, const TableEntry& folder, unsigned depth) {
    if (depth > NY_PACKAGE_MAX_DEPTH) return false;
    std::vector<TableEntry> children;
    if (!ReadTable(folder.u4Offset, uint64_t(folder.u4Offset) + folder.u4Size, path, children)) return false;
    if (children.empty()) {
      Append(folder, path + "\\", true);
      return true;
    }
    for (const TableEntry& child : children) {
      if (IsFolder(child, false)) {
        if (!WalkFolder(path + "\\" + child.name, child, depth + 1)) return false;
      } else {
        Append(child, path + "\\" + child.name, false);
      }
    }
    return true;
  }

  void Append(const TableEntry& entry, std::string relativePath, bool bEmptyFolder) {
    if (bEmptyFolder)
      NYLOG(LOG_LEVEL_TRACE, "Empty dir: %s!!!!!", relativePath.c_str());
    else
      NYLOG(LOG_LEVEL_TRACE, "File: %s", relativePath.c_str());
    NyPackageEntry out;
    out.name = entry.name;
    out.relativePath = std::move(relativePath);
    out.u4Size = entry.u4Size;
    out.u4Offset = entry.u4Offset;
    out.u1Flags = entry.u1Flags;
    out.bFolder = bEmptyFolder;
    m_list.push_back(std::move(out));
  }

  const uint8_t* m_pb;
  size_t m_cb;
  std::vector<NyPackageEntry>& m_list;
  NyLeadByteTable m_pLeadBytes;
};

}  // namespace

bool NyPackageReadList(const uint8_t* pbData, size_t cbData, std::vector<NyPackageEntry>& list,
                       NyLeadByteTable pLeadBytes) {
  return CPackageReader(pbData, cbData, list, pLeadBytes).ReadList();
}

bool NyPackageIsValidName(const std::string& name, NyLeadByteTable pLeadBytes) {
  const size_t n = name.size();
  if (n == 0 || n >= NY_PACKAGE_NAME_LIMIT) return false;
  auto bIsBad = [](uint8_t c) { return c == 0 || c == '/' || c == ':'; };
  bool bOnlyDotsAndSpaces = true;
  for (size_t i = 0; i < n;) {
    const uint8_t c = static_cast<uint8_t>(name[i]);
    if (bIsBad(c)) return false;
    if (c != '.' && c != ' ') bOnlyDotsAndSpaces = false;
    if (pLeadBytes != nullptr && pLeadBytes[c]) {
      if (i + 1 >= n || bIsBad(static_cast<uint8_t>(name[i + 1]))) return false;
      i += 2;  // the second byte may be 0x5C and is no separator
      continue;
    }
    if (c == '\\') return false;
    ++i;
  }
  return !bOnlyDotsAndSpaces && !NyPackageIsDeviceName(name);
}

bool NyPackageIsDeviceName(const std::string& name) {
  std::string stem = FoldAsciiCase(name.substr(0, name.find('.')));
  stem.erase(stem.find_last_not_of(' ') + 1);
  for (const char* pszDevice : {"con", "prn", "aux", "nul", "conin$", "conout$"})
    if (stem == pszDevice) return true;
  if (stem.compare(0, 3, "com") != 0 && stem.compare(0, 3, "lpt") != 0) return false;
  const std::string digit = stem.substr(3);
  if (digit.size() == 1 && digit[0] >= '1' && digit[0] <= '9') return true;
  for (const char* pszSuperscript : {"\xB9", "\xB2", "\xB3", "\xC2\xB9", "\xC2\xB2", "\xC2\xB3"})
    if (digit == pszSuperscript) return true;
  return false;
}

NyPackageNode NyPackageNode::Folder(std::string name, std::vector<NyPackageNode> children) {
  NyPackageNode node;
  node.name = std::move(name);
  node.bFolder = true;
  node.children = std::move(children);
  return node;
}

NyPackageNode NyPackageNode::File(std::string name, std::string data) {
  NyPackageNode node;
  node.name = std::move(name);
  node.data = std::move(data);
  return node;
}

NyPackageNode NyPackageNode::FileFrom(std::string name, std::filesystem::path source) {
  NyPackageNode node;
  node.name = std::move(name);
  node.source = std::move(source);
  return node;
}

struct CNyPackageWriter::Record {
  const NyPackageNode* pNode;
  uint32_t u4Offset;
  uint32_t u4Size;
};

CNyPackageWriter::CNyPackageWriter(WriteFn write, NyLeadByteTable pLeadBytes)
    : m_write(std::move(write)), m_pLeadBytes(pLeadBytes) {}

bool CNyPackageWriter::Write(const std::vector<NyPackageNode>& roots) {
  m_u8Pos = 0;
  m_strError.clear();
  return WriteRegion(roots, "", 0) && Put(NY_PACKAGE_MARKER, MARKER_LENGTH) && PutU32(MARKER_LENGTH);
}

bool CNyPackageWriter::WriteToMemory(const std::vector<NyPackageNode>& roots, std::string& out,
                                     std::string* pError) {
  out.clear();
  CNyPackageWriter writer([&out](const void* pv, size_t cb) {
    out.append(static_cast<const char*>(pv), cb);
    return true;
  });
  const bool bOk = writer.Write(roots);
  if (pError != nullptr) *pError = writer.Error();
  return bOk;
}

bool CNyPackageWriter::WriteRegion(const std::vector<NyPackageNode>& children, const std::string& path,
                                   unsigned depth) {
  if (depth > NY_PACKAGE_MAX_DEPTH)
    return Fail("folders nested deeper than " + std::to_string(NY_PACKAGE_MAX_DEPTH) + " levels at " + path);
  std::vector<const NyPackageNode*> sorted;
  std::set<std::string> folded;
  for (const NyPackageNode& child : children) {
    if (!NyPackageIsValidName(child.name, m_pLeadBytes))
      return Fail("invalid name \"" + child.name + "\" in " + (path.empty() ? "\\" : path));
    if (!folded.insert(FoldAsciiCase(child.name)).second)
      return Fail("two entries named \"" + child.name + "\" (ignoring case) in " + (path.empty() ? "\\" : path));
    sorted.push_back(&child);
  }
  std::sort(sorted.begin(), sorted.end(),
            [](const NyPackageNode* a, const NyPackageNode* b) { return a->name < b->name; });

  const uint64_t u8Start = m_u8Pos;
  std::vector<Record> records;
  for (const NyPackageNode* pChild : sorted) {
    const std::string childPath = path + "\\" + pChild->name;
    const uint64_t u8ChildStart = m_u8Pos;
    if (!(pChild->bFolder ? WriteRegion(pChild->children, childPath, depth + 1) : WriteFileData(*pChild, childPath)))
      return false;
    records.push_back({pChild, static_cast<uint32_t>(u8ChildStart - u8Start),
                       static_cast<uint32_t>(m_u8Pos - u8ChildStart)});
  }
  for (const Record& record : records) {
    const uint8_t u1Flags = record.pNode->bFolder ? NY_PACKAGE_FOLDER : 0;
    const std::string& name = record.pNode->name;
    if (!PutU32(record.u4Offset) || !PutU32(record.u4Size) || !Put(&u1Flags, 1) || !Put(name.data(), name.size()) ||
        !PutU32(static_cast<uint32_t>(name.size())))
      return false;
  }
  return PutU32(static_cast<uint32_t>(u8Start)) && PutU32(static_cast<uint32_t>(records.size()));
}

bool CNyPackageWriter::WriteFileData(const NyPackageNode& node, const std::string& path) {
  if (node.source.empty()) return Put(node.data.data(), node.data.size());
  const std::string shown = reinterpret_cast<const char*>(node.source.u8string().c_str());
  std::ifstream in(node.source, std::ios::binary);
  if (!in) return Fail("cannot read " + shown + " (for " + path + ")");
  std::vector<char> buffer(1 << 16);
  for (;;) {
    in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
    const std::streamsize got = in.gcount();
    if (got > 0 && !Put(buffer.data(), static_cast<size_t>(got))) return false;
    if (!in) break;
  }
  if (in.bad() || !in.eof()) return Fail("cannot read " + shown + " (for " + path + ")");
  return true;
}

bool CNyPackageWriter::Put(const void* pv, size_t cb) {
  if (!m_strError.empty()) return false;
  if (m_u8Pos + cb > PACKAGE_LIMIT) return Fail("the package would be larger than 4 GiB");
  if (cb != 0 && !m_write(pv, cb)) return Fail("writing the package failed");
  m_u8Pos += cb;
  return true;
}

bool CNyPackageWriter::PutU32(uint32_t u4) {
  const uint8_t ab[4] = {uint8_t(u4), uint8_t(u4 >> 8), uint8_t(u4 >> 16), uint8_t(u4 >> 24)};
  return Put(ab, sizeof(ab));
}

bool CNyPackageWriter::Fail(const std::string& error) {
  if (m_strError.empty()) m_strError = error;
  return false;
}
