// browser_test.cpp - the HTML report of a captured machine opened in a real
// browser (headless Chromium): it loads without console errors, every entry
// of its table of contents reaches its anchor, and hostile values show as
// text. Skipped where Chromium is not installed.
#include "zvtest.h"

#include "smbios_root.h"

namespace {

std::string find_chromium() {
  for (const char* p : {"/usr/bin/chromium", "/usr/bin/chromium-browser", "/usr/bin/google-chrome"})
    if (access(p, X_OK) == 0) return p;
  return "";
}

// Put around the report: the first script collects errors and console
// errors from the start; the last one follows every contents link as a user
// would (the fragment, then what the browser takes as its target) and
// writes what it saw into the page, which --dump-dom then prints.
const char* const kCollect =
    "<script>window.zvErrors=[];"
    "window.addEventListener('error',function(e){zvErrors.push(e.message||'resource '+e.target.outerHTML)},true);"
    "console.error=function(){zvErrors.push(Array.prototype.join.call(arguments,' '))};</script>";
const char* const kFollow =
    "<script>(function(){var out=[],links=document.querySelectorAll('#toc a');"
    "for(var i=0;i<links.length;i++){location.hash=links[i].hash;"
    "var name=decodeURIComponent(links[i].hash.slice(1));"
    "var anchor=document.getElementsByName(name)[0]||document.getElementById(name);"
    "out.push((anchor&&document.querySelector(':target')===anchor?'reached ':'MISSED ')+name);}"
    "out.push('title '+document.title);out.push('errors '+zvErrors.join(' | '));"
    "var p=document.createElement('pre');p.id='zvcheck';p.textContent=out.join('\\n');"
    "document.body.appendChild(p);})();</script>";

const std::string kHostileHost = "<script>document.title='host ran'</script>pc1";
const std::string kHostileHosts = "10.0.0.9 <script>document.title='hosts-ran'</script>\n";

TEST(BrowserE2E, HtmlReportLoadsCleanlyFollowsEveryContentsLinkAndShowsHostileValuesAsText) {
  std::string chromium = find_chromium();
  if (chromium.empty()) GTEST_SKIP() << "no Chromium (Debian package chromium): the HTML report is not opened";

  smbios_test::temp_root root;
  smbios_test::dump machine;
  ASSERT_TRUE(smbios_test::load_machine("lenovo-thinkpad-t480s", machine));
  ASSERT_TRUE(smbios_test::write_sysfs_tables(root, machine));
  ASSERT_TRUE(root.write("proc/sys/kernel/hostname", kHostileHost + "\n"));
  ASSERT_TRUE(root.write("etc/hosts", "127.0.0.1 localhost\n" + kHostileHosts));
  ASSERT_TRUE(root.write("proc/meminfo", "MemTotal: 16318412 kB\nMemFree: 9120044 kB\n"));

  // The display probe finds no display and the SCSI probe no generic nodes:
  // both are in the contents but write no section of their own.
  zvtest::temp_dir cwd;
  zvtest::run_options o;
  o.args = {"-batch", "-html", "-filename", "report", "-sysroot", root.path(), "-probe",
            "SYSTEM_SUMMARY;SMBIOS_INFORMATION;NETWORK;MEMORY_INFORMATION;SCSI_DEVICES;DISPLAY_INFORMATION"};
  o.env = {{"DISPLAY", ""}};
  o.cwd = cwd.path();
  zvtest::run_result r = zvtest::run_program(o);
  ASSERT_EQ(r.status, 0) << r.err;
  std::string report = zvtest::read_file(cwd.file("report.HTML"));
  ASSERT_FALSE(report.empty());
  size_t head = report.find("<head>");
  ASSERT_NE(head, std::string::npos);
  ASSERT_TRUE(zvtest::write_file(cwd.path(), "check.html",
                                 report.substr(0, head + 6) + kCollect + report.substr(head + 6) + kFollow));

  zvtest::temp_dir profile;
  zvtest::run_options b;
  b.program = chromium;
  b.args = {"--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
            "--disable-background-networking", "--disable-component-update", "--disable-sync",
            "--user-data-dir=" + profile.path(), "--enable-logging=stderr", "--v=0", "--dump-dom",
            "file://" + cwd.file("check.html")};
  b.cwd = cwd.path();
  b.timeout_seconds = 120;
  zvtest::run_result page = zvtest::run_program(b);
  ASSERT_TRUE(page.exited && page.status == 0) << page.err.substr(0, 2000);
  size_t at = page.out.find("<pre id=\"zvcheck\">");
  ASSERT_NE(at, std::string::npos) << page.out.substr(0, 2000);
  std::istringstream seen(page.out.substr(at + 18, page.out.find("</pre>", at) - at - 18));

  std::vector<std::string> reached;
  std::string line;
  while (std::getline(seen, line)) {
    if (line.rfind("reached ", 0) == 0) reached.push_back(line.substr(8));
    EXPECT_NE(line.rfind("MISSED ", 0), 0u) << "a contents link that reaches nothing: " << line;
    if (line.rfind("title ", 0) == 0) {
      EXPECT_EQ(line, "title Zelvarn Output") << "a value ran as a script";
    } else if (line.rfind("errors", 0) == 0) {
      EXPECT_EQ(line, "errors ") << "errors on the page";
    }
  }
  EXPECT_EQ(reached, (std::vector<std::string>{"SYSTEM SUMMARY", "SCSI Devices", "NETWORK", "MEMORY INFORMATION",
                                               "Display Information", "SMBIOS INFORMATION"}));
  EXPECT_EQ(page.err.find(":CONSOLE("), std::string::npos) << page.err;
  // The hostile values are there as text, escaped in the page's markup.
  for (const std::string& hostile : {kHostileHost, kHostileHosts.substr(9, kHostileHosts.size() - 10)}) {
    std::string shown = hostile;
    for (size_t p = 0; (p = shown.find('<', p)) != std::string::npos;) shown.replace(p, 1, "&lt;");
    for (size_t p = 0; (p = shown.find('>', p)) != std::string::npos;) shown.replace(p, 1, "&gt;");
    EXPECT_NE(page.out.find(shown), std::string::npos) << shown;
  }
}

}  // namespace
