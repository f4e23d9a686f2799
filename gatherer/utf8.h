// utf8.h - conversions between the locale's multibyte encoding, wide strings
// and UTF-8, the sanitising and name-making filters, and the two additive
// checksums of the checksummed XML report.
//
// Every function that returns a new string returns a heap array owned by the
// caller, to be freed with delete[].
#pragma once

#include <cwchar>

wchar_t* mbcs_to_wide(const char* in);
char* wide_to_mbcs(const wchar_t* in);
const char* wide_to_utf8(const wchar_t* in);
unsigned char* wide_to_utf8(const wchar_t* in, unsigned char* out, unsigned int size);
wchar_t* utf8_to_wide(const unsigned char* in);
wchar_t* utf8_to_wide(const unsigned char* in, wchar_t* out, unsigned int size);

char* sanitised_ascii(const char* in);
wchar_t* wide_sanitised_ascii(const wchar_t* in);
char* make_Teldrin_name(const char* in);
void filter_alphanumeric(char* s, char replacement);
wchar_t* filter_filename(wchar_t* s, wchar_t replacement);
void convert_to_uppercase(char* s);

/// True when the locale's codeset is plain ASCII (the C and POSIX locales,
/// which cron, service units and "env -i" runs get). Text is then read and
/// written as UTF-8: valid UTF-8 stays what it is instead of becoming U+FFFD.
bool codeset_is_ascii();

/// A cell value for the text and HTML reports: the locale text as wide text
/// with every control character (C0, DEL, C1) shown as "?", so a value can
/// neither break the layout nor reach a terminal as an escape sequence (new
/// array, caller frees with delete[]; empty text for null).
wchar_t* displayable_wide(const char* text);

unsigned short string_checksum(const char* s);
unsigned short wide_string_checksum(const wchar_t* s);
