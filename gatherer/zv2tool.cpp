// zv2tool.cpp - the receiving side: lists, extracts and checks container files, read-only.

#include <signal.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "container_items.h"
#include "gthfile.h"
#include "zv2tool_report.h"

namespace {

const char* const kUsage =
    "NAME\n"
    "    zv2tool - list, extract and check the items of a container file\n"
    "\n"
    "SYNOPSIS\n"
    "    zv2tool list FILE\n"
    "    zv2tool extract FILE INDEX OUT\n"
    "    zv2tool extract FILE report OUT\n"
    "    zv2tool extract-all FILE DIR\n"
    "    zv2tool verify FILE\n"
    "    zv2tool json [-o DIR] [--force] FILE...\n"
    "    zv2tool diff [--all] [--json] [--force] A B\n"
    "    zv2tool -h\n"
    "\n"
    "DESCRIPTION\n"
    "    A container (\".ZV2\", \".GTH\") holds the report and the collected files\n"
    "    of one run as numbered items, each stored as is or LZH-coded. Both the\n"
    "    plain form and the byte-stuffed form (no zero bytes) are read. FILE is\n"
    "    opened read-only and never modified.\n"
    "\n"
    "COMMANDS\n"
    "    list     One line per item: index, type number and what it holds,\n"
    "             stored or compressed, original size and coded size in bytes.\n"
    "    extract  Writes the expanded data of item INDEX (0 is the first) to the\n"
    "             new file OUT, or to standard output when OUT is \"-\". OUT must\n"
    "             not exist. A damaged item is not extracted. \"report\" as\n"
    "             INDEX: the run's own report (the last XML or text report).\n"
    "    extract-all  Writes every item into DIR (made when missing) as\n"
    "             NN-<what it holds>, e.g. 02-file-scan-output.xml,\n"
    "             03-xml-report.xml, 04-collected-file-hosts.\n"
    "    verify   Checks every item header and expands every coded stream:\n"
    "             each must give exactly its recorded size from exactly its\n"
    "             recorded length. Names the first bad item. A container\n"
    "             without a report item is incomplete. Then reads the\n"
    "             report item: it must be well-formed, and every checksum in it\n"
    "             (cells, rows, tables, sections, embedded files, imports, the\n"
    "             whole report) must add up; names the first table or row\n"
    "             that does not.\n"
    "    json     The report (checksummed XML, XML or ORNA; a container or a\n"
    "             loose report) as JSON Lines on standard output: one object\n"
    "             per table row, one per embedded or collected file, each with\n"
    "             the file name and the machine's identity. -o DIR writes one\n"
    "             .jsonl file per table into DIR instead. Stops at a checksum\n"
    "             that does not add up unless --force is given.\n"
    "    diff     What changed between the reports of two runs on one\n"
    "             machine: rows added, removed and changed, by section, table\n"
    "             and row id. Dates and times of the run and process ids are\n"
    "             left out unless --all is given; --json writes JSON Lines.\n"
    "             Exit 0 when the same, 1 when different, 2 on error (also\n"
    "             for reports of two machines, unless --force).\n"
    "\n"
    "EXIT STATUS\n"
    "    0  success; for verify, the whole file is consistent\n"
    "    1  the file cannot be read, is not a container, is damaged or (verify)\n"
    "       incomplete; or the\n"
    "       output cannot be written\n"
    "    2  wrong usage\n";

const char* g_file = "";

int Fail(const char* format, const char* detail = "") {
  fprintf(stderr, "zv2tool: %s: ", g_file);
  fprintf(stderr, format, detail);
  fputc('\n', stderr);
  return 1;
}

std::string Holds(unsigned type) {
  const char* name = gth_item_type_name(type);
  return name ? name : "unknown type";
}

// Opens the container read-only and explains a refusal. Returns the open
// code; 0 and -5 (a damaged item after some good ones) leave it open.
int Open(GatherFile& g, const char* path) {
  errno = 0;
  int rc = g.OpenReadOnly(path);
  switch (rc) {
    case GTH_OK:
    case GTH_E_READ:
      if (rc == GTH_E_READ && g.HeaderItemCount() == 0 && g.FirstBadItem() < 0)
        Fail("too short for a container header");
      break;
    case GTH_E_OPEN:
      Fail("cannot open: %s", strerror(errno ? errno : EINVAL));
      break;
    case GTH_E_FORMAT:
      Fail("not a container file (no \"_ZELVARN_\" identifier), or damaged byte stuffing");
      break;
    default:
      Fail("cannot be read (code %s)", std::to_string(rc).c_str());
  }
  return rc;
}

std::string BadItemText(GatherFile& g) {
  return "item " + std::to_string(g.FirstBadItem()) + " of " + std::to_string(g.HeaderItemCount()) +
         ": its header or data runs past the end of the file";
}

int List(const char* path) {
  GatherFile g;
  int rc = Open(g, path);
  if (rc != GTH_OK && !(rc == GTH_E_READ && g.FirstBadItem() >= 0)) return 1;
  gthStamp s;
  g.GetFileStamp(&s);
  printf("%s: %d item%s, created %04u-%02u-%02u %02u:%02u:%02u UTC%s\n", path, g.HeaderItemCount(),
         g.HeaderItemCount() == 1 ? "" : "s", s.year, s.month, s.day, s.hour, s.minute, s.second,
         g.WasStuffed() ? ", byte-stuffed form" : "");
  printf("%5s %4s  %-24s %-10s %12s %12s\n", "index", "type", "holds", "storage", "original", "coded");
  for (int i = 0; i < g.NumItems(); i++) {
    gth_item_header h;
    if (g.GetItemHeader(i, &h) != GTH_OK) return Fail("item %s: header cannot be read", std::to_string(i).c_str());
    bool coded = h.flag != 0;
    unsigned long coded_size = coded ? h.comp_size : h.orig_size;
    printf("%5d %4u  %-24s %-10s %12lu %12lu\n", i, h.type, Holds(h.type).c_str(),
           coded ? (h.flag == 1 ? "compressed" : "bad flag") : "stored", (unsigned long)h.orig_size, coded_size);
  }
  if (g.FirstBadItem() >= 0) return Fail("%s", BadItemText(g).c_str());
  return 0;
}

bool ParseIndex(const char* text, int* out) {
  char* end = nullptr;
  errno = 0;
  long v = strtol(text, &end, 10);
  if (errno || end == text || *end || v < 0 || v > 254 || !(*text >= '0' && *text <= '9')) return false;
  *out = int(v);
  return true;
}

int Extract(const char* path, const char* index_text, const char* out) {
  int index = 0;
  const bool report = strcmp(index_text, "report") == 0;
  if (!report && !ParseIndex(index_text, &index)) {
    fprintf(stderr, "zv2tool: INDEX must be a number from 0 to 254 or \"report\", not \"%s\"\n", index_text);
    return 2;
  }
  GatherFile g;
  int rc = Open(g, path);
  if (rc != GTH_OK && !(rc == GTH_E_READ && g.FirstBadItem() >= 0)) return 1;
  if (report && (index = container_report_item(g)) < 0) return Fail("holds no report (no item of type 15 or 254)");
  if (index >= g.NumItems()) {
    if (g.FirstBadItem() >= 0 && index < g.HeaderItemCount()) return Fail("%s", BadItemText(g).c_str());
    std::string held = g.NumItems() == 0 ? "no items" : "items 0 to " + std::to_string(g.NumItems() - 1);
    return Fail("%s", ("no item " + std::to_string(index) + " (the file holds " + held + ")").c_str());
  }
  if (g.VerifyItem(index) != GTH_OK)
    return Fail("item %s: coded stream damaged, not extracted", index_text);
  if (strcmp(out, "-") == 0) {
    rc = g.ExtractItemTo(index, stdout);
    if (rc != GTH_OK || fflush(stdout) != 0) return Fail("item %s: cannot write standard output", index_text);
    return 0;
  }
  rc = g.ExtractItem(index, out);
  if (rc == GTH_E_CREATE) {
    std::string dir = out;
    size_t slash = dir.find_last_of('/');
    dir = slash == std::string::npos ? "." : slash == 0 ? "/" : dir.substr(0, slash);
    struct stat st;
    if (stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
      return Fail("cannot create %s: its directory is missing", out);
    return Fail("cannot create %s (it must not exist yet)", out);
  }
  if (rc != GTH_OK) return Fail("item %s: extraction failed", index_text);
  return 0;
}

int ExtractAll(const char* path, const char* dir) {
  GatherFile g;
  int rc = Open(g, path);
  if (rc != GTH_OK && !(rc == GTH_E_READ && g.FirstBadItem() >= 0)) return 1;
  std::vector<std::string> written;
  std::string error;
  bool ok = container_extract_all(g, dir, written, error);
  for (const std::string& name : written) printf("%s/%s\n", dir, name.c_str());
  if (!ok) return Fail("%s", error.c_str());
  if (g.FirstBadItem() >= 0) return Fail("%s", BadItemText(g).c_str());
  return 0;
}

int Verify(const char* path) {
  GatherFile g;
  int rc = Open(g, path);
  if (rc != GTH_OK && !(rc == GTH_E_READ && g.FirstBadItem() >= 0)) return 1;
  for (int i = 0; i < g.NumItems(); i++) {
    gth_item_header h;
    std::string what = "item " + std::to_string(i);
    if (g.GetItemHeader(i, &h) != GTH_OK) return Fail("%s: header cannot be read", what.c_str());
    what += " (type " + std::to_string(h.type) + ", " + Holds(h.type) + ")";
    if (h.flag > 1) return Fail("%s: unknown compression flag", what.c_str());
    if (h.flag == 0 && h.comp_size != 0) return Fail("%s: stored item with a coded length", what.c_str());
    if (g.VerifyItem(i) != GTH_OK)
      return Fail("%s: coded stream damaged (it does not give exactly the recorded size)", what.c_str());
  }
  if (g.FirstBadItem() >= 0) return Fail("%s", BadItemText(g).c_str());
  if (g.TrailingBytes() > 0)
    return Fail("%s after the last item (an unfinished item?)",
                (std::to_string(g.TrailingBytes()) + " stray bytes").c_str());
  // A run that failed on the way can leave a container without its report.
  if (!g.HasReportItem())
    return Fail("incomplete: no report item among %s", (std::to_string(g.NumItems()) + " items").c_str());
  printf("%s: %d item%s, all consistent\n", path, g.NumItems(), g.NumItems() == 1 ? "" : "s");
  return zv2tool_verify_report(path);
}

int Usage() {
  fputs(kUsage, stderr);
  return 2;
}

/// Whatever went to standard output must have reached it: a write error
/// (a full disk, a closed pipe) turns success into status 1.
int CheckOutput(int rc) {
  if (fflush(stdout) == 0 && !ferror(stdout)) return rc;
  int error = errno ? errno : EIO;
  fprintf(stderr, "zv2tool: cannot write standard output: %s\n", strerror(error));
  return rc == 0 ? 1 : rc;
}

int Run(int argc, char** argv) {
  if (argc == 2 && (strcmp(argv[1], "-h") == 0 || strcmp(argv[1], "--help") == 0)) {
    fputs(kUsage, stdout);
    return 0;
  }
  if (argc >= 2 && strcmp(argv[1], "json") == 0) return zv2tool_json(argc - 1, argv + 1);
  if (argc >= 2 && strcmp(argv[1], "diff") == 0) return zv2tool_diff(argc - 1, argv + 1);
  if (argc < 3) return Usage();
  g_file = argv[2];
  std::string cmd = argv[1];
  if (cmd == "list" && argc == 3) return List(argv[2]);
  if (cmd == "verify" && argc == 3) return Verify(argv[2]);
  if (cmd == "extract" && argc == 5) return Extract(argv[2], argv[3], argv[4]);
  if (cmd == "extract-all" && argc == 4) return ExtractAll(argv[2], argv[3]);
  return Usage();
}

}  // namespace

int main(int argc, char** argv) {
  // A closed pipe on standard output is a write error, not a silent death.
  signal(SIGPIPE, SIG_IGN);
  errno = 0;
  return CheckOutput(Run(argc, argv));
}
