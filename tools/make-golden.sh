#!/usr/bin/env bash
# Regenerates the golden reports under tests/fixtures/golden/ on purpose:
# captures the fixture machines of the tests (and this machine) with
# -capture, then replays each capture with -sysroot and keeps its reports in
# every output form. Run by hand, as root (the machine's own capture reads
# /dev/mem and the PCI configuration space); never run in CI.
#   tools/make-golden.sh BUILD_DIR [MACHINE...]
# Without MACHINE names every machine is made again. The minimal Debian root
# of tools/make-debroot.sh is captured when it is there
# (/var/tmp/zelvarn2-debroot or $ZV_DEBROOT).
set -euo pipefail

if [ $# -lt 1 ]; then
  echo "usage: $0 BUILD_DIR [MACHINE...]" >&2
  exit 2
fi
src=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "$1" && pwd)
shift
program=$build/zelvarn2
tool=$build/zv2tool
# The test build's zelvarn2 with the plain XML or ORNA output format.
profile=$build/tests/zelvarn2-profile
golden=$src/tests/fixtures/golden
debroot=${ZV_DEBROOT:-/var/tmp/zelvarn2-debroot}
[ -x "$program" ] && [ -x "$tool" ] && [ -x "$profile" ] ||
  { echo "make-golden: no zelvarn2/zv2tool/tests/zelvarn2-profile in $build" >&2; exit 1; }
[ "$(id -u)" = 0 ] || { echo "make-golden: run as root (the goldens name root as the current user)" >&2; exit 1; }

# What tests/e2e/golden_test.cpp gives every run: the same clock, zone,
# locale and home, and nothing else of this shell's environment (the capture
# of this machine keeps its variables, which its replay reports).
fixed_env=(env -i PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin
           SOURCE_DATE_EPOCH=1700000000 TZ=UTC LC_ALL=C.UTF-8 LANG=C.UTF-8 HOME=/root)
# Left out of every golden run: the self-report (it names the build stamp,
# program path, working directory, arguments, system root and capture), the
# display (the probe applies only when DISPLAY is set) and the file scan (far
# too large).
whole_run="-skip GATHERER_INFORMATION;Display_Information;FILESCAN"

work=$(mktemp -d /tmp/zv-golden.XXXXXX)
trap 'rm -rf "$work"' EXIT

# Builds the fixture roots the tests build in memory: an SMBIOS dump as the
# kernel's table files, a PCI listing with hex dumps as /proc/bus/pci.
make_root() {  # kind source root
  python3 - "$@" <<'EOF'
import os, re, struct, sys
kind, source, root = sys.argv[1:4]
def put(rel, data):
    path = os.path.join(root, rel)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)
def fix(b, start, n, at):
    b[at] = 0
    b[at] = (0x100 - sum(b[start:start + n]) % 0x100) % 0x100
if kind == "smbios":
    data = open(source, "rb").read()
    if source.endswith(".dmi"):
        # A raw table: a 32-bit entry point of revision 3.3 is made for it.
        table = data
        e = bytearray(0x1F)
        e[0:4] = b"_SM_"; e[5] = 0x1F; e[6] = 3; e[7] = 3
        e[0x10:0x15] = b"_DMI_"
        struct.pack_into("<HI", e, 0x16, len(table), 0x20)
        e[0x1E] = 0x33
        fix(e, 0x10, 15, 0x15); fix(e, 0, 0x1F, 4)
        entry = bytes(e)
    else:
        entry = data[:0x18] if data[:5] == b"_SM3_" else data[:0x1F]
        table = data[0x20:]
    put("sys/firmware/dmi/tables/smbios_entry_point", entry)
    put("sys/firmware/dmi/tables/DMI", table)
else:
    head = re.compile(r"^([0-9a-f]{2}):([0-9a-f]{2}\.[0-7]) ")
    hexl = re.compile(r"^[0-9a-f]+:((?: [0-9a-f]{2})+)$")
    files, current = {}, None
    for line in open(source, encoding="utf-8", errors="replace"):
        line = line.rstrip("\n")
        m = head.match(line)
        if m:
            current = "proc/bus/pci/%s/%s" % (m.group(1), m.group(2))
            files.setdefault(current, bytearray())
            continue
        m = hexl.match(line)
        if current and m:
            files[current] += bytes(int(x, 16) for x in m.group(1).split())
    for rel, data in files.items():
        put(rel, bytes(data))
EOF
}

# Captures one machine: root ("" for this machine) and the options of its runs.
capture() {  # name root options
  local name=$1 root=$2 options=$3
  local dir=$golden/$name cwd=$work/run-$name
  echo "make-golden: $name"
  rm -rf "$dir/capture" "$cwd"
  mkdir -p "$dir" "$cwd"
  cp "$src/tests/fixtures/pci/pcidb.txt" "$cwd/"
  local args=(-batch -local -stdout -text $options -capture "$dir/capture")
  [ -n "$root" ] && args+=(-sysroot "$root")
  (cd "$cwd" && "${fixed_env[@]}" "$program" "${args[@]}" >/dev/null 2>"$cwd/capture.err") ||
    { cat "$cwd/capture.err" >&2; exit 1; }
  # Git keeps no empty directory: the goldens are made from the capture as a
  # checkout holds it.
  find "$dir/capture" -mindepth 1 -type d -empty -delete
  chmod -R u=rwX,go=rX "$dir/capture"
  printf '%s\n' "$options" >"$dir/options"
  replay "$name"
}

# Replays a capture in every output form: those a command-line option gives,
# and plain XML and ORNA, which only the test build's profile program writes.
replay() {  # name
  local name=$1 dir=$golden/$1 cwd=$work/replay-$1
  local options
  options=$(cat "$dir/options")
  rm -rf "$cwd" && mkdir -p "$cwd"
  rm -f "$dir"/report.*
  cp "$src/tests/fixtures/pci/pcidb.txt" "$cwd/"
  local base=(-batch $options -sysroot "$dir/capture")
  run_in() { (cd "$cwd" && "${fixed_env[@]}" "$program" "$@" >/dev/null 2>"$cwd/err") || { cat "$cwd/err" >&2; exit 1; }; }
  # Checksummed XML: the container's report item (the same bytes as -local).
  run_in "${base[@]}" -filename golden
  "$tool" extract "$cwd/golden.ZV2" report "$dir/report.xml" >/dev/null
  # Text: the report item of the ".GTH" container.
  run_in "${base[@]}" -text -filename golden
  "$tool" extract "$cwd/golden.GTH" report "$dir/report.txt" >/dev/null
  # HTML: a loose file.
  run_in "${base[@]}" -html -filename golden
  cp "$cwd/golden.HTML" "$dir/report.html"
  # Plain XML and ORNA: the report item of the container.
  local form
  for form in plain:xml orna:orna; do
    rm -f "$cwd/golden.ZV2"
    (cd "$cwd" && "${fixed_env[@]}" "$profile" "${form#*:}" "${base[@]}" -filename golden >/dev/null 2>"$cwd/err") ||
      { cat "$cwd/err" >&2; exit 1; }
    "$tool" extract "$cwd/golden.ZV2" report "$dir/report.${form%%:*}.xml" >/dev/null
  done
  # As a checkout holds them: readable by the user who runs the tests.
  chmod 644 "$dir"/report.*
}

machines=()
for d in "$src"/tests/fixtures/machines/*/; do machines+=("smbios-$(basename "$d")"); done
for d in "$src"/tests/fixtures/pci/machines/*/; do machines+=("pci-$(basename "$d")"); done
machines+=(startup-legacy)
[ -f "$debroot/.complete" ] && machines+=(debian-minimal)
machines+=(build-machine)
[ $# -gt 0 ] && machines=("$@")

for m in "${machines[@]}"; do
  case $m in
    smbios-*)
      f=$(find "$src/tests/fixtures/machines/${m#smbios-}" -name '*.bin' -o -name '*.dmi' | sort | head -1)
      rm -rf "$work/root" && mkdir "$work/root"
      make_root smbios "$f" "$work/root"
      capture "$m" "$work/root" "-probe SYSTEM_SUMMARY;SMBIOS_INFORMATION" ;;
    pci-*)
      f=$(find "$src/tests/fixtures/pci/machines/${m#pci-}" -name '*.lspci.txt' | sort | head -1)
      rm -rf "$work/root" && mkdir "$work/root"
      make_root pci "$f" "$work/root"
      capture "$m" "$work/root" "-probe PCI_DEVICES;PCI_ADAPTER_INFORMATION" ;;
    startup-legacy) capture "$m" "$src/tests/fixtures/startup/legacy/root" "$whole_run" ;;
    debian-minimal) capture "$m" "$debroot" "$whole_run" ;;
    build-machine) capture "$m" "" "$whole_run" ;;
    *) echo "make-golden: unknown machine $m" >&2; exit 1 ;;
  esac
done
du -sh "$golden"/*/ | sed 's/^/make-golden: /'
