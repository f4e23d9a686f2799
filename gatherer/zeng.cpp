// zeng.cpp - import tasks: files named on the command line go into the
// container (or, for a checksummed report, into the report) at order 19.
#include "zeng.h"

#include <strings.h>

#include <cerrno>
#include <cstring>
#include <cwchar>

#include "debug.h"
#include "getarg.h"
#include "mask.h"
#include "safe_file.h"
#include "utf8.h"
#include "xml.h"
#include "zelvarn2.h"
#include "zv2file.h"

namespace {

struct import_option {
  const wchar_t* word;
  generic_file_type type;
  const char* mime;
};

const import_option import_options[] = {
    {L"-dgmlfile", GENERIC_DGML, nullptr},
    {L"-zvmlfile", GENERIC_ZVML, nullptr},
    {L"-asciifile", GENERIC_ASCII, "text/plain"},
    {L"-textfile", GENERIC_TEXT, "text/plain"},
    {L"-binaryfile", GENERIC_BINARY, "application/octet-stream"},
    {L"-xmlfile", GENERIC_BINARY, "text/xml"},
};

struct special_mime {
  const char* mime;
  generic_file_type type;
};

const special_mime special_mimes[] = {
    {"halvex/zelvarn2", GENERIC_ZELVARN},
    {"halvex/sysevent", GENERIC_SYSEVENT},
    {"halvex/appevent", GENERIC_APPEVENT},
    {"halvex/secevent", GENERIC_SECEVENT},
};

/// MIME types given on the command line; kept for the run (the tasks borrow them).
char* copy_text(const char* s) {
  char* p = new char[strlen(s) + 1];
  strcpy(p, s);
  return p;
}

char* narrow_or_empty(const wchar_t* w) {
  char* n = w ? wide_to_mbcs(w) : nullptr;
  return n ? n : copy_text("");
}

}  // namespace

zeng_task::zeng_task(char* display_name)
    : task(display_name, 19),
      owned_name(display_name),
      filename(nullptr),
      mime_type(nullptr),
      file_type(GENERIC_BINARY) {}

zeng_task::~zeng_task() {
  delete[] filename;
  name = nullptr;
  delete[] owned_name;
}

void zeng_task::set_filename(const wchar_t* name_text) {
  delete[] filename;
  // The name as given on the command line, byte for byte.
  filename = name_text ? gatherer_argument_bytes(name_text) : nullptr;
  if (!filename) filename = copy_text("");
}

void zeng_task::set_mime_type(const char* mime) { mime_type = mime; }

void zeng_task::set_file_type(generic_file_type type) { file_type = type; }

bool zeng_task::test() {
  // A report import needs the report, not the container.
  if (file_type == GENERIC_ZVML) return output_file != nullptr;
  // Without a container the task still runs, to say the file has nowhere to go.
  return gather_file_is_open() || !gatherer_setting(SETTING_CONTAINER, SETTING_GET);
}

bool zeng_task::run(FILE* report) {
  printd("zeng: running zeng task:\nzeng:\tfilename %s\nzeng:\tmime_type %s\nzeng:\tfile_type %d\n",
         filename ? filename : "", mime_type ? mime_type : "(null)", static_cast<int>(file_type));
  if (!filename) return false;
  if (file_type != GENERIC_ZVML && !gatherer_setting(SETTING_CONTAINER, SETTING_GET)) {
    fail_text = "Not imported: no container in this mode";
    gatherer_setting(SETTING_RESULT, SETTING_SET, 1);
    return false;
  }
  // The source is checked first so that the console says why it failed.
  FILE* probe = open_regular_file(filename, "rb");
  if (!probe) return import_failed(errno);
  fclose(probe);
  // Reports and event logs go in as they are, with their own checksums: the
  // free-text scanner cannot clean them, so "-mask" leaves them out.
  if (mask_enabled() && file_type != GENERIC_ASCII && file_type != GENERIC_TEXT && file_type != GENERIC_BINARY) {
    gatherer_setting(SETTING_RESULT, SETTING_SET, 1);
    fail_text = "Left out: cannot be masked";
    return false;
  }
  errno = 0;
  bool ok = store_import(report);
  if (ok) return true;
  // A refused report import has said why; anything else gives the system's reason.
  if (file_type == GENERIC_ZVML && xml_import_refusal()[0]) {
    gatherer_setting(SETTING_RESULT, SETTING_SET, 1);
    return false;
  }
  return import_failed(errno ? errno : EIO);
}

bool zeng_task::import_failed(int error) {
  gatherer_setting(SETTING_RESULT, SETTING_SET, 1);
  if (error == ENOENT) {
    fail_text = "Not found";
  } else if (error == EINVAL) {
    fail_text = "Not a regular file";
  } else {
    snprintf(fail_buffer, sizeof fail_buffer, "%s", strerror(error));
    fail_text = fail_buffer;
  }
  return false;
}

bool zeng_task::store_import(FILE* report) {
  switch (file_type) {
    case GENERIC_ASCII: return store_ascii_file(filename, mime_type);
    case GENERIC_TEXT: return store_text_file(filename, mime_type);
    case GENERIC_BINARY: return store_binary_file(filename, mime_type);
    case GENERIC_DGML: return store_file(filename, 18, true);
    case GENERIC_ZVML: {
      bool imported = log_zvml_file(report, filename);
      if (!imported && xml_import_refusal()[0]) fail_text = xml_import_refusal();
      return imported;
    }
    case GENERIC_ZELVARN: return store_file(filename, 15, true);
    case GENERIC_SYSEVENT: return store_file(filename, 13, true);
    case GENERIC_APPEVENT: return store_file(filename, 14, true);
    case GENERIC_SECEVENT: return store_file(filename, 20, true);
  }
  return false;
}

int zeng_task::create_zeng_task(int argc, const wchar_t** argv, int* index) {
  if (!argv || !index || *index < 0 || *index >= argc || !argv[*index]) return 0;
  const wchar_t* option = argv[*index];
  const import_option* chosen = nullptr;
  for (const import_option& o : import_options)
    if (wcscasecmp(option, o.word) == 0) chosen = &o;
  if (!chosen) return 0;
  generic_file_type type = chosen->type;
  const char* mime = chosen->mime;

  const wchar_t* file = nullptr;
  if (*index + 1 < argc && argv[*index + 1]) file = argv[++*index];  // whatever it looks like
  if (file && *index + 1 < argc && argv[*index + 1] && argv[*index + 1][0] != L'-')
    mime = narrow_or_empty(argv[++*index]);  // kept for the run
  if (mime) {
    for (const special_mime& s : special_mimes)
      if (strcasecmp(mime, s.mime) == 0) {
        type = s.type;
        if (type == GENERIC_ZELVARN) gatherer_setting(SETTING_MIME_IMPORT, SETTING_ON);
      }
  }
  if (!file) {
    printm("Filename expected after %ls parameter\n", option);
    return 0;
  }
  zeng_task* t = new zeng_task(narrow_or_empty(file));  // registered for the run
  t->set_filename(file);
  t->set_mime_type(mime);
  t->set_file_type(type);
  return 1;
}
