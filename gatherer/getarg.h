// getarg.h - the command line and the properties file: option words, the
// shared word vocabulary, probe lists and task parameters.
#pragma once

#include <cwchar>

#include <string>

/// Remembers the command line's words as the bytes they were given in, so a
/// file name among them reaches the file system exactly (whatever the locale
/// makes of it); `wargv` are their wide forms, used for everything else.
void gatherer_keep_argument_bytes(int argc, char** argv, wchar_t** wargv);
/// The bytes of a word of the command line (or of the tail of one, after an
/// ASCII prefix such as "-filename") given by its wide form; any other text
/// is converted to the locale's multibyte form. A new array (delete[]); null
/// only when a text that is not a word cannot be converted.
char* gatherer_argument_bytes(const wchar_t* text);
/// `text` for the console: control characters (and undecodable bytes) are
/// shown as "?", so no terminal control sequence passes through.
std::string console_text(const char* text);
std::string console_text(const wchar_t* text);

/// Walks the words from the second one on and applies each.
void gatherer_parse_command_line(int argc, wchar_t** wargv);

/// Applies one word of the shared vocabulary (without its leading "-");
/// value may be null.
void gatherer_parse_common(const wchar_t* word, const wchar_t* value);

/// Installs text, split at ";", as probe list index (0 selection, 1 skip,
/// 2 enable). A null text or one without any name installs nothing.
void set_probe_list(int index, const wchar_t* text);
/// The same from the words after wargv[i] up to the next word beginning with
/// "-"; leaves i at the last word consumed.
void set_probe_list(int index, int argc, wchar_t** wargv, int& i);

/// "-install" and "-uninstall": an optional driver reference follows.
void install_driver(int argc, wchar_t** wargv, int& i);
void remove_driver(int argc, wchar_t** wargv, int& i);

/// Reads a properties file of name=value lines (see gatherer_parse_property).
void gatherer_parse_properties(const wchar_t* path);
/// Applies one property: "task.key" sets a task parameter, probe/probes,
/// skip and enable install probe lists, anything else is a shared word.
/// name may be changed in place.
void gatherer_parse_property(wchar_t* name, wchar_t* value);
/// Reads "zelvarn2.zvp" beside the program, when there is one.
void gatherer_parse_default_properties();
