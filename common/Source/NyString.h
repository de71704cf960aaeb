#pragma once
// Code-page conversions. Only the system ANSI code page (0), GB18030
// (54936), Big5 (950) and UTF-8 (65001) are accepted.
#include <cstddef>
#include <cstdint>

// Converts a non-empty wide text, terminator included. With pDest null only
// the needed size (in bytes) is stored; with too little room returns
// 0xE0600005 and the needed size; any other failure gives 0xE0600003.
uint32_t WideToCodePage(const wchar_t* pwszText, uint32_t u4CodePage, char* pszDest, size_t* pcbDest);
// The reverse; sizes count wide characters.
uint32_t CodePageToWide(const char* pszText, uint32_t u4CodePage, wchar_t* pwszDest, size_t* pcchDest);
