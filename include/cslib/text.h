// String and character primitives in three forms: plain (CS), international (CSi,
// the same 8-bit strings through the same routines) and wide (CSw, the host's
// wchar_t), plus the conversions between plain and international strings. Case
// mapping and classification follow the C locale whatever locale the host program
// sets: only ASCII letters change case, only ASCII letters and digits count.
#ifndef CSLIB_TEXT_H
#define CSLIB_TEXT_H

#include <wchar.h>

#include "cslib/export.h"

CSLIB_C_BEGIN

// Decimal text of value, a minus sign first when negative; buffer needs room for 12
// characters. Returns buffer, or null when the text cannot be written there.
CSLIB_API char* CSInttotext(int value, char* buffer);
CSLIB_API char* CSiInttotext(int value, char* buffer);
CSLIB_API wchar_t* CSwInttotext(int value, wchar_t* buffer);

// Skips leading white space, takes an optional sign and the digits that follow; no
// overflow detection (the value wraps). 0 for a null or unreadable text.
CSLIB_API int CSTexttoint(const char* text);
CSLIB_API int CSiTexttoint(const char* text);
CSLIB_API int CSwTexttoint(const wchar_t* text);

// Formats in the Windows wsprintf language (no floating point). Writes at most 1023
// characters and a terminator; returns the number of characters written, terminator
// not counted. A null buffer or format: 0, nothing written. The buffer is unchecked.
CSLIB_API int CSSprintf(char* buffer, const char* format, ...);
CSLIB_API int CSiSprintf(char* buffer, const char* format, ...);
CSLIB_API int CSwSprintf(wchar_t* buffer, const wchar_t* format, ...);

// 8-bit character arguments count by their low 8 bits as a signed char: a character
// above 0x7F comes back negative (0xE9 gives -23) and is never a letter or digit.
CSLIB_API int CSToupper(int c);
CSLIB_API int CSiToupper(int c);
CSLIB_API int CSwToupper(wchar_t c);
CSLIB_API int CSTolower(int c);
CSLIB_API int CSiTolower(int c);
CSLIB_API int CSwTolower(wchar_t c);
CSLIB_API int CSIslower(int c);
CSLIB_API int CSiIslower(int c);
CSLIB_API int CSwIslower(wchar_t c);
CSLIB_API int CSIsupper(int c);
CSLIB_API int CSiIsupper(int c);
CSLIB_API int CSwIsupper(wchar_t c);
CSLIB_API int CSIsalpha(int c);
CSLIB_API int CSiIsalpha(int c);
CSLIB_API int CSwIsalpha(wchar_t c);
CSLIB_API int CSIsalnum(int c);
CSLIB_API int CSiIsalnum(int c);
CSLIB_API int CSwIsalnum(wchar_t c);

// strtok; the position to continue from is kept per thread. Null when no token is
// left, or when no text was ever given on this thread.
CSLIB_API char* CSStrtok(char* text, const char* delimiters);
CSLIB_API char* CSiStrtok(char* text, const char* delimiters);
CSLIB_API wchar_t* CSwStrtok(wchar_t* text, const wchar_t* delimiters);

// Searches; null when not found or when a pointer is null.
CSLIB_API char* CSStrchr(const char* text, int c);
CSLIB_API char* CSiStrchr(const char* text, int c);
CSLIB_API wchar_t* CSwStrchr(const wchar_t* text, wchar_t c);
CSLIB_API char* CSStrrchr(const char* text, int c);
CSLIB_API char* CSiStrrchr(const char* text, int c);
CSLIB_API wchar_t* CSwStrrchr(const wchar_t* text, wchar_t c);
CSLIB_API char* CSStrstr(const char* text, const char* pattern);
CSLIB_API char* CSiStrstr(const char* text, const char* pattern);
CSLIB_API wchar_t* CSwStrstr(const wchar_t* text, const wchar_t* pattern);

// Length in characters; 0 for a null text or one that runs into unreadable memory.
CSLIB_API int CSStrlen(const char* text);
CSLIB_API int CSiStrlen(const char* text);
CSLIB_API int CSwStrlen(const wchar_t* text);

// strncpy (pads with zeros, does not terminate a cut text); null for a null pointer.
CSLIB_API char* CSStrncpy(char* dest, const char* src, unsigned int count);
CSLIB_API char* CSiStrncpy(char* dest, const char* src, unsigned int count);
CSLIB_API wchar_t* CSwStrncpy(wchar_t* dest, const wchar_t* src, unsigned int count);

// Copy and append: the destination, or null (nothing written) when the source cannot
// be read or the destination cannot take the text and its terminator.
CSLIB_API char* CSStrcpy(char* dest, const char* src);
CSLIB_API char* CSiStrcpy(char* dest, const char* src);
CSLIB_API wchar_t* CSwStrcpy(wchar_t* dest, const wchar_t* src);
CSLIB_API char* CSStrcat(char* dest, const char* src);
CSLIB_API char* CSiStrcat(char* dest, const char* src);
CSLIB_API wchar_t* CSwStrcat(wchar_t* dest, const wchar_t* src);

// Comparisons. CSStrcmp and CSiStrcmp compare unsigned bytes and return exactly -1,
// 0 or 1; the others return negative, 0 or positive. The case-insensitive forms fold
// ASCII letters only. A null text compares as the empty text.
CSLIB_API int CSStrcmp(const char* a, const char* b);
CSLIB_API int CSiStrcmp(const char* a, const char* b);
CSLIB_API int CSwStrcmp(const wchar_t* a, const wchar_t* b);
CSLIB_API int CSStrncmp(const char* a, const char* b, unsigned int count);
CSLIB_API int CSiStrncmp(const char* a, const char* b, unsigned int count);
CSLIB_API int CSwStrncmp(const wchar_t* a, const wchar_t* b, unsigned int count);
CSLIB_API int CSStrcmpi(const char* a, const char* b);
CSLIB_API int CSiStrcmpi(const char* a, const char* b);
CSLIB_API int CSwStrcmpi(const wchar_t* a, const wchar_t* b);
CSLIB_API int CSStrncmpi(const char* a, const char* b, unsigned int count);
CSLIB_API int CSiStrncmpi(const char* a, const char* b, unsigned int count);
CSLIB_API int CSwStrncmpi(const wchar_t* a, const wchar_t* b, unsigned int count);

// Plain to international: copies src and its terminator; nonzero, nothing copied,
// when src cannot be read or dest cannot take it. 0 on success.
CSLIB_API int CSChar2iChar(char* dest, const char* src);
// Copies at most max characters of src and always a terminator after them; nonzero,
// nothing copied, when src cannot be read or dest cannot take them. 0 on success.
CSLIB_API int CSChar2iCharL(char* dest, const char* src, unsigned int max);
// International to plain: CSStrcpy.
CSLIB_API char* CSiChar2Char(char* dest, const char* src);

CSLIB_C_END

#endif  // CSLIB_TEXT_H
