// container_items.cpp - the report's index and named extraction of every item.

#include "container_items.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "safe_file.h"

namespace {

bool is_report(unsigned type) { return type == GTH_ITEM_XML_REPORT || type == GTH_ITEM_TEXT_REPORT; }

/// "XML report" -> "xml-report"; anything but letters and digits becomes "-".
std::string slug(const char* text) {
  std::string out;
  for (const char* p = text; *p; p++) {
    char c = *p;
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    bool plain = (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
    if (plain) out += c;
    else if (!out.empty() && out.back() != '-') out += '-';
  }
  return out;
}

/// A base name that is safe as one file name: no directory part, no leading
/// dot, only letters, digits and "._+-", at most 80 characters.
std::string safe_base_name(const std::string& path) {
  std::string base = path.substr(path.find_last_of('/') == std::string::npos ? 0 : path.find_last_of('/') + 1);
  std::string out;
  for (char c : base) {
    bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || strchr("._+-", c);
    out += plain ? c : '_';
  }
  while (!out.empty() && out[0] == '.') out.erase(0, 1);
  return out.substr(0, 80);
}

const char* extension(unsigned type) {
  switch (type) {
    case GTH_ITEM_XML_REPORT:
    case GTH_ITEM_FILE_SCAN: return ".xml";
    case GTH_ITEM_HTML_REPORT: return ".html";
    case GTH_ITEM_ID_BLOCK:
    case GTH_ITEM_TEXT_REPORT:
    case GTH_ITEM_COLLECTED_FILE: return ".txt";
    case GTH_ITEM_DGML: return ".dgml";
    default: return ".bin";
  }
}

/// Copies the expanded item through a scratch file: its first line names
/// the source of a collected file, which the output's name needs.
bool extract_collected(GatherFile& g, int index, const std::string& dir, std::string& name, std::string& error) {
  FILE* scratch = tmpfile();
  if (!scratch) {
    error = std::string("no scratch file: ") + strerror(errno);
    return false;
  }
  bool ok = g.ExtractItemTo(index, scratch) == GTH_OK && fflush(scratch) == 0 && fseek(scratch, 0, SEEK_SET) == 0;
  char line[4112] = "";
  if (ok && !fgets(line, sizeof line, scratch)) line[0] = 0;
  std::string path;
  if (ok) {
    name = container_item_file_name(index, GTH_ITEM_COLLECTED_FILE, false, collected_file_source(line));
    path = dir + "/" + name;
  }
  FILE* out = ok ? create_new_file(path.c_str(), "wb") : nullptr;
  if (!out) {
    error = ok ? "cannot create " + path + ": " + strerror(errno) : "item " + std::to_string(index) + ": extraction failed";
    fclose(scratch);
    return false;
  }
  fseek(scratch, 0, SEEK_SET);
  char block[65536];
  size_t n;
  while ((n = fread(block, 1, sizeof block, scratch)) > 0) fwrite(block, 1, n, out);
  ok = !ferror(scratch);
  fclose(scratch);
  if (fclose(out) != 0 || !ok) {
    error = "cannot write " + path;
    unlink(path.c_str());
    return false;
  }
  return true;
}

}  // namespace

int container_report_item(GatherFile& g) {
  int found = -1;
  for (int i = 0; i < g.NumItems(); i++) {
    gth_item_header h;
    if (g.GetItemHeader(i, &h) == GTH_OK && is_report(h.type)) found = i;
  }
  return found;
}

std::string collected_file_source(const std::string& first_line) {
  const std::string key = "Filename: ";
  if (first_line.compare(0, key.size(), key) != 0) return "";
  std::string path = first_line.substr(key.size());
  while (!path.empty() && (path.back() == '\n' || path.back() == '\r')) path.pop_back();
  return path;
}

std::string container_item_file_name(int index, unsigned type, bool own_report, const std::string& source) {
  char number[8];
  snprintf(number, sizeof number, "%02d-", index);
  const char* holds = gth_item_type_name(type);
  std::string name = number;
  if (is_report(type) && !own_report) name += "imported-";
  name += holds ? slug(holds) : "type-" + std::to_string(type);
  std::string base = type == GTH_ITEM_COLLECTED_FILE ? safe_base_name(source) : "";
  if (!base.empty()) return name + "-" + base;
  return name + extension(type);
}

bool container_extract_all(GatherFile& g, const std::string& dir, std::vector<std::string>& written,
                           std::string& error) {
  if (mkdir(dir.c_str(), 0755) != 0 && errno != EEXIST) {
    error = "cannot make the directory " + dir + ": " + strerror(errno);
    return false;
  }
  int report = container_report_item(g);
  for (int i = 0; i < g.NumItems(); i++) {
    gth_item_header h;
    if (g.GetItemHeader(i, &h) != GTH_OK || g.VerifyItem(i) != GTH_OK) {
      error = "item " + std::to_string(i) + ": damaged, not extracted";
      return false;
    }
    std::string name;
    if (h.type == GTH_ITEM_COLLECTED_FILE) {
      if (!extract_collected(g, i, dir, name, error)) return false;
    } else {
      name = container_item_file_name(i, h.type, i == report, "");
      std::string path = dir + "/" + name;
      int rc = g.ExtractItem(i, path.c_str());
      if (rc != GTH_OK) {
        error = rc == GTH_E_CREATE ? "cannot create " + path + " (it must not exist yet)"
                                   : "item " + std::to_string(i) + ": extraction failed";
        return false;
      }
    }
    written.push_back(name);
  }
  return true;
}
