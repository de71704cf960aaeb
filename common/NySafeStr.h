#pragma once
// Bounded string and memory routines. They never write past the stated
// capacity, always leave a terminated string, and report every truncation or
// bad argument to the log at level 3 before returning.
//
// Capacities count characters of the string's own width and include the
// terminator. Wide strings are wchar_t: UTF-16 on Windows; the host build
// uses its own wchar_t so the same logic can be unit-tested there.
#include <cstdarg>
#include <cstddef>
#include <cstdint>

bool NyStrCopy(char* pszDest, size_t cchDest, const char* pszSrc);
bool NyWcsCopy(wchar_t* pwszDest, size_t cchDest, const wchar_t* pwszSrc);
bool NyStrCat(char* pszDest, size_t cchDest, const char* pszSrc);
bool NyWcsCat(wchar_t* pwszDest, size_t cchDest, const wchar_t* pwszSrc);
bool NyStrVPrintf(char* pszDest, size_t cchDest, const char* pszFormat, va_list* pArgList);
bool NyWcsVPrintf(wchar_t* pwszDest, size_t cchDest, const wchar_t* pwszFormat, va_list* pArgList);
bool NyStrPrintf(char* pszDest, size_t cchDest, const char* pszFormat, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 3, 4)))
#endif
    ;
// On Windows "%s" in a wide format takes a wide string (the platform's rule).
bool NyWcsPrintf(wchar_t* pwszDest, size_t cchDest, const wchar_t* pwszFormat, ...);

size_t SafeStrLen(const char* psz);
size_t SafeWcsLen(const wchar_t* pwsz);
int SafeStrCmp(const char* psz1, const char* psz2);
// Ignore the case of the letters A-Z only.
int SafeStrICmp(const char* psz1, const char* psz2);
int SafeWcsICmp(const wchar_t* pwsz1, const wchar_t* pwsz2);

// Reads an unsigned decimal the way "%u" does: leading white space, an
// optional sign (a negative number wraps), digits; overflow saturates.
// False when there are no digits.
bool SafeStrToUInt(const char* psz, uint32_t* pu4Value);

// Copies cbSrc bytes out to pvDest. With pvDest null only the needed size is
// stored. With too little room (*pcbDest) returns 0xE0600005 and the needed size.
uint32_t CopyOut(const void* pvSrc, size_t cbSrc, void* pvDest, size_t* pcbDest);

uint32_t NyMemCpy(void* pvDest, size_t cbDest, const void* pvSrc, size_t cbCount);
bool NyMemMove(void* pvDest, size_t cbDest, const void* pvSrc, size_t cbCount);
