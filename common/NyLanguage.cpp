#include "NyLanguage.h"

uint32_t NyLanguageCodeFromLangId(uint16_t u2LangId) {
  const uint32_t u4Primary = u2LangId & 0x3FF;
  const uint32_t u4Sub = static_cast<uint32_t>(u2LangId) >> 10;
  switch (u4Primary) {
    case 4:  // Chinese
      if (u4Sub == 2) return NY_LANG_ZH_CN;
      if (u4Sub == 1 || u4Sub == 3 || u4Sub == 4 || u4Sub == 5) return NY_LANG_ZH_TW;
      return NY_LANG_EN_US;
    case 1:  // Arabic
      return 8;
    case 7:  // German
      return 7;
    case 12:  // French
      return 3;
    case 17:  // Japanese
      return 5;
    case 18:  // Korean
      return 9;
    case 25:  // Russian
      return 4;
    case 33:  // Indonesian
      return 6;
    case 63:  // Kazakh
      return 10;
    default:
      return NY_LANG_EN_US;
  }
}

const char* NyLanguageName(uint32_t u4LanguageCode) {
  if (u4LanguageCode == NY_LANG_ZH_CN) return "zh_cn";
  if (u4LanguageCode == NY_LANG_ZH_TW) return "zh_tw";
  return "en_us";
}

#if !defined(_WIN32)
uint32_t GetSystemLanguageCode() { return NY_LANG_EN_US; }
#endif
