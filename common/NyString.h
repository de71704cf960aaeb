#pragma once
// Code-page conversions. Only the system ANSI code page (0), GB18030
// (54936), Big5 (950) and UTF-8 (65001) are accepted.
#include <cstddef>
#include <cstdint>
#include <string>

// Converts a non-empty wide text, terminator included. With pDest null only
// the needed size (in bytes) is stored; with too little room returns
// 0xE0600005 and the needed size; any other failure gives 0xE0600003.
uint32_t WideToCodePage(const wchar_t* pwszText, uint32_t u4CodePage, char* pszDest, size_t* pcbDest);
// The reverse; sizes count wide characters.
uint32_t CodePageToWide(const char* pszText, uint32_t u4CodePage, wchar_t* pwszDest, size_t* pcchDest);

// ---------------------------------------------------------------------------
// CNyString: the one text type that crosses the program's layers.
//
// It holds the text in three forms, all computed from the wide form:
//   - the ANSI form, in the system ANSI code page (CP_ACP): for log lines;
//   - the wide form (UTF-16 on Windows; the host's wchar_t elsewhere): for
//     every system call;
//   - the code-page form, in the string's own code page (65001 unless set).
// An empty string has all three forms empty and code page 65001.
//
// Rules:
//   - Clear empties all three forms and sets the code page back to 65001.
//   - Assign clears first (so the code page goes back to 65001) and then
//     appends. Assigning a null or empty text leaves the string empty.
//   - Append converts the narrow text from its source code page to wide,
//     extends the wide form and recomputes the ANSI and code-page forms from
//     the whole wide form. Appending a null or empty text changes nothing.
//   - SetCodePage recomputes only the code-page form.
//   - Any conversion failure leaves the string empty (and returns false).
//
// The conversions go through NyMultiByteToWide / NyWideToMultiByte below:
// on Windows MultiByteToWideChar / WideCharToMultiByte with any code page the
// system knows; the host build (unit tests and fuzzing) knows only UTF-8 and
// takes code page 0 as UTF-8 too.
// ---------------------------------------------------------------------------
constexpr uint32_t NY_CP_ACP = 0;
constexpr uint32_t NY_CP_UTF8 = 65001;
constexpr uint32_t NY_CP_GBK = 936;

class CNyString {
 public:
  CNyString();
  // A narrow text in the given source code page.
  CNyString(const char* pszText, uint32_t u4SrcCodePage);
  explicit CNyString(const wchar_t* pwszText);
  CNyString(const CNyString& other);
  CNyString(CNyString&& other) noexcept;
  CNyString& operator=(const CNyString& other);
  CNyString& operator=(CNyString&& other) noexcept;
  ~CNyString() = default;

  void Clear();
  bool Assign(const char* pszText, uint32_t u4SrcCodePage);
  bool Assign(const wchar_t* pwszText);
  bool Append(const char* pszText, uint32_t u4SrcCodePage);
  bool Append(const wchar_t* pwszText);
  // Changes the string's own code page; recomputes only the code-page form.
  bool SetCodePage(uint32_t u4CodePage);
  // Copies all forms and the code page of another string.
  bool Copy(const CNyString& other);
  // Replaces every occurrence of pwszFind (non-empty) by pwszWith, left to
  // right, case-sensitive; the replacement is not scanned again. Returns the
  // number of replacements, or -1 when a conversion failed (string empty).
  int ReplaceAll(const wchar_t* pwszFind, const wchar_t* pwszWith);

  bool IsEmpty() const { return m_wide.empty(); }
  // The forms; never null ("" for an empty string).
  const char* GetAnsi() const { return m_ansi.c_str(); }
  const wchar_t* GetWide() const { return m_wide.c_str(); }
  const char* GetText() const { return m_text.c_str(); }
  uint32_t GetCodePage() const { return m_u4CodePage; }
  // Lengths in characters of each form's own width, terminator excluded.
  size_t GetAnsiLength() const { return m_ansi.size(); }
  size_t GetWideLength() const { return m_wide.size(); }
  size_t GetTextLength() const { return m_text.size(); }
  // The forms, or null for an empty string.
  const char* AnsiPtr() const { return IsEmpty() ? nullptr : GetAnsi(); }
  const wchar_t* WidePtr() const { return IsEmpty() ? nullptr : GetWide(); }
  const char* TextPtr() const { return IsEmpty() ? nullptr : GetText(); }

 private:
  // Makes wide the wide form and recomputes the narrow forms; clears on
  // failure.
  bool TakeWide(std::wstring&& wide);

  std::string m_ansi;               // ANSI form
  std::wstring m_wide;              // wide form
  std::string m_text;               // code-page form
  uint32_t m_u4CodePage = NY_CP_UTF8;  // code page of m_text
};

// Raw conversion primitives used by CNyString, for cb (cch) characters of
// the input, which must not be empty. False, with *pOut left empty, when the
// conversion fails or runs out of memory.
bool NyMultiByteToWide(uint32_t u4CodePage, const char* psz, size_t cb, std::wstring* pOut);
bool NyWideToMultiByte(uint32_t u4CodePage, const wchar_t* pwsz, size_t cch, std::string* pOut);
