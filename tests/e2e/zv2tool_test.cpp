// zv2tool_test.cpp - the container reader program on good, stuffed and malformed containers.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "gthfile.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct ToolRun {
  int status = -1;  // exit status; -1 when killed by a signal
  std::string out, err;
};

std::string ReadText(const std::string& path) {
  std::string s;
  FILE* f = fopen(path.c_str(), "rb");
  if (!f) return s;
  int c;
  while ((c = getc(f)) != EOF) s.push_back(char(c));
  fclose(f);
  return s;
}

Bytes Slurp(const std::string& path) {
  std::string s = ReadText(path);
  return Bytes(s.begin(), s.end());
}

void Spit(const std::string& path, const Bytes& data) {
  FILE* f = fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  if (!data.empty()) fwrite(data.data(), 1, data.size(), f);
  fclose(f);
}

class Zv2Tool : public ::testing::Test {
 protected:
  void SetUp() override {
    tool_ = std::string(ZV_BINARY_DIR) + "/zv2tool";
    ASSERT_EQ(access(tool_.c_str(), X_OK), 0) << "zv2tool not built";
    char tmpl[] = "/tmp/zv2tool_test_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
  }
  void TearDown() override {
    std::string cmd = "rm -rf '" + dir_ + "'";
    if (system(cmd.c_str()) != 0) ADD_FAILURE() << "cannot remove " << dir_;
  }
  std::string P(const char* name) const { return dir_ + "/" + name; }

  ToolRun Tool(std::vector<std::string> args) {
    std::string out = P("stdout"), err = P("stderr");
    pid_t pid = fork();
    if (pid == 0) {
      int o = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      int e = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      dup2(o, 1);
      dup2(e, 2);
      if (chdir(dir_.c_str()) != 0) _exit(127);
      std::vector<char*> argv{const_cast<char*>(tool_.c_str())};
      for (auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      execv(tool_.c_str(), argv.data());
      _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    ToolRun r;
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.out = ReadText(out);
    r.err = ReadText(err);
    return r;
  }

  // A container of five items: XML report (coded), identification block
  // (stored), collected file of noise (stored: does not shrink), text
  // report (coded) and an item of a type the program never writes.
  void BuildSample(const std::string& path) {
    items_ = {Bytes(), Bytes(), Bytes(), Bytes(), Bytes()};
    for (int i = 0; i < 3000; i++) {
      const char* line = "<table name=\"pci\"><row id=\"00:1f.2\"/></table>\r\n";
      items_[0].insert(items_[0].end(), line, line + strlen(line));
    }
    const char* id = "@V=Vendor\n@M=Model\n@S=1234\n";
    items_[1].assign(id, id + strlen(id));
    unsigned x = 12345;
    for (int i = 0; i < 5000; i++) items_[2].push_back(uint8_t((x = x * 1103515245 + 12345) >> 16));
    items_[3].assign(items_[0].begin(), items_[0].begin() + 9000);
    items_[4] = {0, 0, 0, 0xFF};
    const uint8_t types[] = {15, 1, 66, 254, 77};
    const bool coded[] = {true, false, true, true, false};
    GatherFile g;
    ASSERT_EQ(g.CreateFile(path.c_str()), 0);
    for (int i = 0; i < 5; i++) {
      std::string in = P("in");
      Spit(in, items_[i]);
      ASSERT_EQ(g.AddItemFile(types[i], in.c_str(), coded[i]), 0);
      unlink(in.c_str());
    }
  }

  std::string tool_, dir_;
  std::vector<Bytes> items_;
};

TEST_F(Zv2Tool, ListsEveryItemWithWhatItHoldsAndItsSizes) {
  BuildSample(P("c.zv2"));
  ToolRun r = Tool({"list", "c.zv2"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("5 items"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("    0   15  XML report               compressed       141000"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("    1    1  identification block     stored"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("    2   66  collected file           stored             5000         5000"),
            std::string::npos) << r.out;
  EXPECT_NE(r.out.find("    3  254  text report              compressed"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("    4   77  unknown type"), std::string::npos) << r.out;
}

TEST_F(Zv2Tool, ExtractsItemsByteIdenticalToFilesOrStandardOutput) {
  BuildSample(P("c.zv2"));
  for (int i = 0; i < 5; i++) {
    std::string out = "out" + std::to_string(i);
    ToolRun r = Tool({"extract", "c.zv2", std::to_string(i), out});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Slurp(P(out.c_str())), items_[i]) << i;
  }
  ToolRun r = Tool({"extract", "c.zv2", "3", "-"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(Bytes(r.out.begin(), r.out.end()), items_[3]);

  Spit(P("taken"), Bytes{'k'});
  r = Tool({"extract", "c.zv2", "0", "taken"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("must not exist"), std::string::npos) << r.err;
  EXPECT_EQ(Slurp(P("taken")), Bytes{'k'});
  r = Tool({"extract", "c.zv2", "5", "x"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("no item 5 (the file holds items 0 to 4)"), std::string::npos) << r.err;
  EXPECT_EQ(Tool({"extract", "c.zv2", "1x", "x"}).status, 2);
  EXPECT_EQ(Tool({"extract", "c.zv2", "-1", "x"}).status, 2);
}

TEST_F(Zv2Tool, ReadsTheStuffedFormWithoutChangingAnyFile) {
  BuildSample(P("c.zv2"));
  GatherFile g;
  ASSERT_EQ(g.RemoveNulls(P("c.zv2").c_str()), 0);
  ASSERT_EQ(chmod(P("c.zv2").c_str(), 0444), 0);
  Bytes before = Slurp(P("c.zv2"));
  struct stat st0;
  ASSERT_EQ(stat(P("c.zv2").c_str(), &st0), 0);

  ToolRun r = Tool({"list", "c.zv2"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("byte-stuffed form"), std::string::npos);
  r = Tool({"verify", "c.zv2"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("5 items, all consistent"), std::string::npos) << r.out;
  r = Tool({"extract", "c.zv2", "0", "x"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Slurp(P("x")), items_[0]);

  struct stat st1;
  ASSERT_EQ(stat(P("c.zv2").c_str(), &st1), 0);
  EXPECT_EQ(Slurp(P("c.zv2")), before);
  EXPECT_EQ(st0.st_mtime, st1.st_mtime);
}

TEST_F(Zv2Tool, VerifyNamesTheFirstBadItem) {
  BuildSample(P("c.zv2"));
  Bytes good = Slurp(P("c.zv2"));
  GatherFile g;
  ASSERT_EQ(g.OpenReadOnly(P("c.zv2").c_str()), 0);
  gth_item_header h;
  ASSERT_EQ(g.GetItemHeader(3, &h), 0);
  g.CloseFile();

  // Item 3's stream cut short by one byte (its recorded length too).
  Bytes bad = good;
  bad[size_t(h.offset) + 6] = uint8_t(h.comp_size - 1);
  bad[size_t(h.offset) + 7] = uint8_t((h.comp_size - 1) >> 8);
  bad.erase(bad.begin() + long(h.offset + 10 + h.comp_size - 1));
  Spit(P("bad.zv2"), bad);
  ToolRun r = Tool({"verify", "bad.zv2"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("item 3 (type 254, text report): coded stream damaged"), std::string::npos) << r.err;
  EXPECT_EQ(Tool({"extract", "bad.zv2", "3", "x"}).status, 1);
  EXPECT_EQ(access(P("x").c_str(), F_OK), -1);
  EXPECT_EQ(Tool({"extract", "bad.zv2", "2", "y"}).status, 0);

  // Cut inside item 4: listed up to item 3, then the error.
  Spit(P("cut.zv2"), Bytes(good.begin(), good.end() - 2));
  r = Tool({"list", "cut.zv2"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("text report"), std::string::npos);
  EXPECT_NE(r.err.find("item 4 of 5: its header or data runs past the end of the file"), std::string::npos)
      << r.err;
  EXPECT_EQ(Tool({"verify", "cut.zv2"}).status, 1);

  // Bytes of an unfinished item after the last counted one.
  Bytes longer = good;
  longer.insert(longer.end(), {66, 1, 0});
  Spit(P("long.zv2"), longer);
  r = Tool({"verify", "long.zv2"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("3 stray bytes after the last item"), std::string::npos) << r.err;
}

TEST_F(Zv2Tool, MalformedInputsGetAClearErrorNeverACrash) {
  Spit(P("empty"), Bytes());
  Spit(P("foreign"), Bytes(64, 'A'));
  Bytes header = {'_', 'Z', 'E', 'L', 'V', 'A', 'R', 'N', '_', 0, 1, 2, 3, 4, 5, 0xE8, 7, 0, 2, 200};
  Spit(P("claims"), header);  // 200 items, none there
  Bytes stuffed = {'_', 'Z', 'E', 'L', 'V', 'A', 'F', 'F', '_', 0xFF, 0x07};
  stuffed.resize(40, 'x');
  Spit(P("stuffed"), stuffed);
  ASSERT_EQ(mkdir(P("dir").c_str(), 0700), 0);
  struct Case {
    const char* file;
    const char* message;
  } cases[] = {{"empty", "too short"},
               {"foreign", "not a container file"},
               {"claims", "item 0 of 200"},
               {"stuffed", "damaged byte stuffing"},
               {"dir", "cannot open"},
               {"absent", "cannot open"}};
  for (const Case& c : cases) {
    for (const char* cmd : {"list", "verify"}) {
      ToolRun r = Tool({cmd, c.file});
      EXPECT_EQ(r.status, 1) << cmd << " " << c.file;
      EXPECT_NE(r.err.find(std::string("zv2tool: ") + c.file + ": "), std::string::npos) << r.err;
      EXPECT_NE(r.err.find(c.message), std::string::npos) << cmd << " " << c.file << ": " << r.err;
    }
    EXPECT_EQ(Tool({"extract", c.file, "0", "out"}).status, 1);
  }
}

TEST_F(Zv2Tool, PrintsItsManualAndRefusesWrongUsage) {
  ToolRun r = Tool({"-h"});
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("SYNOPSIS"), std::string::npos);
  EXPECT_NE(r.out.find("zv2tool extract FILE INDEX OUT"), std::string::npos);
  EXPECT_NE(r.out.find("EXIT STATUS"), std::string::npos);
  EXPECT_EQ(Tool({}).status, 2);
  EXPECT_EQ(Tool({"unpack", "c.zv2"}).status, 2);
  EXPECT_EQ(Tool({"list", "a", "b"}).status, 2);
}

}  // namespace
