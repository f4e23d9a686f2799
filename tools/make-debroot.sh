#!/usr/bin/env bash
# Makes, once, a minimal Debian root for the end-to-end tests of the start-up
# probes: real /etc, runlevel directories, an inittab and a few files under
# /boot. It is kept outside the work tree (default /var/tmp/zelvarn2-debroot,
# or $ZV_DEBROOT) and shared by every build; the tests skip when it is absent.
#   tools/make-debroot.sh        exit 0 when the root is there afterwards
set -u
dest=${ZV_DEBROOT:-/var/tmp/zelvarn2-debroot}
[ -f "$dest/.complete" ] && exit 0
if ! command -v mmdebstrap >/dev/null 2>&1 && ! command -v debootstrap >/dev/null 2>&1; then
  echo "make-debroot: neither mmdebstrap nor debootstrap is installed" >&2
  exit 1
fi
suite=${ZV_DEBROOT_SUITE:-$(. /etc/os-release 2>/dev/null && echo "${VERSION_CODENAME:-}")}
suite=${suite:-bookworm}
# sysvinit-core brings the inittab and the runlevel links, memtest86+ a few
# small files under /boot (a kernel would be far larger).
pkgs=sysvinit-core,memtest86+
tmp="$dest.tmp.$$"
trap 'rm -rf "$tmp"' EXIT
mkdir -p "$(dirname "$dest")"
if command -v mmdebstrap >/dev/null 2>&1; then
  timeout 900 mmdebstrap --quiet --variant=minbase --include="$pkgs" \
    --dpkgopt='path-exclude=/usr/share/{doc,man,locale}/*' "$suite" "$tmp" </dev/null || exit 1
else
  timeout 900 debootstrap --variant=minbase --include="$pkgs" "$suite" "$tmp" </dev/null >/dev/null || exit 1
fi
touch "$tmp/.complete"
rm -rf "$dest" && mv "$tmp" "$dest" || exit 1
trap - EXIT
echo "make-debroot: $dest"
