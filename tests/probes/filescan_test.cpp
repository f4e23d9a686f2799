// filescan_test.cpp - the directory scanner over the tree of
// tests/fixtures/filescan (cases in cases.tsv), and the FILESCAN task's
// parameters.
#include "filescan.h"

#include "zvtest.h"

#include <filesystem>

#include "filescan_probe.h"
#include "report_check.h"
#include "sysroot.h"

namespace {

const std::string fixtures = std::string(ZV_SOURCE_DIR) + "/tests/fixtures/filescan/";

std::vector<std::string> words(const std::string& text, char sep = ' ') {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string w; std::getline(in, w, sep);)
    if (!w.empty()) out.push_back(w);
  return out;
}

class FileScan : public ::testing::Test {
 protected:
  void SetUp() override {
    std::ifstream in(fixtures + "tree.txt");
    for (std::string line; std::getline(in, line);) {
      std::vector<std::string> w = words(line);
      if (w.size() < 3 || w[0][0] == '#') continue;
      std::string p = root.path() + w[1];
      std::string parent = p.substr(0, p.rfind('/'));
      std::filesystem::create_directories(parent);
      if (w[0] == "l") {
        ASSERT_EQ(symlink(w[2].c_str(), p.c_str()), 0) << p;
        continue;
      }
      mode_t mode = static_cast<mode_t>(std::stoul(w[2], nullptr, 8));
      if (w[0] == "d") {
        ASSERT_EQ(mkdir(p.c_str(), 0755), 0) << p;
      } else {
        int fd = open(p.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
        ASSERT_GE(fd, 0) << p;
        if (w.size() > 3) {
          ASSERT_EQ(ftruncate(fd, std::stoll(w[3])), 0);
        }
        close(fd);
      }
      chmod(p.c_str(), mode);
    }
    sysroot_set(root.path().c_str());
  }
  void TearDown() override { sysroot_set(nullptr); }
  zvtest::temp_dir root;
};

}  // namespace

TEST_F(FileScan, CasesOfTheFixtureTree) {
  std::ifstream in(fixtures + "cases.tsv");
  int cases = 0;
  for (std::string line; std::getline(in, line);) {
    if (line.empty() || line[0] == '#') continue;
    std::vector<std::string> f = words(line, '\t');
    ASSERT_EQ(f.size(), 6u) << line;
    SCOPED_TRACE(line);
    cases++;
    std::unique_ptr<filescan> scan(make_filescan());
    scan->add_path_to_scan(f[0].c_str());
    scan->set_filter(f[1].c_str());
    if (f[2] != "-") scan->set_ignore_filter(f[2].c_str());
    if (f[3] != "-") scan->set_perm_mask(filescan_octal(f[3].c_str()));
    if (f[4] != "-") scan->set_perm_check(filescan_octal(f[4].c_str()));
    std::vector<std::string> found;
    char name[FILESCAN_PATH_MAX];
    while (scan->next()) found.push_back(scan->get_full_pathname(name, sizeof name));
    EXPECT_EQ(scan->get_files_found(), found.size());
    // A later starting path is scanned first.
    std::vector<std::string> starts = words(f[0], ';');
    size_t last = starts.size();
    for (const std::string& path : found) {
      size_t owner = 0, longest = 0;
      for (size_t i = 0; i < starts.size(); i++) {
        std::string prefix = starts[i] == "/" ? "/" : starts[i] + "/";
        if (path.rfind(prefix, 0) == 0 && prefix.size() > longest) owner = i, longest = prefix.size();
      }
      EXPECT_LE(owner, last) << path << " came after a later starting path's results";
      last = owner;
    }
    std::vector<std::string> want = words(f[5]);
    std::sort(found.begin(), found.end());
    std::sort(want.begin(), want.end());
    EXPECT_EQ(found, want);
  }
  EXPECT_EQ(cases, 8);
}

TEST_F(FileScan, ReportsSizesBeyondFourGigabytes) {
  std::unique_ptr<filescan> scan(make_filescan());
  scan->add_path_to_scan("/usr");
  scan->set_filter("*.img");
  ASSERT_TRUE(scan->next());
  char text[64];
  EXPECT_STREQ(scan->get_file_size(text, sizeof text), "5368709120");
  EXPECT_STREQ(scan->get_permissions(text, sizeof text), "0644");
  EXPECT_FALSE(scan->next());
}

TEST(FileScanTask, ParametersAreCopiedCheckedAndReported) {
  // Registered tasks live for the process: this one is blocked so that no
  // run of the task list in this program ever picks it up.
  filescan_probe* task = new filescan_probe();
  task->set_blocked(true);
  struct {
    const char* key;
    const char* value;
    const char* message;
  } cases[] = {
      {"path", "", "The filescan path parameter requires a non-empty value."},
      {"FILTER", "*.conf", ""},
      {"date", "no", ""},
      {"date", "yes please", ""},
      {"size", "maybe", "Valid values for 'filescan size' are 'Yes' or 'No', default is 'Yes'"},
      {"size", "N", ""},
      {"colour", "red", "colour is not a valid parameter for filescan"},
  };
  for (const auto& c : cases) {
    fd_capture err(2);
    std::string value = c.value;  // gone after the call: the task must copy it
    task->set_parameter(c.key, value.c_str());
    value.assign(value.size(), 'X');
    std::string shown = err.finish();
    if (*c.message)
      EXPECT_NE(shown.find(c.message), std::string::npos) << c.key << ": " << shown;
    else
      EXPECT_EQ(shown, "") << c.key;
  }
  const filescan_parameters& p = task->parameters();
  EXPECT_EQ(p.filter.value, "*.conf");
  EXPECT_TRUE(p.date);
  EXPECT_FALSE(p.size);
  EXPECT_FALSE(task->test()) << "an empty path must keep the scan from running";
  task->set_parameter("path", "/x");
  EXPECT_TRUE(task->test());
  for (auto [text, value] : {std::pair<const char*, int>{"644", 0644}, {"111", 0111}, {"0", 0},
                             {"9", -1}, {"64x", -1}, {"", -1}, {nullptr, -1}})
    EXPECT_EQ(filescan_octal(text), value) << (text ? text : "(null)");
}
