// osrelease_fuzz.cpp - distribution detection over arbitrary release files
// in a temporary system root: the operating-system object and the system
// identity read them, and every text they return must fit its buffer.
#include <fuzzer/FuzzedDataProvider.h>

#include "fuzz_support.h"
#include "osinfo.h"
#include "platform_paths.h"
#include "sysinfo.h"
#include "sysroot.h"

namespace {

/// Every file the two detections look at, in the order the input fills them.
const char* const release_files[] = {
    platform_path::debian_version,     platform_path::mandrake_release,
    platform_path::redhat_release,     platform_path::suse_release,
    platform_path::turbolinux_release, platform_path::issue,
    platform_path::os_release,         platform_path::usr_lib_os_release,
};

std::string root;

/// Calls an accessor into heap buffers of exactly these sizes, so that any
/// write past the end is caught.
template <typename Accessor>
void call_sized(Accessor accessor) {
  for (int size : {1, 2, 7, 64, 128, 256}) {
    char* buf = new char[size];
    buf[0] = 'x';
    check_fits(accessor(buf, size), size);
    delete[] buf;
  }
}

void check_os_info(os_info& os) {
  if (os.get_platform_id() != 1 || !os.is(1)) abort();
  call_sized([&](char* b, int s) { return os.get_platform_id(b, s); });
  call_sized([&](char* b, int s) { return os.get_vendor(b, s); });
  call_sized([&](char* b, int s) { return os.get_name(b, s); });
  call_sized([&](char* b, int s) { return os.get_version(b, s); });
  call_sized([&](char* b, int s) { return os.get_build(b, s); });
  call_sized([&](char* b, int s) { return os.get_service_level(b, s); });
}

void check_sysinfo() {
  SysInfo::reset();
  SysInfo* info = SysInfo::get();
  for (const char* text : {info->NodeName(), info->CurrentUser(), info->OSName(), info->OSVersion(),
                           info->OSCSD(), info->OSType(), info->OSOEM(), info->OEM(),
                           info->Serial(), info->Model(), info->UUID()})
    if (!text) abort();
  check_fits(info->OSBuild(), SYSINFO_DIST_TEXT_SIZE);
  check_fits(info->OSOEM(), SYSINFO_DIST_TEXT_SIZE);
  if (!info->OSBuild()[0]) abort();  // "Unknown" at worst
  SysInfo::reset();
}

void check_release_helpers() {
  char* vendor = new char[SYSINFO_DIST_TEXT_SIZE];
  char* name = new char[SYSINFO_DIST_TEXT_SIZE];
  char* release = new char[SYSINFO_DIST_TEXT_SIZE];
  check_files(vendor, name, release);
  check_fits(vendor, SYSINFO_DIST_TEXT_SIZE);
  check_fits(name, SYSINFO_DIST_TEXT_SIZE);
  check_fits(release, SYSINFO_DIST_TEXT_SIZE);
  for (const char* p : release_files) {
    int n = get_dist(p, release);
    if (n > SYSINFO_DIST_TEXT_SIZE - 1) abort();
    if (n >= 0 && static_cast<size_t>(n) != strlen(release)) abort();
    int row = dist_check(release);
    if (row != -1 && (row < 4 || row > 6)) abort();
  }
  delete[] release;
  delete[] name;
  delete[] vendor;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  setlocale(LC_ALL, "C.UTF-8");
  root = make_temp_root("zvosrelfuzz", {"/etc", "/usr", "/usr/lib"});
  sysroot_set(root.c_str());
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // For each file in turn: whether it exists, then its contents.
  FuzzedDataProvider input(data, size);
  for (const char* p : release_files) {
    std::string host = root + p;
    unlink(host.c_str());
    if (!input.ConsumeBool()) continue;
    std::string text = input.ConsumeRandomLengthString(2048);
    write_bytes(host, text.data(), text.size());
  }

  os_info_linux os;
  check_os_info(os);
  // The program-wide object is made afresh each run from this root.
  delete os_info::instance;
  os_info::instance = nullptr;
  check_os_info(*os_info::get_instance());
  delete os_info::instance;
  os_info::instance = nullptr;

  check_sysinfo();
  check_release_helpers();
  return 0;
}
