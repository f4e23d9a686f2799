// gthfile_task.cpp - creates the container with its identification block and
// version stamp, opens an existing one, and closes it at the end of the run.
#include "gthfile_task.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "debug.h"
#include "filename.h"
#include "gthfile.h"
#include "temp_files.h"
#include "utf8.h"
#include "zelvarn2.h"
#include "zv2file.h"

namespace {

/// The container's name, made once per create or open and kept for the run.
char container_file[256];
/// The name the container is written under until it is closed; an earlier
/// container at the final name stays whole until then.
char container_temp[300];
/// Status text of the closing task when the container lacks its report.
char close_status[320];
/// This run tried to create a container and could not.
bool create_failed = false;

const wchar_t ID_LETTERS[] = L"CVMSUTLK";

void make_container_name() {
  gatherer_generate_filename(gatherer_filename(FILENAME_TEMPLATE, SETTING_GET),
                             gatherer_filename(FILENAME_EXTENSION, SETTING_GET), container_file,
                             sizeof container_file);
}

/// Only a regular file at the container's name is ever touched: a link, a
/// directory or a device planted there makes the task fail instead.
bool name_is_regular_or_absent(const char* name, bool& exists) {
  struct stat st;
  exists = lstat(name, &st) == 0;
  if (!exists) return errno == ENOENT;
  if (S_ISREG(st.st_mode)) return true;
  errno = S_ISDIR(st.st_mode) ? EISDIR : EEXIST;
  return false;
}

}  // namespace

char* make_id_block() {
  std::string text;
  for (const wchar_t* letter = ID_LETTERS; *letter; ++letter) {
    wchar_t* value = gatherer_expand_filename_macro(*letter);
    // One line per letter whatever a value holds: no line breaks inside.
    for (wchar_t* v = value; *v; ++v)
      if ((*v >= 0 && *v < 32) || *v == 127) *v = L' ';
    const char* utf8 = wide_to_utf8(value);
    text += static_cast<char>(*letter);
    text += utf8 ? utf8 : "";
    text += '\n';
    delete[] utf8;
    delete[] value;
  }
  char* out = new char[text.size() + 1];
  memcpy(out, text.c_str(), text.size() + 1);
  return out;
}

gthfile_task::gthfile_task(const char* task_name, int task_order) : task(task_name, task_order) {}

const char* gthfile_task::container_name() { return container_file; }

bool gthfile_task::test() {
  const char* tmpl = gatherer_filename(FILENAME_TEMPLATE, SETTING_GET);
  bool container = gatherer_setting(SETTING_CONTAINER, SETTING_GET) != 0;
  switch (order) {
    case 9: return tmpl && container;
    // Not after a failed create: appending in place to the container of an
    // earlier run would damage it when the disk is full.
    case 10: return tmpl && container && !gather_file_is_open() && !create_failed;
    case 26: return gather_file_is_open();
    default: return false;
  }
}

bool gthfile_task::run(FILE*) {
  switch (order) {
    case 9: return create_container();
    case 10: return open_container();
    case 26: return close_container();
    default: return false;
  }
}

void gthfile_task::add_id_block(GatherFile*) {
  char stem[32];
  snprintf(stem, sizeof stem, "zvid%x", static_cast<unsigned>(getpid()));
  char name[64] = "";
  FILE* f = create_temporary(name, sizeof name, stem, ".txt", "wb");
  if (!f) {
    print_error(name[0] ? name : stem, errno);
    remove_temporaries();
    internal_error("Cannot write temporary file %s. Disk full?\n", name[0] ? name : stem);
  }
  char* block = make_id_block();
  fputs(block, f);
  delete[] block;
  bool written = fflush(f) == 0 && !ferror(f);
  if (fclose(f) != 0 || !written) {
    print_error(name, errno);
    remove_temporaries();
    internal_error("Cannot write temporary file %s. Disk full?\n", name);
  }
  if (!store_file(name, 1, false)) mark_container_incomplete();
  remove_temporary(name);
}

bool gthfile_task::create_container() {
  make_container_name();
  bool exists = false;
  // A container of an earlier run under this name is replaced when this one
  // is complete; nothing else is ever replaced.
  if (!name_is_regular_or_absent(container_file, exists)) {
    int error = errno;
    print_error(container_file, error);
    gatherer_setting(SETTING_RESULT, SETTING_SET, 1);
    fail_text = strerror(error);
    return false;
  }
  snprintf(container_temp, sizeof container_temp, "%s.%x.tmp", container_file,
           static_cast<unsigned>(getpid()));
  GatherFile* file = gather_file();
  // Until it is closed the container is a temporary: a fatal error or a
  // signal removes it.
  temp_files_hold_signals hold;
  int rc = file->CreateFile(container_temp);
  if (rc != 0) {
    create_failed = true;
    printd("gthfile_task: CreateFile %s, rc = %d\n", container_temp, rc);
    gatherer_setting(SETTING_RESULT, SETTING_SET, 1);
    fail_text = "Cannot create file";
    container_temp[0] = '\0';
    return false;
  }
  temp_files_add(container_temp, -1);
  set_gather_file_open(true);
  add_id_block(file);
  rc = file->AddStampInfo(GTH_VERSION);
  if (rc != 0) {
    mark_container_incomplete();
    fail_text = "Cannot add version stamp";
  }
  return rc == 0;
}

bool gthfile_task::open_container() {
  make_container_name();
  bool exists = false;
  if (!name_is_regular_or_absent(container_file, exists) || !exists) {
    fail_text = exists ? strerror(errno) : "Not found";
    return false;
  }
  int rc = gather_file()->ReadFile(container_file);
  if (rc == 0) set_gather_file_open(true);
  return rc == 0;
}

bool gthfile_task::close_container() {
  GatherFile* file = gather_file();
  bool written = file->CloseFile() == GTH_OK;
  delete GatherFile::instance;
  GatherFile::instance = nullptr;
  set_gather_file_open(false);
  if (!container_temp[0]) {
    ok_text = container_file;
    return true;
  }
  temp_files_hold_signals hold;
  if (!written || container_is_incomplete()) {
    // An incomplete container never takes the final name: a complete one of
    // an earlier run there stays as it was. This one is kept under its
    // temporary name for whoever wants to look at it.
    printd("gthfile_task: container incomplete (closed %s)\n", written ? "whole" : "with an error");
    temp_files_forget(container_temp);
    gatherer_setting(SETTING_RESULT, SETTING_SET, 1);
    snprintf(close_status, sizeof close_status, "Incomplete, kept as %s", container_temp);
    container_temp[0] = '\0';
    fail_text = close_status;
    return false;
  }
  bool exists = false;
  if (!name_is_regular_or_absent(container_file, exists) || rename(container_temp, container_file) != 0) {
    int error = errno;
    print_error(container_file, error);
    temp_files_forget(container_temp);
    gatherer_setting(SETTING_RESULT, SETTING_SET, 1);
    snprintf(close_status, sizeof close_status, "%s, kept as %s", strerror(error), container_temp);
    container_temp[0] = '\0';
    fail_text = close_status;
    return false;
  }
  temp_files_forget(container_temp);
  container_temp[0] = '\0';
  ok_text = container_file;
  return true;
}
