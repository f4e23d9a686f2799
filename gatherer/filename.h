// filename.h - output file names made from a template of "@" macros: machine
// vendor, model, serial number, host, user, time and the like.
#pragma once

#include <cwchar>

/// The value of one macro letter (C H D K L M O S T U V, case-sensitive) as a
/// new wide string; the caller frees it with delete[]. An unknown letter, or
/// a fact that cannot be found, gives the empty string (never null).
wchar_t* gatherer_expand_filename_macro(wchar_t letter);

/// Expands `tmpl` and appends `suffix` into `out` (`size` bytes, always
/// terminated when size > 0). Expanded values other than "@D" have control
/// characters and the characters " * / < > ? \ | replaced by blanks. When the
/// whole does not fit, the name is cut at a character boundary so that the
/// suffix stays complete.
void gatherer_generate_filename(const char* tmpl, const char* suffix, char* out, int size);

/// Cuts s after its last complete multibyte character (in the current
/// locale), so a text cut to a buffer size never ends in half a character.
void drop_partial_character(char* s);

/// True for a character that the name cleaning replaces by a blank.
bool filename_char_is_unsafe(wchar_t c);
