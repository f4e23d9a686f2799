// report_input.cpp - containers and loose reports as report streams.
#include "report_input.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "gthfile.h"

struct report_input::state {
  GatherFile file;
};

namespace {
const unsigned long MAX_ID_BLOCK = 64 * 1024;
}

bool different_machines(const machine_identity& a, const machine_identity& b) {
  if (!a.known() || !b.known()) return false;
  return a.vendor != b.vendor || a.model != b.model || a.serial != b.serial || a.uuid != b.uuid;
}

report_input::~report_input() {
  if (streaming_ >= 0 || child_ > 0) finish();
  if (fd_ >= 0) close(fd_);
  delete st_;
}

bool report_input::open(const std::string& path) {
  path_ = path;
  fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd_ < 0) {
    error_ = std::string("cannot open: ") + strerror(errno);
    return false;
  }
  char head[9] = {0};
  ssize_t n = pread(fd_, head, sizeof head, 0);
  if (n < 0) {
    error_ = std::string("cannot be read: ") + strerror(errno);
    return false;
  }
  if (n < 9 || (memcmp(head, "_ZELVARN_", 9) != 0 && memcmp(head, "_ZELVAFF_", 9) != 0)) return true;  // loose

  container_ = true;
  st_ = new state;
  int rc = st_->file.OpenReadOnly(path.c_str());
  if (rc != GTH_OK && !(rc == GTH_E_READ && st_->file.NumItems() > 0)) {
    error_ = rc == GTH_E_FORMAT ? "not a container file, or damaged byte stuffing"
                                : "damaged container (its item table cannot be read)";
    return false;
  }
  for (int i = 0; i < st_->file.NumItems(); i++) {
    unsigned type = st_->file.GetItemType(i);
    if (type == GTH_ITEM_XML_REPORT && report_index_ < 0) report_index_ = i;
    gth_item_header h;
    if (type == GTH_ITEM_ID_BLOCK && st_->file.GetItemHeader(i, &h) == GTH_OK && h.orig_size <= MAX_ID_BLOCK) {
      char* data = nullptr;
      size_t size = 0;
      FILE* mem = open_memstream(&data, &size);
      if (mem && st_->file.ExtractItemTo(i, mem) == GTH_OK && fflush(mem) == 0) {
        std::string block(data, size);
        size_t at = 0;
        while (at < block.size()) {
          size_t end = block.find('\n', at);
          if (end == std::string::npos) end = block.size();
          std::string line = block.substr(at, end - at);
          at = end + 1;
          if (line.empty()) continue;
          std::string value = line.substr(1);
          switch (line[0]) {
            case 'C': identity_.host = value; break;
            case 'V': identity_.vendor = value; break;
            case 'M': identity_.model = value; break;
            case 'S': identity_.serial = value; break;
            case 'U': identity_.uuid = value; break;
            case 'T': identity_.taken = value; break;
            default: break;
          }
        }
      }
      if (mem) fclose(mem);
      free(data);
    }
  }
  if (report_index_ < 0) {
    if (st_->file.FirstBadItem() >= 0)
      error_ = "damaged container: item " + std::to_string(st_->file.FirstBadItem()) +
               " runs past the end of the file, and no report item comes before it";
    else
      error_ = "the container holds no XML report (no item of type 15)";
    no_report_ = st_->file.FirstBadItem() < 0;
    return false;
  }
  return true;
}

std::vector<int> report_input::collected_items() const {
  std::vector<int> out;
  if (!container_) return out;
  for (int i = 0; i < st_->file.NumItems(); i++)
    if (st_->file.GetItemType(i) == GTH_ITEM_COLLECTED_FILE) out.push_back(i);
  return out;
}

int report_input::start_report() {
  if (!container_) {
    if (lseek(fd_, 0, SEEK_SET) != 0) {
      error_ = std::string("cannot be read: ") + strerror(errno);
      return -1;
    }
    streaming_ = fd_;
    return fd_;
  }
  return start_item(report_index_);
}

int report_input::start_item(int index) {
  int p[2];
  if (pipe2(p, O_CLOEXEC) != 0) {
    error_ = std::string("cannot make a pipe: ") + strerror(errno);
    return -1;
  }
  fflush(nullptr);
  pid_t pid = fork();
  if (pid < 0) {
    error_ = std::string("cannot start the expansion: ") + strerror(errno);
    close(p[0]);
    close(p[1]);
    return -1;
  }
  if (pid == 0) {
    close(p[0]);
    FILE* out = fdopen(p[1], "wb");
    int rc = out ? st_->file.ExtractItemTo(index, out) : GTH_E_WRITE;
    if (out && fclose(out) != 0 && rc == GTH_OK) rc = GTH_E_WRITE;
    _exit(rc == GTH_OK ? 0 : 1);
  }
  close(p[1]);
  child_ = pid;
  streaming_ = p[0];
  return p[0];
}

bool report_input::finish() {
  bool ok = true;
  if (streaming_ >= 0 && streaming_ != fd_) close(streaming_);
  streaming_ = -1;
  if (child_ > 0) {
    int status = 0;
    while (waitpid(child_, &status, 0) < 0 && errno == EINTR) {
    }
    child_ = -1;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
      error_ = "the report item's coded stream is damaged (it does not expand to its recorded size)";
      ok = false;
    }
  }
  return ok;
}
