#pragma once
// Language codes of the setup script.
//   0 Chinese simplified, 1 English and every language not listed,
//   2 Chinese traditional, 3 French, 4 Russian, 5 Japanese, 6 Indonesian,
//   7 German, 8 Arabic, 9 Korean, 10 Kazakh.
#include <cstdint>

constexpr uint32_t NY_LANG_ZH_CN = 0;
constexpr uint32_t NY_LANG_EN_US = 1;
constexpr uint32_t NY_LANG_ZH_TW = 2;

// The language code of a Windows language id: the primary language is the
// low 10 bits, the sub-language the bits above. Chinese (4) gives 0 for
// sub-language 2, 2 for sub-languages 1, 3, 4 and 5, and 1 otherwise.
uint32_t NyLanguageCodeFromLangId(uint16_t u2LangId);

// The name of the language children that the script uses for a language
// code: "zh_cn" for 0, "zh_tw" for 2, "en_us" for every other code.
const char* NyLanguageName(uint32_t u4LanguageCode);

// The system's language code (GetSystemDefaultLangID on Windows, declared
// here, defined with the system routines in NySystem_Win.cpp). The host
// build has no system language and answers 1 (English).
uint32_t GetSystemLanguageCode();
