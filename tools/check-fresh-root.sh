#!/usr/bin/env bash
# Checks the README's two commands (the quick start and the test command) the
# way a new user meets them: on fresh minimal Debian 12 roots made with
# mmdebstrap, once as root with no sudo installed and once as a normal user
# who may use sudo. Each root gets a copy of the committed tree (git archive
# HEAD), has /proc, /sys and /dev mounted, and runs the two commands exactly
# as README.md spells them, in a chroot. The roots share one directory of
# downloaded packages, so the second one downloads nothing twice.
#
# Slow (two fresh builds, the test set-up twice) and needs root, mmdebstrap
# and a Debian mirror; not part of .ci/run.
#   tools/check-fresh-root.sh [WORKDIR]   exit 0 when both commands pass in both roots
set -uo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
work=${1:-/var/tmp/zv-fresh-root.$$}
suite=${ZV_FRESH_SUITE:-bookworm}
[ "$(id -u)" -eq 0 ] || { echo "check-fresh-root: run as root"; exit 2; }
command -v mmdebstrap >/dev/null || { echo "check-fresh-root: mmdebstrap is not installed"; exit 2; }
mkdir -p "$work/debs" || exit 2

# The commands, as README.md has them (indented lines setting SUDO).
mapfile -t commands < <(grep -E '^    SUDO=\$\(command -v sudo\);' "$top/README.md" | sed 's/^    //')
[ ${#commands[@]} -eq 2 ] || { echo "check-fresh-root: README.md does not hold the two commands"; exit 2; }
git -C "$top" archive --format=tar HEAD >"$work/src.tar" || exit 2

mounted() { grep -q " $1" /proc/mounts; }

# Every mount under the root, deepest first: also those made inside it
# (the namespace test's "ip netns add" leaves /run/netns mounted).
unmount_all() {
  local root=$1 m
  for m in $(awk -v r="$root/" 'index($2, r) == 1 { print $2 }' /proc/mounts | sort -r); do
    umount "$m" || umount -l "$m"
  done
}

# Runs one README command in the root, as root or as the user "zv"; the log
# is WORKDIR/<mode>-<step>.log. Prints the seconds taken; returns its status.
run_in() {
  local root=$1 mode=$2 step=$3 cmd=$4 rc start
  local envs=(env -i PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin TERM=dumb)
  start=$(date +%s)
  if [ "$mode" = root ]; then
    chroot "$root" "${envs[@]}" HOME=/root /bin/bash -c "cd /root/src && $cmd" >"$work/$mode-$step.log" 2>&1
  else
    chroot "$root" /usr/sbin/runuser -u zv -- "${envs[@]}" HOME=/home/zv USER=zv \
      /bin/bash -c "cd /home/zv/src && $cmd" >"$work/$mode-$step.log" 2>&1
  fi
  rc=$?
  echo $(( $(date +%s) - start ))
  return $rc
}

trap 'for m in root user; do unmount_all "$work/$m"; done' EXIT
results=()
status=0
for mode in root user; do
  root="$work/$mode"
  home=/root; [ "$mode" = user ] && home=/home/zv
  include=(); [ "$mode" = user ] && include=(--include=sudo)
  echo "=== $mode: making a fresh $suite root"
  start=$(date +%s)
  if ! mmdebstrap --quiet --variant=minbase "${include[@]}" "$suite" "$root" </dev/null >"$work/$mode-debstrap.log" 2>&1; then
    results+=("$mode: mmdebstrap FAILED (see $work/$mode-debstrap.log)"); status=1; continue
  fi
  t_root=$(( $(date +%s) - start ))
  cp /etc/resolv.conf "$root/etc/resolv.conf"
  echo "$(hostname)" >"$root/etc/hostname"
  printf '127.0.0.1 localhost\n127.0.1.1 %s\n' "$(hostname)" >"$root/etc/hosts"
  if [ "$mode" = user ]; then
    chroot "$root" useradd -m -s /bin/bash zv
    echo 'zv ALL=(ALL) NOPASSWD: ALL' >"$root/etc/sudoers.d/zv" && chmod 440 "$root/etc/sudoers.d/zv"
  fi
  mkdir -p "$root$home/src" && tar -xf "$work/src.tar" -C "$root$home/src"
  [ "$mode" = user ] && chroot "$root" chown -R zv:zv /home/zv/src
  pkgs_before=$(chroot "$root" dpkg-query -f '.\n' -W | wc -l)
  mount -t proc proc "$root/proc" && mount -t sysfs sys "$root/sys" &&
    mount --bind /dev "$root/dev" && mount -t devpts -o newinstance,ptmxmode=0666 devpts "$root/dev/pts" &&
    mount --bind "$work/debs" "$root/var/cache/apt/archives" ||
    { unmount_all "$root"; results+=("$mode: mounts FAILED"); status=1; continue; }

  echo "=== $mode: quick start"
  t_quick=$(run_in "$root" "$mode" quick "${commands[0]}"); rc_quick=$?
  pcidb=absent; [ -s "$root$home/src/build/pcidb.txt" ] && pcidb=present
  pci_line=$(grep -a "PCI DEVICES" "$work/$mode-quick.log" | tail -1 | tr -s '.' | tr -d '\r')
  pkgs_quick=$(chroot "$root" dpkg-query -f '.\n' -W | wc -l)
  echo "=== $mode: test command"
  t_test=$(run_in "$root" "$mode" test "${commands[1]}"); rc_test=$?
  pkgs_test=$(chroot "$root" dpkg-query -f '.\n' -W | wc -l)
  counts=$(grep -E "tests passed|tests failed" "$work/$mode-test.log" | tail -1)
  skipped=$(grep -c "(Skipped)$" "$work/$mode-test.log")
  unmount_all "$root"

  results+=("$mode: root made in ${t_root}s ($pkgs_before packages)")
  results+=("$mode: quick start exit $rc_quick in ${t_quick}s, $pkgs_quick packages, pcidb.txt $pcidb; console: ${pci_line:-no PCI line}")
  results+=("$mode: test command exit $rc_test in ${t_test}s, $pkgs_test packages; ${counts:-no test summary}; $skipped skipped")
  [ $rc_quick -eq 0 ] && [ $rc_test -eq 0 ] && [ "$pcidb" = present ] || status=1
  # Never remove a root that still has anything mounted in it.
  if mounted "$root/"; then
    results+=("$mode: left at $root (still mounted)")
  elif [ -z "${ZV_FRESH_KEEP:-}" ]; then
    rm -rf "$root"
  fi
done

echo "=== fresh-root check (logs in $work)"
printf '%s\n' "${results[@]}"
exit $status
