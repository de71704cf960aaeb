#pragma once
// CNyXmlConfigScript: the setup script at run time. It loads the
// script text, collects the script's variables, adds the built-in ones and
// expands every "$(name)" in the whole text, pass after pass, until none is
// left; the expanded text is parsed again and read through GetValue and
// GetItem.
//
// Slot order: 0 destructor (calls Reset), 1 AddRef, 2 Release,
// 3 InitVariables.
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "NyConfigItem.h"
#include "NyObject.h"
#include "NyString.h"

class TiXmlDocument;

// Escapes a value for insertion into XML text: '&' becomes "&amp;" unless
// the text from that '&' on already begins with "&amp;", "&lt;", "&gt;",
// "&quot;" or "&apos;" (then it is copied unchanged); '<' "&lt;", '>' "&gt;",
// '"' "&quot;", '\'' "&apos;"; every other byte is copied. CopyOut rules:
// *pcbOut counts the terminator; with pszOut null only the needed size is
// stored; with too little room 0xE0600005 and the needed size.
uint32_t XmlEntityEncode(const char* pszText, char* pszOut, size_t* pcbOut);
// The size of the escaped text, terminator excluded.
size_t XmlEntityEncodedLength(const char* pszText, size_t cchText);

// The folder above a path: fails (0xE0600007, logged "GetParentDirPath()
// error!! path=%s") when the path is empty, its ANSI form is 260 bytes or
// longer, or it holds no "\" once one trailing "\" is dropped; otherwise the
// path cut before its last "\".
uint32_t GetParentDirPath(const CNyString& path, CNyString* pParent);

// The built-in variable with the install's size in KB, which only the setup
// driver can tell; InitVariables sets it to 0.
constexpr char NY_VAR_ESTIMATED_SIZE[] = "estimatedsize";

// The folder ids InitVariables asks for (the values of the CSIDL_ ids).
constexpr int NY_CSIDL_DESKTOP = 0x0000;
constexpr int NY_CSIDL_PROGRAMS = 0x0002;
constexpr int NY_CSIDL_COMMON_PROGRAMS = 0x0017;
constexpr int NY_CSIDL_COMMON_DESKTOPDIRECTORY = 0x0019;
constexpr int NY_CSIDL_APPDATA = 0x001a;
constexpr int NY_CSIDL_COMMON_APPDATA = 0x0023;
constexpr int NY_CSIDL_WINDOWS = 0x0024;
constexpr int NY_CSIDL_SYSTEM = 0x0025;
constexpr int NY_CSIDL_PROGRAM_FILES = 0x0026;
constexpr int NY_CSIDL_SYSTEMX86 = 0x0029;
constexpr int NY_CSIDL_PROGRAM_FILESX86 = 0x002a;

// Where InitVariables takes the system facts from. The Windows build's
// default reads the system (IsOs64Bit, SetFsRedirection, SHGetFolderPathW
// with CSIDL_FLAG_CREATE | CSIDL_FLAG_DONT_UNEXPAND, GetModuleFileNameW);
// the host build's default answers fixed folders of a 64-bit system. Tests
// may pass their own.
class INyBuiltinSource {
 public:
  virtual ~INyBuiltinSource() = default;
  virtual bool Is64Bit() = 0;
  virtual void SetFsRedirection(bool bDisable) = 0;
  // 0 and the folder, or the platform's failure code.
  virtual uint32_t GetFolder(int nCsidl, CNyString* pFolder) = 0;
  // 0 and the full path of the running executable, or a failure code.
  virtual uint32_t GetModulePath(CNyString* pPath) = 0;
};
INyBuiltinSource* NyGetSystemBuiltinSource();

// Expansion limits.
constexpr uint32_t NY_SCRIPT_MAX_NAME = 128;          // a name of 128 bytes or more fails Update
constexpr uint32_t NY_SCRIPT_MAX_PASSES = 64;         // a 65th pass that still finds "$(" fails Update
constexpr uint32_t NY_SCRIPT_MAX_SIZE = 16u << 20;    // a larger script text is refused
constexpr uint32_t NY_SCRIPT_MAX_CONFIG_CHILDREN = 128;  // GetItem lists at most this many

// A variable table: names (case-sensitive) to values in the script's code
// page. A name is looked up by its first definition, so "add" keeps a value
// that is there (a later element of that name could never be read) and "set"
// replaces it. Names are ordered by length first: most comparisons of a
// look-up end there.
struct CNyNameOrder {
  using is_transparent = void;
  bool operator()(std::string_view a, std::string_view b) const {
    return a.size() != b.size() ? a.size() < b.size() : a.compare(b) < 0;
  }
};
using CNyVariableTable = std::map<std::string, std::string, CNyNameOrder>;

class CNyXmlConfigScript : public CNyObject {
 public:
  CNyXmlConfigScript();
  ~CNyXmlConfigScript() override;
  CNyXmlConfigScript(const CNyXmlConfigScript&) = delete;
  CNyXmlConfigScript& operator=(const CNyXmlConfigScript&) = delete;

  // Slot 3: sets the built-in variables into both tables. False at once for
  // a null or empty source root (narrow, system ANSI code page), false on the
  // first folder that cannot be read.
  virtual bool InitVariables(const char* pszSourceRoot);
  // The same for a source root in any script: the setup driver's extraction
  // folder lies under the user's temporary folder, whose name need not fit
  // the ANSI code page.
  bool InitVariables(const CNyString& sourceRoot);

  // Reset, read the whole file (narrow path, system ANSI code page, mode
  // "rb"), drop a leading byte-order mark (EF BB BF, or FF FE), then Init.
  uint32_t Load(const char* pszPath);
  // The same from memory: Reset, copy the text, drop a byte-order mark, Init.
  uint32_t LoadFromMemory(const void* pvText, size_t cbText);
  // Parses the loaded text and collects its variables into the raw table.
  uint32_t Init();
  // Expands the whole text and parses it again into the expanded document.
  uint32_t Update();
  // Stores the language code, sets "language" in both tables, then Update.
  uint32_t SetLanguage(uint32_t u4Language);
  // Sets a variable of the run (a fact only the setup driver knows) into
  // both tables, as a built-in; the next Update expands with it. False
  // before a script is loaded or when the value cannot be converted.
  bool SetVariable(const char* pszName, const CNyString& value) { return SetBuiltin(pszName, value); }
  // The resolved value, converted from the script's code page; 0xE0600008
  // when the name is unknown.
  uint32_t GetValue(const char* pszName, CNyString* pValue) const;
  // The resolved value read with "%u"; 0 when unknown.
  uint32_t GetUInt(const char* pszName) const;
  // The default when unknown; else true exactly when the value is "true".
  bool GetBool(const char* pszName, bool bDefault) const;
  // A new item for the first child of Config whose tag name equals
  // pszElementName (any when null) and whose attribute "name" equals
  // pszNameAttribute (any when null). The caller owns it; it is valid until
  // the next Update or the script's destruction. Null when nothing matches.
  CNyXmlConfigItem* GetItem(const char* pszElementName, const char* pszNameAttribute) const;
  // Frees the text, the two documents and the two tables; language = the
  // system's, encoding = -1.
  void Reset();

  uint32_t GetLanguage() const { return m_u4Language; }
  int32_t GetEncoding() const { return m_nEncoding; }
  uint32_t GetCodePage() const;
  // Null selects the platform's default source.
  void SetBuiltinSource(INyBuiltinSource* pSource) { m_pBuiltinSource = pSource; }

 private:
  // After reading the text into m_text (u4Read 0): drops a byte-order mark
  // and runs Init. A failed read is logged and leaves no text.
  uint32_t InitRead(uint32_t u4Read);
  uint32_t ParseSource();
  // Writes the variables of a document's Config into a table: bSet false
  // adds, true sets. Returns the code of the last variable written.
  uint32_t CollectVariables(TiXmlDocument* pDocument, CNyVariableTable* pTable, bool bSet) const;
  // The folder built-ins and srcroot, read while the file-system redirection
  // is off.
  bool SetFolderBuiltins(INyBuiltinSource* pSource, const CNyString& sourceRoot);
  // Sets a built-in into both tables, converted into the script's code page.
  bool SetBuiltin(const char* pszName, const CNyString& value);
  // One expansion pass over in, written to out, which may take at most
  // cbRoom bytes with its terminator.
  uint32_t ExpandPass(const std::string& in, size_t cbRoom, std::string* pOut, bool* pbFound,
                      std::string_view* pFirstName) const;

  // The loaded file without its byte-order mark, and a terminator; empty
  // when nothing is loaded.
  std::vector<char> m_text;
  std::unique_ptr<TiXmlDocument> m_pSourceDocument;
  std::unique_ptr<TiXmlDocument> m_pExpandedDocument;
  CNyVariableTable m_rawTable;
  CNyVariableTable m_resolvedTable;
  int32_t m_nEncoding;
  uint32_t m_u4Language;
  INyBuiltinSource* m_pBuiltinSource;
};
