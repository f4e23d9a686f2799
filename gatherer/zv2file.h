// zv2file.h - handing files to the container: collected files wrapped in a
// "Filename:"/"MIME-Type:" header, plain items, and the run's temporary files.
#pragma once

#include <cstdio>

class GatherFile;

/// The program-wide container object, made on first use (never null).
GatherFile* gather_file();
/// Whether a container was created or opened and not yet closed.
bool gather_file_is_open();
/// Recorded by the container tasks when they open and close the container.
void set_gather_file_open(bool open);

/// Marks the container as lacking a report that should be in it; the closing
/// task then reports the container as incomplete.
void mark_container_incomplete();
bool container_is_incomplete();

/// Adds the file as an item of `type`. False, touching nothing, when
/// container mode (setting 7) is off; otherwise true only when the add
/// succeeded.
bool store_file(const char* path, int type, bool compress);

/// Writes "Filename: %s\n" and "MIME-Type: %s\n\n" in UTF-8. Control
/// characters in either value are written as blanks, so a value can never
/// add a header line of its own.
void write_file_header(FILE* out, const char* filename, const char* mime);

/// Creates a temporary file "zelv<kind><pid>.tmp" (hexadecimal) in the current
/// directory for binary writing, its name in `name` (`size` bytes). The file
/// is made afresh: when the name is taken (also by a link) another name of
/// the same stem is chosen. The name is remembered until forget_temporary,
/// so remove_temporaries can clean up. Null (after logging) on failure.
FILE* open_temp_file(char* name, int size, int kind);

/// Creates a new file named `stem` + `ext` in the current directory, or
/// `stem` + "-<n>" + `ext` when that is taken, never through a link or over an
/// existing file, and remembers it as a temporary. The chosen name goes to
/// `name` (`size` bytes). Null with errno set on failure.
FILE* create_temporary(char* name, int size, const char* stem, const char* ext, const char* mode);
/// Removes a temporary made by create_temporary and forgets it. Returns the
/// result of remove(3).
int remove_temporary(const char* name);
/// Forgets a temporary without removing it (it has been renamed).
void forget_temporary(const char* name);
/// Removes every temporary still remembered; called before a fatal stop.
void remove_temporaries();

/// Wrap and add a file as a collected-file item (type 66). True on success.
/// ascii: bytes outside printable ASCII, tab, LF and CR become "?".
bool store_ascii_file(const char* path, const char* mime);
/// text: the locale's multibyte text converted to UTF-8.
bool store_text_file(const char* path, const char* mime);
/// binary: the bytes unchanged.
bool store_binary_file(const char* path, const char* mime);
/// The output of a shell command, converted as text; `name` is the file name
/// shown in the header.
bool run_command_and_store_file(const char* name, const char* command, const char* mime);
