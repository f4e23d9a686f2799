// util_glob.h - wildcard matching of names against patterns ("*" and "?").
#pragma once

#include <cwchar>

/// True when the whole text matches the whole pattern: "*" matches any run of
/// characters (also none), "?" any one character, every other character
/// itself without regard to case. False when either is null.
bool compare_glob_wide(const wchar_t* text, const wchar_t* pattern);

/// compare_glob_wide on the texts converted to wide characters.
bool compare_glob(const char* text, const char* pattern);
