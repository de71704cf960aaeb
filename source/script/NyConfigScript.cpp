// CNyXmlConfigScript: loading, variable collection, expansion and look-ups.
// Portable: the system facts come from an INyBuiltinSource
// (NyConfigScript_Win.cpp on Windows, NyConfigScript_Host.cpp elsewhere).
#include "NyConfigScript.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <initializer_list>
#include <new>

#include "NyLog.h"
#include "NyFindByte.h"
#include "NyLanguage.h"
#include "NyResult.h"
#include "NySafeStr.h"
#include "NyXml.h"
#include "tinyxml.h"

namespace {

constexpr uint32_t kConversionFailed = 0xFFFFFFFF;

const char* const kEntities[] = {"&amp;", "&lt;", "&gt;", "&quot;", "&apos;"};

// The replacement of one byte, or null when it is copied as it is.
const char* EntityFor(const char* p, const char* pEnd) {
  switch (*p) {
    case '&':
      for (const char* pszEntity : kEntities) {
        const size_t cch = strlen(pszEntity);
        if (static_cast<size_t>(pEnd - p) >= cch && memcmp(p, pszEntity, cch) == 0) return nullptr;
      }
      return "&amp;";
    case '<':
      return "&lt;";
    case '>':
      return "&gt;";
    case '"':
      return "&quot;";
    case '\'':
      return "&apos;";
    default:
      return nullptr;
  }
}

// Writes the escaped text (no terminator) to pszOut, which has room for it.
size_t EncodeInto(const char* pszText, size_t cchText, char* pszOut) {
  const char* pEnd = pszText + cchText;
  size_t o = 0;
  for (const char* p = pszText; p < pEnd; ++p) {
    const char* pszEntity = EntityFor(p, pEnd);
    if (pszEntity == nullptr) {
      pszOut[o++] = *p;
    } else {
      const size_t cch = strlen(pszEntity);
      memcpy(pszOut + o, pszEntity, cch);
      o += cch;
    }
  }
  return o;
}

// The first "$(" in [p, pEnd), or null.
const char* FindReference(const char* p, const char* pEnd) {
  while (p < pEnd) {
    const char* pDollar = NyFindByte(p, pEnd, '$');
    if (pDollar == nullptr || pDollar + 1 >= pEnd) return nullptr;
    if (pDollar[1] == '(') return pDollar;
    p = pDollar + 1;
  }
  return nullptr;
}

uint32_t ReadScriptFile(const char* pszPath, std::vector<char>* pText) {
  if (pszPath == nullptr) return NY_E_INVALID_PARAM;
  const std::unique_ptr<FILE, int (*)(FILE*)> pFile(fopen(pszPath, "rb"), fclose);
  if (pFile == nullptr) {
    if (errno == ENOENT) return 2;  // ERROR_FILE_NOT_FOUND
    if (errno == EACCES) return 5;  // ERROR_ACCESS_DENIED
    return NY_E_INVALID_DATA;
  }
  if (fseek(pFile.get(), 0, SEEK_END) != 0) return NY_E_INVALID_DATA;
  const long nSize = ftell(pFile.get());
  if (nSize < 0 || fseek(pFile.get(), 0, SEEK_SET) != 0) return NY_E_INVALID_DATA;
  const size_t cbSize = static_cast<size_t>(nSize);
  if (cbSize > NY_SCRIPT_MAX_SIZE) return NY_E_OUTOFMEMORY;
  try {
    pText->assign(cbSize + 1, 0);
  } catch (const std::bad_alloc&) {
    return NY_E_OUTOFMEMORY;
  }
  if (fread(pText->data(), 1, cbSize, pFile.get()) != cbSize) return NY_E_INVALID_DATA;
  return NY_SUCCESS;
}

uint32_t CopyScriptText(const void* pvText, size_t cbText, std::vector<char>* pText) {
  if (pvText == nullptr) return NY_E_INVALID_PARAM;
  if (cbText > NY_SCRIPT_MAX_SIZE) return NY_E_OUTOFMEMORY;
  const char* pszText = static_cast<const char*>(pvText);
  try {
    pText->reserve(cbText + 1);
    pText->assign(pszText, pszText + cbText);
    pText->push_back(0);
  } catch (const std::bad_alloc&) {
    return NY_E_OUTOFMEMORY;
  }
  return NY_SUCCESS;
}

void DropByteOrderMark(std::vector<char>* pText) {
  const size_t cbText = pText->size() - 1;
  const unsigned char* pb = reinterpret_cast<const unsigned char*>(pText->data());
  size_t cbMark = 0;
  if (cbText >= 3 && pb[0] == 0xEF && pb[1] == 0xBB && pb[2] == 0xBF) {
    cbMark = 3;
  } else if (cbText >= 2 && pb[0] == 0xFF && pb[1] == 0xFE) {
    cbMark = 2;
  }
  pText->erase(pText->begin(), pText->begin() + static_cast<std::ptrdiff_t>(cbMark));
}

uint32_t WriteVariable(CNyVariableTable* pTable, const char* pszName, const char* pszValue, bool bSet) {
  if (pszValue == nullptr) pszValue = "";
  try {
    const auto it = pTable->find(std::string_view(pszName));
    if (it == pTable->end()) {
      pTable->emplace(pszName, pszValue);
    } else if (bSet) {
      it->second = pszValue;
    }
  } catch (const std::bad_alloc&) {
    NYLOG(LOG_LEVEL_ERROR, "CNyXmlConfigScript::Init()->NyXmlAddChild failed");
    return NY_E_OUTOFMEMORY;
  }
  return NY_SUCCESS;
}

// The value of a variable, or null when the table has none.
const std::string* Lookup(const CNyVariableTable& table, std::string_view name) {
  const auto it = table.find(name);
  return it != table.end() ? &it->second : nullptr;
}

// A name as it goes into a log line: at most 127 bytes.
std::string LogName(std::string_view name) {
  return std::string(name.substr(0, NY_SCRIPT_MAX_NAME - 1));
}

// Switches the 32-bit file-system redirection off for its lifetime when
// bOn, and back on at its end, whatever path InitVariables leaves by.
class CNyRedirectionOff {
 public:
  CNyRedirectionOff(INyBuiltinSource* pSource, bool bOn) : m_pSource(bOn ? pSource : nullptr) {
    if (m_pSource != nullptr) m_pSource->SetFsRedirection(true);
  }
  ~CNyRedirectionOff() {
    if (m_pSource != nullptr) m_pSource->SetFsRedirection(false);
  }
  CNyRedirectionOff(const CNyRedirectionOff&) = delete;
  CNyRedirectionOff& operator=(const CNyRedirectionOff&) = delete;

 private:
  INyBuiltinSource* m_pSource;
};

}  // namespace

// ---------------------------------------------------------------------------
// Free routines
// ---------------------------------------------------------------------------
size_t XmlEntityEncodedLength(const char* pszText, size_t cchText) {
  const char* pEnd = pszText + cchText;
  size_t cch = 0;
  for (const char* p = pszText; p < pEnd; ++p) {
    const char* pszEntity = EntityFor(p, pEnd);
    cch += pszEntity == nullptr ? 1 : strlen(pszEntity);
  }
  return cch;
}

uint32_t XmlEntityEncode(const char* pszText, char* pszOut, size_t* pcbOut) {
  if (pszText == nullptr || pcbOut == nullptr) return NY_E_INVALID_PARAM;
  const size_t cchText = strlen(pszText);
  const size_t cbNeeded = XmlEntityEncodedLength(pszText, cchText) + 1;
  if (pszOut == nullptr) {
    *pcbOut = cbNeeded;
    return NY_SUCCESS;
  }
  if (*pcbOut < cbNeeded) {
    *pcbOut = cbNeeded;
    return NY_E_BUFFER_TOO_SMALL;
  }
  const size_t cch = EncodeInto(pszText, cchText, pszOut);
  pszOut[cch] = 0;
  *pcbOut = cbNeeded;
  return NY_SUCCESS;
}

uint32_t GetParentDirPath(const CNyString& path, CNyString* pParent) {
  const std::wstring_view wide(path.GetWide(), path.GetWideLength());
  if (pParent != nullptr && !wide.empty() && path.GetAnsiLength() < 260) {
    // One trailing "\" is dropped; the parent ends before the last "\".
    const size_t cch = wide.back() == L'\\' ? wide.size() - 1 : wide.size();
    const size_t cchParent = wide.substr(0, cch).rfind(L'\\');
    if (cchParent != std::wstring_view::npos) {
      const std::wstring parent(wide.substr(0, cchParent));
      if (pParent->Assign(parent.c_str()) && (parent.empty() || !pParent->IsEmpty())) return NY_SUCCESS;
    }
  }
  NYLOG(LOG_LEVEL_OUTCOME, "GetParentDirPath() error!! path=%s", path.GetAnsi());
  return NY_E_INVALID_PARAM;
}

// ---------------------------------------------------------------------------
// CNyXmlConfigScript
// ---------------------------------------------------------------------------
CNyXmlConfigScript::CNyXmlConfigScript()
    : m_nEncoding(NY_XML_ENCODING_UNKNOWN), m_u4Language(GetSystemLanguageCode()), m_pBuiltinSource(nullptr) {}

CNyXmlConfigScript::~CNyXmlConfigScript() { Reset(); }

uint32_t CNyXmlConfigScript::GetCodePage() const { return NyXmlEncodingToCodePage(m_nEncoding); }

void CNyXmlConfigScript::Reset() {
  m_text = std::vector<char>();
  m_pSourceDocument.reset();
  m_pExpandedDocument.reset();
  m_rawTable.clear();
  m_resolvedTable.clear();
  m_u4Language = GetSystemLanguageCode();
  m_nEncoding = NY_XML_ENCODING_UNKNOWN;
}

uint32_t CNyXmlConfigScript::Load(const char* pszPath) {
  Reset();
  return InitRead(ReadScriptFile(pszPath, &m_text));
}

uint32_t CNyXmlConfigScript::LoadFromMemory(const void* pvText, size_t cbText) {
  Reset();
  return InitRead(CopyScriptText(pvText, cbText, &m_text));
}

uint32_t CNyXmlConfigScript::InitRead(uint32_t u4Read) {
  if (u4Read != NY_SUCCESS) {
    NYLOG_RESULT(u4Read);
    m_text = std::vector<char>();
    return u4Read;
  }
  DropByteOrderMark(&m_text);
  return Init();
}

uint32_t CNyXmlConfigScript::Init() {
  m_pSourceDocument.reset();
  m_pExpandedDocument.reset();
  m_rawTable.clear();
  m_resolvedTable.clear();
  m_nEncoding = NY_XML_ENCODING_UNKNOWN;
  const uint32_t u4Result = ParseSource();
  if (u4Result != NY_SUCCESS) {
    NYLOG_RESULT(u4Result);
    // Not loaded: the text stays, the documents and tables go.
    m_pSourceDocument.reset();
    m_rawTable.clear();
  }
  return u4Result;
}

uint32_t CNyXmlConfigScript::ParseSource() {
  if (m_text.empty()) return NY_E_INVALID_DATA;
  TiXmlDocument* pDocument = nullptr;
  uint32_t u4Result = NyXmlLoadFromMemory(m_text.data(), m_text.size() - 1, &pDocument);
  m_pSourceDocument.reset(pDocument);
  if (u4Result != NY_SUCCESS) return u4Result;
  u4Result = NyXmlGetEncoding(pDocument, &m_nEncoding);
  if (u4Result != NY_SUCCESS) return u4Result;
  // The tables hold their values in the code page of a known encoding.
  if (NyXmlEncodingName(m_nEncoding) == nullptr) {
    NYLOG(LOG_LEVEL_OUTCOME, "CNyXmlConfigScript::Init()->Unknown encoding in the declaration");
    return NY_E_INVALID_PARAM;
  }
  return CollectVariables(pDocument, &m_rawTable, false);
}

uint32_t CNyXmlConfigScript::CollectVariables(TiXmlDocument* pDocument, CNyVariableTable* pTable, bool bSet) const {
  TiXmlNode* pConfig = nullptr;
  uint32_t u4Result = NyXmlGetSingleChild(pDocument, "Config", &pConfig);
  if (u4Result == NY_SUCCESS && pConfig == nullptr) u4Result = NY_E_INVALID_DATA;
  if (u4Result != NY_SUCCESS) {
    NYLOG_RESULT(u4Result);
    return u4Result;
  }
  const char* pszLanguage = NyLanguageName(m_u4Language);
  for (TiXmlElement* pGroup = pConfig->FirstChildElement(); pGroup != nullptr;
       pGroup = pGroup->NextSiblingElement()) {
    const char* pszGroup = pGroup->Value();
    if (strcmp(pszGroup, "SetupInfo") == 0 || strcmp(pszGroup, "CustomInfo") == 0) {
      for (TiXmlElement* pVariable = pGroup->FirstChildElement(); pVariable != nullptr;
           pVariable = pVariable->NextSiblingElement()) {
        u4Result = WriteVariable(pTable, pVariable->Value(), pVariable->GetText(), bSet);
      }
    } else if (strcmp(pszGroup, "CustomString") == 0 || strcmp(pszGroup, "ActionDescString") == 0) {
      for (TiXmlElement* pVariable = pGroup->FirstChildElement(); pVariable != nullptr;
           pVariable = pVariable->NextSiblingElement()) {
        for (TiXmlElement* pLanguage = pVariable->FirstChildElement(pszLanguage); pLanguage != nullptr;
             pLanguage = pLanguage->NextSiblingElement(pszLanguage)) {
          u4Result = WriteVariable(pTable, pVariable->Value(), pLanguage->GetText(), bSet);
        }
      }
    }
  }
  return u4Result;
}

bool CNyXmlConfigScript::SetBuiltin(const char* pszName, const CNyString& value) {
  if (m_pSourceDocument == nullptr) {
    NYLOG_RESULT(NY_E_INVALID_DATA);
    return false;
  }
  // A value already in the script's code page needs no conversion.
  CNyString converted;
  const char* pszValue = value.GetText();
  if (value.GetCodePage() != GetCodePage()) {
    if (!converted.Copy(value) || !converted.SetCodePage(GetCodePage()) || converted.IsEmpty() != value.IsEmpty()) {
      NYLOG_RESULT(kConversionFailed);
      return false;
    }
    pszValue = converted.GetText();
  }
  return WriteVariable(&m_rawTable, pszName, pszValue, true) == NY_SUCCESS &&
         WriteVariable(&m_resolvedTable, pszName, pszValue, true) == NY_SUCCESS;
}

bool CNyXmlConfigScript::SetFolderBuiltins(INyBuiltinSource* pSource, const CNyString& sourceRoot) {
  const bool b64Bit = pSource->Is64Bit();
  const CNyRedirectionOff redirectionOff(pSource, b64Bit);
  CNyString folder;
  const auto read = [&](int nCsidl) {
    const uint32_t u4Result = pSource->GetFolder(nCsidl, &folder);
    if (u4Result != NY_SUCCESS) NYLOG_RESULT(u4Result);
    return u4Result == NY_SUCCESS;
  };
  const auto setAs = [&](std::initializer_list<const char*> names) {
    for (const char* pszName : names) {
      if (!SetBuiltin(pszName, folder)) return false;
    }
    return true;
  };
  if (b64Bit) {
    if (!read(NY_CSIDL_PROGRAM_FILESX86) || !setAs({"pf32", "pf"})) return false;
    if (!read(NY_CSIDL_PROGRAM_FILES) || folder.ReplaceAll(L"Program Files (x86)", L"Program Files") < 0 ||
        !setAs({"pf64"})) {
      return false;
    }
    if (!read(NY_CSIDL_SYSTEMX86) || folder.ReplaceAll(L"System32", L"SysWow64") < 0 ||
        folder.ReplaceAll(L"system32", L"SysWow64") < 0 || !setAs({"sys32", "sys"})) {
      return false;
    }
    if (!read(NY_CSIDL_SYSTEM) || folder.ReplaceAll(L"SysWow64", L"System32") < 0 || !setAs({"sys64"})) return false;
  } else {
    if (!read(NY_CSIDL_PROGRAM_FILES) || !setAs({"pf32", "pf", "pf64"})) return false;
    if (!read(NY_CSIDL_SYSTEM) || !setAs({"sys32", "sys", "sys64"})) return false;
  }
  if (!read(NY_CSIDL_WINDOWS) || !setAs({"win"})) return false;
  if (!read(NY_CSIDL_APPDATA) || !setAs({"userappdata"})) return false;
  if (!read(NY_CSIDL_COMMON_APPDATA) || !setAs({"commonappdata"})) return false;
  CNyString parent;
  if (!read(NY_CSIDL_COMMON_DESKTOPDIRECTORY) || GetParentDirPath(folder, &parent) != NY_SUCCESS ||
      !SetBuiltin("usercommon", parent)) {
    return false;
  }
  if (!read(NY_CSIDL_PROGRAMS) || !setAs({"userprograms"})) return false;
  if (!read(NY_CSIDL_COMMON_PROGRAMS) || !setAs({"commonprograms"})) return false;
  if (!SetBuiltin("srcroot", sourceRoot)) return false;
  if (!read(NY_CSIDL_DESKTOP) || !setAs({"userdesktop"})) return false;
  return read(NY_CSIDL_COMMON_DESKTOPDIRECTORY) && setAs({"commondesktop"});
}

bool CNyXmlConfigScript::InitVariables(const char* pszSourceRoot) {
  if (pszSourceRoot == nullptr || pszSourceRoot[0] == 0) return false;
  const CNyString sourceRoot(pszSourceRoot, NY_CP_ACP);
  if (sourceRoot.IsEmpty()) {
    NYLOG_RESULT(kConversionFailed);
    return false;
  }
  return InitVariables(sourceRoot);
}

bool CNyXmlConfigScript::InitVariables(const CNyString& sourceRoot) {
  if (sourceRoot.IsEmpty()) return false;
  INyBuiltinSource* pSource = m_pBuiltinSource != nullptr ? m_pBuiltinSource : NyGetSystemBuiltinSource();
  if (!SetFolderBuiltins(pSource, sourceRoot)) return false;
  CNyString path;
  const uint32_t u4Result = pSource->GetModulePath(&path);
  if (u4Result != NY_SUCCESS) {
    NYLOG_RESULT(u4Result);
    return false;
  }
  char szLanguage[16];
  snprintf(szLanguage, sizeof(szLanguage), "%u", static_cast<unsigned>(m_u4Language));
  // The day of the run (yyyymmdd), and the size of what it installs, which
  // only the setup driver can tell (it sets it once the script is expanded).
  const std::time_t now = std::time(nullptr);
  const std::tm* pToday = std::localtime(&now);
  char szDate[16] = "19700101";
  if (pToday != nullptr) std::strftime(szDate, sizeof(szDate), "%Y%m%d", pToday);
  return SetBuiltin("srcexe", path) && SetBuiltin("language", CNyString(szLanguage, NY_CP_UTF8)) &&
         SetBuiltin("installdate", CNyString(szDate, NY_CP_UTF8)) &&
         SetBuiltin(NY_VAR_ESTIMATED_SIZE, CNyString("0", NY_CP_UTF8));
}

uint32_t CNyXmlConfigScript::ExpandPass(const std::string& in, size_t cbRoom, std::string* pOut, bool* pbFound,
                                        std::string_view* pFirstName) const {
  const char* p = in.data();
  const char* const pEnd = p + in.size();
  std::string& out = *pOut;
  out.clear();
  *pbFound = false;
  for (;;) {
    const char* pRef = FindReference(p, pEnd);
    const size_t cchText = static_cast<size_t>((pRef != nullptr ? pRef : pEnd) - p);
    // Every piece, with the final terminator, must fit.
    if (cchText + (pRef == nullptr ? 1 : 0) > cbRoom - out.size()) {
      NYLOG(LOG_LEVEL_OUTCOME, "CNyXmlConfigScript::Update()->buffer tool small");
      return NY_E_BUFFER_TOO_SMALL;
    }
    out.append(p, cchText);
    if (pRef == nullptr) return NY_SUCCESS;
    const char* pszName = pRef + 2;
    const char* pClose = NyFindByte(pszName, pEnd, ')');
    if (pClose == nullptr) {
      NYLOG(LOG_LEVEL_OUTCOME, "CNyXmlConfigScript::Update()->Invalid script");
      return NY_E_INVALID_DATA;
    }
    const std::string_view name(pszName, static_cast<size_t>(pClose - pszName));
    if (name.size() >= NY_SCRIPT_MAX_NAME) {
      NYLOG(LOG_LEVEL_OUTCOME, "CNyXmlConfigScript::Update()->Variable name too long (%u bytes, at most %u): %s...",
            static_cast<unsigned>(name.size()), static_cast<unsigned>(NY_SCRIPT_MAX_NAME - 1), LogName(name).c_str());
      return NY_E_INVALID_DATA;
    }
    const std::string* pValue = Lookup(m_rawTable, name);
    if (pValue == nullptr) {
      NYLOG(LOG_LEVEL_OUTCOME, "CNyXmlConfigScript::Update()->Variable not found: %s", LogName(name).c_str());
      return NY_E_INVALID_DATA;
    }
    const size_t cchValue = pValue->size();
    const size_t cchEncoded = XmlEntityEncodedLength(pValue->data(), cchValue);
    if (cchEncoded > cbRoom - out.size()) {
      NYLOG(LOG_LEVEL_OUTCOME, "CNyXmlConfigScript::Update()->buffer tool small");
      return NY_E_BUFFER_TOO_SMALL;
    }
    if (cchEncoded == cchValue) {
      out.append(*pValue, 0, cchValue);  // nothing to escape
    } else {
      const size_t o = out.size();
      out.resize(o + cchEncoded);
      EncodeInto(pValue->data(), cchValue, &out[o]);
    }
    if (!*pbFound) *pFirstName = name;
    *pbFound = true;
    p = pClose + 1;
  }
}

uint32_t CNyXmlConfigScript::Update() {
  m_pExpandedDocument.reset();
  if (m_text.empty() || m_pSourceDocument == nullptr) return NY_E_INVALID_DATA;
  uint32_t u4Result = CollectVariables(m_pSourceDocument.get(), &m_rawTable, true);
  if (u4Result != NY_SUCCESS) {
    NYLOG_RESULT(u4Result);
    return u4Result;
  }
  // Each pass writes into a buffer of twice the script's size.
  const size_t cbRoom = 2 * (m_text.size() - 1);
  std::string current;
  std::string next;
  try {
    current.reserve(cbRoom);
    next.reserve(cbRoom);
  } catch (const std::bad_alloc&) {
    NYLOG_RESULT(NY_E_OUTOFMEMORY);
    return NY_E_OUTOFMEMORY;
  }
  current.assign(m_text.data(), m_text.size() - 1);
  for (uint32_t u4Pass = 1;; ++u4Pass) {
    bool bFound = false;
    std::string_view firstName;
    u4Result = ExpandPass(current, cbRoom, &next, &bFound, &firstName);
    if (u4Result != NY_SUCCESS) return u4Result;
    if (bFound && u4Pass >= NY_SCRIPT_MAX_PASSES) {
      NYLOG(LOG_LEVEL_OUTCOME,
            "CNyXmlConfigScript::Update()->Variable still refers to variables after %u passes (a loop?): %s",
            static_cast<unsigned>(NY_SCRIPT_MAX_PASSES), LogName(firstName).c_str());
      return NY_E_INVALID_DATA;
    }
    current.swap(next);
    if (!bFound) break;
  }
  TiXmlDocument* pDocument = nullptr;
  u4Result = NyXmlLoadFromMemory(current.data(), current.size(), &pDocument);
  m_pExpandedDocument.reset(pDocument);
  int32_t nEncoding = NY_XML_ENCODING_UNKNOWN;
  if (u4Result == NY_SUCCESS) u4Result = NyXmlGetEncoding(pDocument, &nEncoding);
  if (u4Result == NY_SUCCESS) u4Result = CollectVariables(pDocument, &m_resolvedTable, true);
  if (u4Result != NY_SUCCESS) {
    NYLOG_RESULT(u4Result);
    m_pExpandedDocument.reset();
  }
  return u4Result;
}

uint32_t CNyXmlConfigScript::SetLanguage(uint32_t u4Language) {
  m_u4Language = u4Language;
  char szLanguage[16];
  snprintf(szLanguage, sizeof(szLanguage), "%u", static_cast<unsigned>(u4Language));
  if (m_pSourceDocument != nullptr) {
    WriteVariable(&m_rawTable, "language", szLanguage, true);
    WriteVariable(&m_resolvedTable, "language", szLanguage, true);
  }
  return Update();
}

uint32_t CNyXmlConfigScript::GetValue(const char* pszName, CNyString* pValue) const {
  if (pszName == nullptr || pValue == nullptr) return NY_E_INVALID_PARAM;
  const std::string* pText = Lookup(m_resolvedTable, pszName);
  if (pText == nullptr) return NY_E_NOT_FOUND;
  if (!pValue->Assign(pText->c_str(), GetCodePage())) return NY_E_INVALID_DATA;
  return NY_SUCCESS;
}

uint32_t CNyXmlConfigScript::GetUInt(const char* pszName) const {
  const std::string* pValue = pszName != nullptr ? Lookup(m_resolvedTable, pszName) : nullptr;
  uint32_t u4Value = 0;
  if (pValue == nullptr || !SafeStrToUInt(pValue->c_str(), &u4Value)) return 0;
  return u4Value;
}

bool CNyXmlConfigScript::GetBool(const char* pszName, bool bDefault) const {
  const std::string* pValue = pszName != nullptr ? Lookup(m_resolvedTable, pszName) : nullptr;
  if (pValue == nullptr) return bDefault;
  return strcmp(pValue->c_str(), "true") == 0;
}

CNyXmlConfigItem* CNyXmlConfigScript::GetItem(const char* pszElementName, const char* pszNameAttribute) const {
  if (m_pExpandedDocument == nullptr) return nullptr;
  TiXmlNode* pConfig = nullptr;
  uint32_t u4Result = NyXmlGetSingleChild(m_pExpandedDocument.get(), "Config", &pConfig);
  TiXmlElement* apChildren[NY_SCRIPT_MAX_CONFIG_CHILDREN] = {};
  uint32_t u4Count = NY_SCRIPT_MAX_CONFIG_CHILDREN;
  if (u4Result == NY_SUCCESS) u4Result = NyXmlGetChildren(pConfig, apChildren, &u4Count);
  if (u4Result != NY_SUCCESS) {
    NYLOG_RESULT(u4Result);
    return nullptr;
  }
  for (uint32_t i = 0; i < u4Count; ++i) {
    TiXmlElement* pChild = apChildren[i];
    if (pszElementName != nullptr && strcmp(pChild->Value(), pszElementName) != 0) continue;
    if (pszNameAttribute != nullptr) {
      const char* pszName = pChild->Attribute("name");
      if (pszName == nullptr || strcmp(pszName, pszNameAttribute) != 0) continue;
    }
    return new (std::nothrow) CNyXmlConfigItem(pChild, m_nEncoding, m_u4Language, nullptr);
  }
  return nullptr;
}
