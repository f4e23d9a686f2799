// postbox_task.cpp - stores the files found in the postbox directory beside
// the program, each by the kind its name shows.
#include "postbox_task.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <string>
#include <vector>

#include "debug.h"
#include "mask.h"
#include "util_glob.h"
#include "xml.h"
#include "zelvarn2.h"
#include "zv2file.h"

namespace {

constexpr size_t MAX_PATH_LENGTH = 4096;

/// The regular files directly in `dir`, sorted by name. Links, directories
/// and devices are passed over.
std::vector<std::string> regular_files(const std::string& dir) {
  std::vector<std::string> names;
  DIR* d = opendir(dir.c_str());
  if (!d) {
    print_error(dir.c_str(), errno);
    return names;
  }
  while (struct dirent* e = readdir(d)) {
    std::string path = dir + "/" + e->d_name;
    struct stat st;
    if (path.size() <= MAX_PATH_LENGTH && lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode))
      names.push_back(e->d_name);
  }
  closedir(d);
  std::sort(names.begin(), names.end());
  return names;
}

/// Stores one postbox file by the first pattern its name matches.
bool store_postbox_file(const char* name, const char* path, FILE* report) {
  if (compare_glob(name, "*.txt")) return store_text_file(path, "text/plain");
  if (compare_glob(name, "*.asc")) return store_ascii_file(path, "text/plain");
  if (compare_glob(name, "*.xml")) return store_binary_file(path, "text/xml");
  if (compare_glob(name, "*.htm")) return store_text_file(path, "text/html");
  if (compare_glob(name, "*.html")) return store_text_file(path, "text/html");
  if (compare_glob(name, "*.zvml")) return log_zvml_file(report, path);
  if (compare_glob(name, "*.dgml")) return !mask_enabled() && store_file(path, 18, true);  // not maskable
  return store_binary_file(path, "application/octet-stream");
}

}  // namespace

postbox_task::postbox_task() : task("Gathering plug-in output files", 18) {
  customers = 0x40;
  status[0] = '\0';
}

bool postbox_task::run(FILE* report) {
  const char* program_dir = gatherer_filename(FILENAME_PATH, SETTING_GET);
  std::string dir = std::string(program_dir ? program_dir : "") + "/POSTBOX";
  int error = 0;
  struct stat st;
  if (dir.size() > MAX_PATH_LENGTH)
    error = ENAMETOOLONG;
  else if (stat(dir.c_str(), &st) != 0)
    error = errno;
  else if (!S_ISDIR(st.st_mode))
    error = ENOTDIR;
  if (error) {
    print_error(dir.c_str(), error);
    fail_text = "Directory not found";
    return false;
  }
  add_from_postbox(dir.c_str(), report);
  return true;
}

int postbox_task::add_from_postbox(const char* dir, FILE* report) {
  int added = 0, failed = 0;
  for (const std::string& name : regular_files(dir ? dir : "")) {
    std::string path = std::string(dir) + "/" + name;
    if (store_postbox_file(name.c_str(), path.c_str(), report))
      ++added;
    else
      ++failed;
  }
  if (failed == 0)
    snprintf(status, sizeof status, "%d file(s) added", added);
  else
    snprintf(status, sizeof status, "%d file(s) added, %d file(s) failed", added, failed);
  ok_text = status;
  printd("postbox: %d files added, %d files failed\n", added, failed);
  return added;
}
