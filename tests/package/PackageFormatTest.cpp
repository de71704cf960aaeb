// The package layout: what the writer produces, how the reader walks it, and
// how the reader refuses packages that would read or write out of bounds.
#include <gtest/gtest.h>

#include <cctype>
#include <string>
#include <vector>

#include "CaptureLogger.h"
#include "NyPackageFormat.h"
#include "PackageBytes.h"

namespace {

using Node = NyPackageNode;

std::vector<std::string> Paths(const std::vector<NyPackageEntry>& list) {
  std::vector<std::string> paths;
  for (const NyPackageEntry& entry : list) paths.push_back(entry.relativePath);
  return paths;
}

// n folders each holding the next; the innermost is empty.
std::string NestedEmptyFolders(unsigned n) {
  PackageBytes bytes;
  bytes.TableEnd(0, 0);
  for (unsigned level = 1; level < n; ++level) {
    const uint32_t u4Inner = bytes.Size();
    bytes.Record(0, u4Inner, 0x80, "d").TableEnd(0, 1);
  }
  const uint32_t u4Outer = bytes.Size();
  return bytes.Record(0, u4Outer, 0x80, "d").TableEnd(0, 1).Trailer().Str();
}

std::vector<Node> NestedNodes(unsigned n) {
  Node node = Node::Folder("d");
  for (unsigned level = 1; level < n; ++level) node = Node::Folder("d", {node});
  return {node};
}

TEST(PackageWriter, LaysOutDataThenTableWithTheRegionAsBase) {
  // Children in ascending byte order of their names; base = the region's offset.
  const std::string expected = PackageBytes()
                                   .Raw("xy")                      // a, at 0
                                   .Raw("z")                       // d\b, at 2
                                   .Record(0, 1, 0x00, "b")        // d's table
                                   .TableEnd(2, 1)                 // d's region is [2, 25)
                                   .Record(0, 2, 0x00, "a")        // root table
                                   .Record(2, 23, 0x80, "d")
                                   .TableEnd(0, 2)
                                   .Trailer()
                                   .Str();
  EXPECT_EQ(Pack({Node::Folder("d", {Node::File("b", "z")}), Node::File("a", "xy")}), expected);

  std::vector<NyPackageEntry> list;
  ASSERT_TRUE(ReadList(expected, list));
  // The child written last is read first.
  EXPECT_EQ(Paths(list), (std::vector<std::string>{"\\d\\b", "a"}));
  EXPECT_EQ(list[0].u4Offset, 2u);
  EXPECT_EQ(list[1].u4Size, 2u);
}

TEST(PackageReader, ListsFilesAndEmptyFoldersOnly) {
  CaptureLogger log;
  const std::string package = Pack({
      Node::File("root.txt", "r"),
      Node::Folder("PackageFiles",
                   {Node::Folder("Reg"), Node::Folder("Sub", {Node::File("f.bin", "ff")}),
                    Node::Folder("ProgramFiles", {Node::Folder("Zorvak", {Node::Folder("MiniDriver")})})}),
  });
  std::vector<NyPackageEntry> list;
  ASSERT_TRUE(ReadList(package, list));
  EXPECT_EQ(Paths(list), (std::vector<std::string>{"root.txt", "\\PackageFiles\\Sub\\f.bin", "\\PackageFiles\\Reg\\",
                                                   "\\PackageFiles\\ProgramFiles\\Zorvak\\MiniDriver\\"}));
  EXPECT_FALSE(list[0].bFolder);
  EXPECT_EQ(list[1].name, "f.bin");
  EXPECT_EQ(list[1].u4Size, 2u);
  EXPECT_EQ(package.substr(list[1].u4Offset, 2), "ff");
  EXPECT_TRUE(list[2].bFolder);
  EXPECT_EQ(list[2].name, "Reg");
  EXPECT_EQ(list[2].u4Size, 8u);
  EXPECT_EQ(list[2].u1Flags, 0x80);

  ASSERT_EQ(log.lines.size(), 4u);
  EXPECT_EQ(log.lines[0].text, "File: root.txt");
  EXPECT_EQ(log.lines[1].text, "File: \\PackageFiles\\Sub\\f.bin");
  EXPECT_EQ(log.lines[2].text, "Empty dir: \\PackageFiles\\Reg\\!!!!!");
  EXPECT_EQ(log.lines[2].u4Level, LOG_LEVEL_TRACE);
}

TEST(PackageReader, WantsTheExactMarker) {
  std::vector<NyPackageEntry> list;
  EXPECT_TRUE(ReadList(PackageBytes().TableEnd(0, 0).Trailer().Str(), list));
  EXPECT_TRUE(list.empty());
  for (const char* marker : {"This is a File list .", "this is a file list .", "This is a file list",
                             "This is a file list .."}) {
    SCOPED_TRACE(marker);
    EXPECT_FALSE(ReadList(PackageBytes().TableEnd(0, 0).Name(marker).Str(), list));
  }
  EXPECT_FALSE(ReadList(std::string(), list));
  EXPECT_FALSE(ReadList(std::string("\x15\0\0", 3), list));
}

TEST(PackageReader, AcceptsNamesUpTo259Bytes) {
  std::vector<NyPackageEntry> list;
  const std::string name259(259, 'n');
  ASSERT_TRUE(ReadList(PackageBytes().Raw("x").Record(0, 1, 0, name259).TableEnd(0, 1).Trailer().Str(), list));
  EXPECT_EQ(list.at(0).relativePath, name259);
  EXPECT_FALSE(ReadList(PackageBytes().Raw("x").Record(0, 1, 0, name259 + "n").TableEnd(0, 1).Trailer().Str(), list));
}

TEST(PackageReader, AMalformedNestedTableFailsTheWholeList) {
  const std::string package = PackageBytes()
                                  .TableEnd(0, 1)  // "bad" claims a record it does not hold
                                  .Raw("F")
                                  .Record(0, 1, 0, "f")
                                  .TableEnd(8, 1)  // "good" is [8, 31)
                                  .Record(0, 8, 0x80, "bad")
                                  .Record(8, 23, 0x80, "good")
                                  .TableEnd(0, 2)
                                  .Trailer()
                                  .Str();
  std::vector<NyPackageEntry> list;
  EXPECT_FALSE(ReadList(package, list));
  // What was read before the failure stays.
  EXPECT_EQ(Paths(list), std::vector<std::string>{"\\good\\f"});
}

TEST(PackageReader, RootTableWantsExactly0x80NestedTablesTheBit) {
  const std::string package = PackageBytes()
                                  .TableEnd(0, 0)                  // inner, [0, 8)
                                  .Record(0, 8, 0x81, "inner")     // outer's table
                                  .TableEnd(0, 1)                  // outer, [0, 34)
                                  .Record(0, 34, 0x81, "odd")      // a file at the root
                                  .Record(0, 34, 0x80, "outer")
                                  .TableEnd(0, 2)
                                  .Trailer()
                                  .Str();
  std::vector<NyPackageEntry> list;
  ASSERT_TRUE(ReadList(package, list));
  EXPECT_EQ(Paths(list), (std::vector<std::string>{"\\outer\\inner\\", "odd"}));
  EXPECT_FALSE(list[1].bFolder);
  EXPECT_EQ(list[1].u1Flags, 0x81);
}

// --- Packages that must not be trusted --------------------------------------

TEST(PackageReaderRefuses, DataBeyondThePackage) {
  std::vector<NyPackageEntry> list;
  EXPECT_FALSE(ReadList(PackageBytes().Raw("abc").Record(0, 1000, 0, "f").TableEnd(0, 1).Trailer().Str(), list));
  // base + offset wraps around 2^32 onto the start of the package.
  EXPECT_FALSE(ReadList(PackageBytes().Raw("abc").Record(0x10, 1, 0, "f").TableEnd(0xFFFFFFF0, 1).Trailer().Str(), list));
  EXPECT_TRUE(list.empty());
}

TEST(PackageReaderRefuses, DataOutsideTheParentFolder) {
  // d is [6, 28); its file points back at the bytes before it.
  std::vector<NyPackageEntry> list;
  EXPECT_FALSE(ReadList(PackageBytes()
                            .Raw("secret")
                            .Record(0, 6, 0, "f")
                            .TableEnd(0, 1)
                            .Record(6, 22, 0x80, "d")
                            .TableEnd(0, 1)
                            .Trailer()
                            .Str(),
                        list));
  EXPECT_TRUE(list.empty());
}

TEST(PackageReaderRefuses, ATableThatBeginsBeforeItsFolder) {
  // d is [14, 22) and claims one record; a plausible one stands just before it.
  std::vector<NyPackageEntry> list;
  EXPECT_FALSE(ReadList(PackageBytes()
                            .Record(0, 1, 0, "x")
                            .TableEnd(0, 1)
                            .Record(14, 8, 0x80, "d")
                            .TableEnd(0, 1)
                            .Trailer()
                            .Str(),
                        list));
  EXPECT_TRUE(list.empty());
}

TEST(PackageReaderRefuses, AFolderNestedIntoItself) {
  std::vector<NyPackageEntry> list;
  // The root folder's region is the root table itself.
  EXPECT_FALSE(ReadList(PackageBytes().Record(0, 25, 0x80, "loop").TableEnd(0, 1).Trailer().Str(), list));
  // A child whose region is its parent's: a [0, 25) region whose table lists it.
  EXPECT_FALSE(ReadList(
      PackageBytes().Record(0, 25, 0x80, "b").TableEnd(0, 1).Record(0, 25, 0x80, "a").TableEnd(0, 1).Trailer().Str(),
      list));
  EXPECT_TRUE(list.empty());
}

TEST(PackageReaderRefuses, SiblingFoldersSharingTheirBytes) {
  // Thirty levels of two records for one region would list 2^30 entries.
  PackageBytes bytes;
  bytes.TableEnd(0, 0);
  for (int level = 0; level < 30; ++level) {
    const uint32_t u4Inner = bytes.Size();
    bytes.Record(0, u4Inner, 0x80, "a").Record(0, u4Inner, 0x80, "b").TableEnd(0, 2);
  }
  const uint32_t u4Outer = bytes.Size();
  std::vector<NyPackageEntry> list;
  EXPECT_FALSE(ReadList(bytes.Record(0, u4Outer, 0x80, "top").TableEnd(0, 1).Trailer().Str(), list));

  // Files may share their bytes: nothing is walked through them.
  list.clear();
  EXPECT_TRUE(ReadList(PackageBytes().Raw("xy").Record(0, 2, 0, "a").Record(0, 2, 0, "b").TableEnd(0, 2).Trailer().Str(),
                       list));
  EXPECT_EQ(list.size(), 2u);
}

TEST(PackageReaderRefuses, NestingDeeperThan128Folders) {
  std::vector<NyPackageEntry> list;
  ASSERT_TRUE(ReadList(NestedEmptyFolders(NY_PACKAGE_MAX_DEPTH), list));
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0].relativePath.size(), 2 * NY_PACKAGE_MAX_DEPTH + 1);
  list.clear();
  EXPECT_FALSE(ReadList(NestedEmptyFolders(NY_PACKAGE_MAX_DEPTH + 1), list));
  EXPECT_TRUE(list.empty());
}

TEST(PackageReaderRefuses, NamesThatLeaveTheirFolder) {
  for (const std::string& bad : {std::string("a\\b"), std::string("..\\x"), std::string("a/b"), std::string("c:x"),
                                 std::string("a\0b", 3), std::string("."), std::string(".."), std::string("..."),
                                 std::string(". ."), std::string(" "), std::string()}) {
    SCOPED_TRACE(bad);
    EXPECT_FALSE(NyPackageIsValidName(bad));
    std::vector<NyPackageEntry> list;
    EXPECT_FALSE(ReadList(PackageBytes().Raw("x").Record(0, 1, 0, bad).TableEnd(0, 1).Trailer().Str(), list));
    EXPECT_FALSE(ReadList(PackageBytes().TableEnd(0, 0).Record(0, 8, 0x80, bad).TableEnd(0, 1).Trailer().Str(), list));
    EXPECT_TRUE(list.empty());
  }
  for (const char* good : {"a.b", "..a", "a..", ".profile", "Program Files (x86)"}) EXPECT_TRUE(NyPackageIsValidName(good)) << good;
}

TEST(PackageReaderRefuses, SeparatorsInDoubleByteNamesOnlyAsSecondByte) {
  uint8_t lead[256] = {};
  for (int c = 0x81; c <= 0x9F; ++c) lead[c] = 1;  // as in code page 932
  const std::string hyou = "\x95\x5C";              // one character whose second byte is 0x5C
  EXPECT_TRUE(NyPackageIsValidName(hyou, lead));
  EXPECT_FALSE(NyPackageIsValidName(hyou));
  EXPECT_FALSE(NyPackageIsValidName("ab\x95", lead));  // incomplete: would swallow the next separator
  EXPECT_FALSE(NyPackageIsValidName("\x95/", lead));
  EXPECT_FALSE(NyPackageIsValidName("\x95\\\\", lead));

  std::vector<NyPackageEntry> list;
  EXPECT_TRUE(ReadList(PackageBytes().TableEnd(0, 0).Record(0, 8, 0x80, hyou).TableEnd(0, 1).Trailer().Str(), list, lead));
  EXPECT_EQ(Paths(list), std::vector<std::string>{"\\" + hyou + "\\"});
}

// A folder at the root holding one file.
std::string FolderWithFile(const std::string& folder, const std::string& file) {
  PackageBytes bytes;
  bytes.Raw("x").Record(0, 1, 0, file).TableEnd(0, 1);
  const uint32_t u4Folder = bytes.Size();
  return bytes.Record(0, u4Folder, 0x80, folder).TableEnd(0, 1).Trailer().Str();
}

TEST(PackageReaderRefuses, DeviceNamesAsFilesAndFolders) {
  std::vector<std::string> devices = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
  for (const char* pszPort : {"COM", "LPT"}) {
    for (char digit = '1'; digit <= '9'; ++digit) devices.push_back(pszPort + std::string(1, digit));
    // Superscripts one to three: code page 1252 bytes and UTF-8.
    for (const char* pszDigit : {"\xB9", "\xB2", "\xB3", "\xC2\xB9", "\xC2\xB2", "\xC2\xB3"})
      devices.push_back(pszPort + std::string(pszDigit));
  }
  for (const std::string& device : devices) {
    std::string lower = device;
    for (char& c : lower) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    // Windows drops trailing dots and spaces and looks only before the first dot.
    for (const std::string& name : {device, lower, device + ".txt", lower + ".tar.gz", device + " .txt", device + ".",
                                    lower + " ", device + ". ."}) {
      SCOPED_TRACE(name);
      EXPECT_FALSE(NyPackageIsValidName(name));
      std::vector<NyPackageEntry> list;
      EXPECT_FALSE(ReadList(FolderWithFile("d", name), list));
      EXPECT_FALSE(ReadList(FolderWithFile(name, "f"), list));
      EXPECT_TRUE(list.empty());
    }
  }
  for (const char* pszName : {"CONSOLE.txt", "COM10", "LPT0", "COM0", "COM", "NULL", "AUX1", "xNUL", "CON_", "CONIN",
                              "CONOUT$x", "readme.con", "a.COM1", "COM\xB9\xB9", "COM\xB4", "LPT\xC2",
                              "COM\xE2\x81\xB4"}) {  // the last: superscript four, no digit to Windows
    SCOPED_TRACE(pszName);
    std::vector<NyPackageEntry> list;
    EXPECT_TRUE(ReadList(FolderWithFile("d", pszName), list));
    EXPECT_TRUE(ReadList(FolderWithFile(pszName, "f"), list));
  }

  CaptureLogger log;
  std::vector<NyPackageEntry> list;
  EXPECT_FALSE(ReadList(FolderWithFile("PackageFiles", "com1.txt"), list));
  ASSERT_EQ(log.lines.size(), 1u);
  EXPECT_EQ(log.lines[0].text, "Device name refused: \\PackageFiles\\com1.txt");
  EXPECT_EQ(log.lines[0].u4Level, LOG_LEVEL_OUTCOME);
}

// --- The writer refuses what the reader would refuse ------------------------

TEST(PackageWriter, RefusesInvalidAndDuplicateNamesAndDeepNesting) {
  std::string bytes, error;
  EXPECT_FALSE(CNyPackageWriter::WriteToMemory({Node::Folder("a", {Node::File("..", "x")})}, bytes, &error));
  EXPECT_EQ(error, "invalid name \"..\" in \\a");
  EXPECT_FALSE(CNyPackageWriter::WriteToMemory({Node::Folder("a", {Node::File("Nul .txt", "x")})}, bytes, &error));
  EXPECT_EQ(error, "invalid name \"Nul .txt\" in \\a");
  EXPECT_FALSE(CNyPackageWriter::WriteToMemory({Node::File("Read.me", "1"), Node::File("READ.ME", "2")}, bytes, &error));
  EXPECT_EQ(error, "two entries named \"READ.ME\" (ignoring case) in \\");
  EXPECT_FALSE(CNyPackageWriter::WriteToMemory(NestedNodes(NY_PACKAGE_MAX_DEPTH + 1), bytes, &error));

  ASSERT_TRUE(CNyPackageWriter::WriteToMemory(NestedNodes(NY_PACKAGE_MAX_DEPTH), bytes, &error)) << error;
  EXPECT_EQ(bytes, NestedEmptyFolders(NY_PACKAGE_MAX_DEPTH));
}

TEST(PackageWriter, StopsAtAFailedWrite) {
  int nWrites = 0;
  CNyPackageWriter writer([&nWrites](const void*, size_t) { return ++nWrites < 3; });
  EXPECT_FALSE(writer.Write({Node::File("a", "1"), Node::File("b", "2")}));
  EXPECT_EQ(writer.Error(), "writing the package failed");
  EXPECT_EQ(nWrites, 3);
}

}  // namespace
