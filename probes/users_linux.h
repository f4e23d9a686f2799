// users_linux.h - user accounts and groups from the account files.
#pragma once

#include <cstdio>

#include "probe.h"

/// One account line ("name:x:uid:gid:comment:home:shell").
struct passwd_entry {
  char name[32];
  long long uid;
  char home[4096];
  char shell[4096];
};
void parse_passwd_line(const char* line, passwd_entry& out);

/// One group line ("name:x:gid:members").
struct group_entry {
  char name[32];
  long long gid;
  char members[256];
};
void parse_group_line(const char* line, group_entry& out);

/// "Users" of "Workstation Security": the tables "User Accounts" and "Groups".
class passwd_probe : public probe {
 public:
  explicit passwd_probe(probe_group* group);
  bool test() override;
  bool run(FILE* report) override;
};
