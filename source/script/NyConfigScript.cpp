// CNyXmlConfigScript: loading, variable collection, expansion and look-ups.
// Portable: the system facts come from an INyBuiltinSource
// (NyConfigScript_Win.cpp on Windows, NyConfigScript_Host.cpp elsewhere).
#include "NyConfigScript.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>

#include "Log/NyLog.h"
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
    const char* pDollar = static_cast<const char*>(memchr(p, '$', static_cast<size_t>(pEnd - p)));
    if (pDollar == nullptr || pDollar + 1 >= pEnd) return nullptr;
    if (pDollar[1] == '(') return pDollar;
    p = pDollar + 1;
  }
  return nullptr;
}

// A name of at most 127 bytes as a terminated text, for log lines.
void CopyName(const char* pszName, size_t cchName, char* pszOut, size_t cbOut) {
  const size_t cch = cchName < cbOut - 1 ? cchName : cbOut - 1;
  memcpy(pszOut, pszName, cch);
  pszOut[cch] = 0;
}

bool DropByteOrderMark(char* pszText, uint32_t* pu4Size) {
  const unsigned char* pb = reinterpret_cast<const unsigned char*>(pszText);
  size_t cbMark = 0;
  if (*pu4Size >= 3 && pb[0] == 0xEF && pb[1] == 0xBB && pb[2] == 0xBF) {
    cbMark = 3;
  } else if (*pu4Size >= 2 && pb[0] == 0xFF && pb[1] == 0xFE) {
    cbMark = 2;
  }
  if (cbMark == 0) return false;
  memmove(pszText, pszText + cbMark, *pu4Size - cbMark);
  *pu4Size -= static_cast<uint32_t>(cbMark);
  pszText[*pu4Size] = 0;
  return true;
}

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
  const wchar_t* pwszPath = path.GetWide();
  size_t cch = path.GetWideLength();
  bool bOk = pParent != nullptr && cch != 0 && path.GetAnsiLength() < 260;
  if (bOk) {
    if (pwszPath[cch - 1] == L'\\') --cch;
    size_t cchParent = cch;
    while (cchParent > 0 && pwszPath[cchParent - 1] != L'\\') --cchParent;
    bOk = cchParent > 0;
    if (bOk) {
      --cchParent;  // cut before the last "\"
      wchar_t* pwszParent = new (std::nothrow) wchar_t[cchParent + 1];
      bOk = pwszParent != nullptr;
      if (bOk) {
        memcpy(pwszParent, pwszPath, cchParent * sizeof(wchar_t));
        pwszParent[cchParent] = 0;
        bOk = pParent->Assign(pwszParent) && (cchParent == 0 || !pParent->IsEmpty());
        delete[] pwszParent;
      }
    }
  }
  if (!bOk) {
    NYLOG(LOG_LEVEL_OUTCOME, "GetParentDirPath() error!! path=%s", path.GetAnsi());
    return NY_E_INVALID_PARAM;
  }
  return NY_SUCCESS;
}

const char* NyScriptTableLookup(TiXmlDocument* pTable, const char* pszName, size_t cchName) {
  if (pTable == nullptr || pszName == nullptr) return nullptr;
  for (TiXmlElement* pElement = pTable->FirstChildElement(); pElement != nullptr;
       pElement = pElement->NextSiblingElement()) {
    const std::string& name = pElement->ValueStr();
    if (name.size() == cchName && memcmp(name.data(), pszName, cchName) == 0) {
      const char* pszText = pElement->GetText();
      return pszText != nullptr ? pszText : "";
    }
  }
  return nullptr;
}

// ---------------------------------------------------------------------------
// CNyXmlConfigScript
// ---------------------------------------------------------------------------
CNyXmlConfigScript::CNyXmlConfigScript()
    : m_pszText(nullptr), m_u4TextSize(0), m_pSourceDocument(nullptr), m_pExpandedDocument(nullptr),
      m_pRawTable(nullptr), m_pResolvedTable(nullptr), m_nEncoding(NY_XML_ENCODING_UNKNOWN),
      m_u4Language(GetSystemLanguageCode()), m_pBuiltinSource(nullptr) {}

CNyXmlConfigScript::~CNyXmlConfigScript() { Reset(); }

uint32_t CNyXmlConfigScript::GetCodePage() const { return NyXmlEncodingToCodePage(m_nEncoding); }

void CNyXmlConfigScript::FreeDocument(TiXmlDocument** ppDocument) {
  if (*ppDocument != nullptr) NyXmlFree(*ppDocument);
  *ppDocument = nullptr;
}

void CNyXmlConfigScript::Reset() {
  delete[] m_pszText;
  m_pszText = nullptr;
  m_u4TextSize = 0;
  FreeDocument(&m_pSourceDocument);
  FreeDocument(&m_pExpandedDocument);
  FreeDocument(&m_pRawTable);
  FreeDocument(&m_pResolvedTable);
  m_u4Language = GetSystemLanguageCode();
  m_nEncoding = NY_XML_ENCODING_UNKNOWN;
}

uint32_t CNyXmlConfigScript::Load(const char* pszPath) {
  Reset();
  uint32_t u4Result = NY_SUCCESS;
  FILE* pFile = pszPath != nullptr ? fopen(pszPath, "rb") : nullptr;
  if (pFile == nullptr) {
    if (pszPath == nullptr) {
      u4Result = NY_E_INVALID_PARAM;
    } else if (errno == ENOENT) {
      u4Result = 2;  // ERROR_FILE_NOT_FOUND
    } else if (errno == EACCES) {
      u4Result = 5;  // ERROR_ACCESS_DENIED
    } else {
      u4Result = NY_E_INVALID_DATA;
    }
    NYLOG_RESULT(u4Result);
    return u4Result;
  }
  long nSize = -1;
  if (fseek(pFile, 0, SEEK_END) == 0) nSize = ftell(pFile);
  if (nSize < 0 || fseek(pFile, 0, SEEK_SET) != 0) {
    u4Result = NY_E_INVALID_DATA;
  } else if (static_cast<unsigned long>(nSize) > NY_SCRIPT_MAX_SIZE) {
    u4Result = NY_E_OUTOFMEMORY;
  } else {
    m_pszText = new (std::nothrow) char[static_cast<size_t>(nSize) + 1];
    if (m_pszText == nullptr) {
      u4Result = NY_E_OUTOFMEMORY;
    } else if (nSize != 0 && fread(m_pszText, 1, static_cast<size_t>(nSize), pFile) != static_cast<size_t>(nSize)) {
      u4Result = NY_E_INVALID_DATA;
    } else {
      m_pszText[nSize] = 0;
      m_u4TextSize = static_cast<uint32_t>(nSize);
    }
  }
  fclose(pFile);
  if (u4Result != NY_SUCCESS) {
    NYLOG_RESULT(u4Result);
    delete[] m_pszText;
    m_pszText = nullptr;
    m_u4TextSize = 0;
    return u4Result;
  }
  DropByteOrderMark(m_pszText, &m_u4TextSize);
  return Init();
}

uint32_t CNyXmlConfigScript::LoadFromMemory(const void* pvText, size_t cbText) {
  Reset();
  uint32_t u4Result = NY_SUCCESS;
  if (pvText == nullptr) {
    u4Result = NY_E_INVALID_PARAM;
  } else if (cbText > NY_SCRIPT_MAX_SIZE) {
    u4Result = NY_E_OUTOFMEMORY;
  } else {
    m_pszText = new (std::nothrow) char[cbText + 1];
    if (m_pszText == nullptr) u4Result = NY_E_OUTOFMEMORY;
  }
  if (u4Result != NY_SUCCESS) {
    NYLOG_RESULT(u4Result);
    return u4Result;
  }
  if (cbText != 0) memcpy(m_pszText, pvText, cbText);
  m_pszText[cbText] = 0;
  m_u4TextSize = static_cast<uint32_t>(cbText);
  DropByteOrderMark(m_pszText, &m_u4TextSize);
  return Init();
}

uint32_t CNyXmlConfigScript::Init() {
  FreeDocument(&m_pSourceDocument);
  FreeDocument(&m_pExpandedDocument);
  FreeDocument(&m_pRawTable);
  FreeDocument(&m_pResolvedTable);
  m_nEncoding = NY_XML_ENCODING_UNKNOWN;
  uint32_t u4Result = m_pszText == nullptr ? NY_E_INVALID_DATA : NY_SUCCESS;
  if (u4Result == NY_SUCCESS) u4Result = NyXmlLoadFromMemory(m_pszText, m_u4TextSize, &m_pSourceDocument);
  if (u4Result == NY_SUCCESS) u4Result = NyXmlGetEncoding(m_pSourceDocument, &m_nEncoding);
  if (u4Result == NY_SUCCESS) u4Result = NyXmlCreate(m_nEncoding, &m_pRawTable);
  if (u4Result == NY_SUCCESS) u4Result = NyXmlCreate(m_nEncoding, &m_pResolvedTable);
  if (u4Result == NY_SUCCESS) u4Result = CollectVariables(m_pSourceDocument, m_pRawTable, false);
  if (u4Result != NY_SUCCESS) {
    NYLOG_RESULT(u4Result);
    // Not loaded: the text stays, the documents go.
    FreeDocument(&m_pSourceDocument);
    FreeDocument(&m_pRawTable);
    FreeDocument(&m_pResolvedTable);
  }
  return u4Result;
}

uint32_t CNyXmlConfigScript::WriteVariable(TiXmlDocument* pTable, const char* pszName, const char* pszValue,
                                           bool bSet) const {
  if (pszValue == nullptr) pszValue = "";
  uint32_t u4Result = NY_SUCCESS;
  TiXmlElement* pElement = bSet ? pTable->FirstChildElement(pszName) : nullptr;
  if (pElement != nullptr) {
    u4Result = NyXmlSetText(pElement, pszValue);
  } else {
    u4Result = NyXmlAddChild(pTable, pszName, pszValue, nullptr);
  }
  if (u4Result != NY_SUCCESS) NYLOG(LOG_LEVEL_ERROR, "CNyXmlConfigScript::Init()->NyXmlAddChild failed");
  return u4Result;
}

uint32_t CNyXmlConfigScript::CollectVariables(TiXmlDocument* pDocument, TiXmlDocument* pTable, bool bSet) const {
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
  if (m_pRawTable == nullptr || m_pResolvedTable == nullptr) {
    NYLOG_RESULT(NY_E_INVALID_DATA);
    return false;
  }
  CNyString converted(value);
  if (!converted.SetCodePage(GetCodePage()) || converted.IsEmpty() != value.IsEmpty()) {
    NYLOG_RESULT(kConversionFailed);
    return false;
  }
  const char* pszValue = converted.GetText();
  return WriteVariable(m_pRawTable, pszName, pszValue, true) == NY_SUCCESS &&
         WriteVariable(m_pResolvedTable, pszName, pszValue, true) == NY_SUCCESS;
}

bool CNyXmlConfigScript::ReadFolder(INyBuiltinSource* pSource, int nCsidl, CNyString* pFolder) const {
  const uint32_t u4Result = pSource->GetFolder(nCsidl, pFolder);
  if (u4Result != NY_SUCCESS) {
    NYLOG_RESULT(u4Result);
    return false;
  }
  return true;
}

bool CNyXmlConfigScript::InitVariables(const char* pszSourceRoot) {
  if (pszSourceRoot == nullptr || pszSourceRoot[0] == 0) return false;
  INyBuiltinSource* pSource = m_pBuiltinSource != nullptr ? m_pBuiltinSource : NyGetSystemBuiltinSource();
  const bool b64Bit = pSource->Is64Bit();
  if (b64Bit) pSource->SetFsRedirection(true);
  bool bOk = true;
  CNyString folder;
  if (b64Bit) {
    bOk = ReadFolder(pSource, NY_CSIDL_PROGRAM_FILESX86, &folder) && SetBuiltin("pf32", folder) &&
          SetBuiltin("pf", folder);
    bOk = bOk && ReadFolder(pSource, NY_CSIDL_PROGRAM_FILES, &folder) &&
          folder.ReplaceAll(L"Program Files (x86)", L"Program Files") >= 0 && SetBuiltin("pf64", folder);
    bOk = bOk && ReadFolder(pSource, NY_CSIDL_SYSTEMX86, &folder) && folder.ReplaceAll(L"System32", L"SysWow64") >= 0 &&
          folder.ReplaceAll(L"system32", L"SysWow64") >= 0 && SetBuiltin("sys32", folder) && SetBuiltin("sys", folder);
    bOk = bOk && ReadFolder(pSource, NY_CSIDL_SYSTEM, &folder) && folder.ReplaceAll(L"SysWow64", L"System32") >= 0 &&
          SetBuiltin("sys64", folder);
  } else {
    bOk = ReadFolder(pSource, NY_CSIDL_PROGRAM_FILES, &folder) && SetBuiltin("pf32", folder) &&
          SetBuiltin("pf", folder) && SetBuiltin("pf64", folder);
    bOk = bOk && ReadFolder(pSource, NY_CSIDL_SYSTEM, &folder) && SetBuiltin("sys32", folder) &&
          SetBuiltin("sys", folder) && SetBuiltin("sys64", folder);
  }
  bOk = bOk && ReadFolder(pSource, NY_CSIDL_WINDOWS, &folder) && SetBuiltin("win", folder);
  bOk = bOk && ReadFolder(pSource, NY_CSIDL_APPDATA, &folder) && SetBuiltin("userappdata", folder);
  bOk = bOk && ReadFolder(pSource, NY_CSIDL_COMMON_APPDATA, &folder) && SetBuiltin("commonappdata", folder);
  if (bOk) {
    CNyString parent;
    bOk = ReadFolder(pSource, NY_CSIDL_COMMON_DESKTOPDIRECTORY, &folder) &&
          GetParentDirPath(folder, &parent) == NY_SUCCESS && SetBuiltin("usercommon", parent);
  }
  bOk = bOk && ReadFolder(pSource, NY_CSIDL_PROGRAMS, &folder) && SetBuiltin("userprograms", folder);
  bOk = bOk && ReadFolder(pSource, NY_CSIDL_COMMON_PROGRAMS, &folder) && SetBuiltin("commonprograms", folder);
  if (bOk) {
    const CNyString sourceRoot(pszSourceRoot, NY_CP_ACP);
    bOk = !sourceRoot.IsEmpty() && SetBuiltin("srcroot", sourceRoot);
    if (sourceRoot.IsEmpty()) NYLOG_RESULT(kConversionFailed);
  }
  bOk = bOk && ReadFolder(pSource, NY_CSIDL_DESKTOP, &folder) && SetBuiltin("userdesktop", folder);
  bOk = bOk && ReadFolder(pSource, NY_CSIDL_COMMON_DESKTOPDIRECTORY, &folder) && SetBuiltin("commondesktop", folder);
  if (b64Bit) pSource->SetFsRedirection(false);
  if (bOk) {
    const uint32_t u4Result = pSource->GetModulePath(&folder);
    if (u4Result != NY_SUCCESS) NYLOG_RESULT(u4Result);
    bOk = u4Result == NY_SUCCESS && SetBuiltin("srcexe", folder);
  }
  if (bOk) {
    char szLanguage[16];
    snprintf(szLanguage, sizeof(szLanguage), "%u", static_cast<unsigned>(m_u4Language));
    bOk = SetBuiltin("language", CNyString(szLanguage, NY_CP_UTF8));
  }
  return bOk;
}

uint32_t CNyXmlConfigScript::ExpandPass(const char* pszIn, size_t cchIn, char* pszOut, size_t cbOut, size_t* pcchOut,
                                        bool* pbFound, const char** ppszFirstName, size_t* pcchFirstName) const {
  const char* p = pszIn;
  const char* const pEnd = pszIn + cchIn;
  size_t o = 0;
  *pbFound = false;
  for (;;) {
    const char* pRef = FindReference(p, pEnd);
    const size_t cchText = static_cast<size_t>((pRef != nullptr ? pRef : pEnd) - p);
    // Every piece, with the final terminator, must fit.
    if (cchText + (pRef == nullptr ? 1 : 0) > cbOut - o) {
      NYLOG(LOG_LEVEL_OUTCOME, "CNyXmlConfigScript::Update()->buffer tool small");
      return NY_E_BUFFER_TOO_SMALL;
    }
    memcpy(pszOut + o, p, cchText);
    o += cchText;
    if (pRef == nullptr) {
      pszOut[o] = 0;
      *pcchOut = o;
      return NY_SUCCESS;
    }
    const char* pszName = pRef + 2;
    const char* pClose = static_cast<const char*>(memchr(pszName, ')', static_cast<size_t>(pEnd - pszName)));
    if (pClose == nullptr) {
      NYLOG(LOG_LEVEL_OUTCOME, "CNyXmlConfigScript::Update()->Invalid script");
      return NY_E_INVALID_DATA;
    }
    const size_t cchName = static_cast<size_t>(pClose - pszName);
    char szName[NY_SCRIPT_MAX_NAME];
    CopyName(pszName, cchName, szName, sizeof(szName));
    if (cchName >= NY_SCRIPT_MAX_NAME) {
      NYLOG(LOG_LEVEL_OUTCOME, "CNyXmlConfigScript::Update()->Variable name too long (%u bytes, at most %u): %s...",
            static_cast<unsigned>(cchName), static_cast<unsigned>(NY_SCRIPT_MAX_NAME - 1), szName);
      return NY_E_INVALID_DATA;
    }
    const char* pszValue = NyScriptTableLookup(m_pRawTable, pszName, cchName);
    if (pszValue == nullptr) {
      NYLOG(LOG_LEVEL_OUTCOME, "CNyXmlConfigScript::Update()->Variable not found: %s", szName);
      return NY_E_INVALID_DATA;
    }
    const size_t cchValue = strlen(pszValue);
    if (XmlEntityEncodedLength(pszValue, cchValue) > cbOut - o) {
      NYLOG(LOG_LEVEL_OUTCOME, "CNyXmlConfigScript::Update()->buffer tool small");
      return NY_E_BUFFER_TOO_SMALL;
    }
    o += EncodeInto(pszValue, cchValue, pszOut + o);
    if (!*pbFound) {
      *ppszFirstName = pszName;
      *pcchFirstName = cchName;
    }
    *pbFound = true;
    p = pClose + 1;
  }
}

uint32_t CNyXmlConfigScript::Update() {
  FreeDocument(&m_pExpandedDocument);
  if (m_pszText == nullptr || m_pSourceDocument == nullptr || m_pRawTable == nullptr || m_pResolvedTable == nullptr) {
    return NY_E_INVALID_DATA;
  }
  uint32_t u4Result = CollectVariables(m_pSourceDocument, m_pRawTable, true);
  if (u4Result != NY_SUCCESS) {
    NYLOG_RESULT(u4Result);
    return u4Result;
  }
  const size_t cbWork = 2 * static_cast<size_t>(m_u4TextSize) + 1;
  char* apszWork[2] = {new (std::nothrow) char[cbWork](), new (std::nothrow) char[cbWork]()};
  if (apszWork[0] == nullptr || apszWork[1] == nullptr) {
    delete[] apszWork[0];
    delete[] apszWork[1];
    NYLOG_RESULT(NY_E_OUTOFMEMORY);
    return NY_E_OUTOFMEMORY;
  }
  memcpy(apszWork[0], m_pszText, m_u4TextSize);
  size_t cchCurrent = m_u4TextSize;
  int nCurrent = 0;
  for (uint32_t u4Pass = 1;; ++u4Pass) {
    bool bFound = false;
    const char* pszFirstName = nullptr;
    size_t cchFirstName = 0;
    size_t cchOut = 0;
    // The room of the stated 2 x text size bytes; the extra byte of each
    // buffer only keeps the text terminated.
    u4Result = ExpandPass(apszWork[nCurrent], cchCurrent, apszWork[1 - nCurrent], cbWork - 1, &cchOut, &bFound,
                          &pszFirstName, &cchFirstName);
    if (u4Result == NY_SUCCESS && bFound && u4Pass >= NY_SCRIPT_MAX_PASSES) {
      char szName[NY_SCRIPT_MAX_NAME];
      CopyName(pszFirstName, cchFirstName, szName, sizeof(szName));
      NYLOG(LOG_LEVEL_OUTCOME,
            "CNyXmlConfigScript::Update()->Variable still refers to variables after %u passes (a loop?): %s",
            static_cast<unsigned>(NY_SCRIPT_MAX_PASSES), szName);
      u4Result = NY_E_INVALID_DATA;
    }
    if (u4Result != NY_SUCCESS) {
      delete[] apszWork[0];
      delete[] apszWork[1];
      return u4Result;
    }
    nCurrent = 1 - nCurrent;
    cchCurrent = cchOut;
    if (!bFound) break;
  }
  u4Result = NyXmlLoadFromMemory(apszWork[nCurrent], cchCurrent, &m_pExpandedDocument);
  delete[] apszWork[0];
  delete[] apszWork[1];
  int32_t nEncoding = NY_XML_ENCODING_UNKNOWN;
  if (u4Result == NY_SUCCESS) u4Result = NyXmlGetEncoding(m_pExpandedDocument, &nEncoding);
  if (u4Result == NY_SUCCESS) u4Result = CollectVariables(m_pExpandedDocument, m_pResolvedTable, true);
  if (u4Result != NY_SUCCESS) {
    NYLOG_RESULT(u4Result);
    FreeDocument(&m_pExpandedDocument);
  }
  return u4Result;
}

uint32_t CNyXmlConfigScript::SetLanguage(uint32_t u4Language) {
  m_u4Language = u4Language;
  char szLanguage[16];
  snprintf(szLanguage, sizeof(szLanguage), "%u", static_cast<unsigned>(u4Language));
  if (m_pRawTable != nullptr) WriteVariable(m_pRawTable, "language", szLanguage, true);
  if (m_pResolvedTable != nullptr) WriteVariable(m_pResolvedTable, "language", szLanguage, true);
  return Update();
}

uint32_t CNyXmlConfigScript::GetValue(const char* pszName, CNyString* pValue) const {
  if (pszName == nullptr || pValue == nullptr) return NY_E_INVALID_PARAM;
  const char* pszValue = NyScriptTableLookup(m_pResolvedTable, pszName, strlen(pszName));
  if (pszValue == nullptr) return NY_E_NOT_FOUND;
  if (!pValue->Assign(pszValue, GetCodePage())) return NY_E_INVALID_DATA;
  return NY_SUCCESS;
}

uint32_t CNyXmlConfigScript::GetUInt(const char* pszName) const {
  const char* pszValue = pszName != nullptr ? NyScriptTableLookup(m_pResolvedTable, pszName, strlen(pszName)) : nullptr;
  uint32_t u4Value = 0;
  if (pszValue == nullptr || !SafeStrToUInt(pszValue, &u4Value)) return 0;
  return u4Value;
}

bool CNyXmlConfigScript::GetBool(const char* pszName, bool bDefault) const {
  const char* pszValue = pszName != nullptr ? NyScriptTableLookup(m_pResolvedTable, pszName, strlen(pszName)) : nullptr;
  if (pszValue == nullptr) return bDefault;
  return strcmp(pszValue, "true") == 0;
}

CNyXmlConfigItem* CNyXmlConfigScript::GetItem(const char* pszElementName, const char* pszNameAttribute) const {
  if (m_pExpandedDocument == nullptr) return nullptr;
  TiXmlNode* pConfig = nullptr;
  uint32_t u4Result = NyXmlGetSingleChild(m_pExpandedDocument, "Config", &pConfig);
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
