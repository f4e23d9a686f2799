#!/usr/bin/env bash
# Runs contrib/ansible/zelvarn2.yml with Ansible's local connection against
# this machine and two system roots given as host variables, then checks the
# three fetched containers and their JSON Lines.
#   ansible_test.sh SOURCE_DIR BINARY_DIR      (exit 77: skipped)
set -euo pipefail
src=$1 bin=$2
if ! command -v ansible-playbook >/dev/null; then
  echo "SKIP: ansible-playbook is not installed (Debian package ansible-core)"
  exit 77
fi
python=/usr/bin/python3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Two captured roots: a marker file and the memory of a small and a large machine.
for name in small large; do
  mkdir -p "$work/$name/proc"
  echo root > "$work/$name/.fixture-root"
done
cp "$src/tests/fixtures/meminfo/tiny.meminfo" "$work/small/proc/meminfo"
cp "$src/tests/fixtures/meminfo/server-768g.meminfo" "$work/large/proc/meminfo"

cat > "$work/hosts" <<HOSTS
thismachine ansible_connection=local
small ansible_connection=local zelvarn2_sysroot=$work/small
large ansible_connection=local zelvarn2_sysroot=$work/large

[all:vars]
ansible_python_interpreter=$python
HOSTS

export ANSIBLE_HOME="$work/ansible-home" ANSIBLE_LOCAL_TEMP="$work/ansible-tmp" ANSIBLE_REMOTE_TEMP="$work/ansible-tmp"
export ANSIBLE_NOCOLOR=1 ANSIBLE_RETRY_FILES_ENABLED=0 ANSIBLE_HOST_KEY_CHECKING=0 ANSIBLE_FORKS=3
ansible-playbook -i "$work/hosts" "$src/contrib/ansible/zelvarn2.yml" \
  -e zelvarn2_program="$bin/zelvarn2" -e zelvarn2_fetch_dir="$work/fetched" -e zv2tool="$bin/zv2tool" \
  -e '{"zelvarn2_options": ["-probe", "MEMORY_INFORMATION"], "zelvarn2_time_limit": 300}' > "$work/play.log" 2>&1 || {
  cat "$work/play.log"
  echo "FAIL: the playbook failed"
  exit 1
}

"$python" - "$work/fetched" <<'PY'
import glob, json, os, sys
fetched = sys.argv[1]
hosts = sorted(os.listdir(fetched))
assert hosts == ["large", "small", "thismachine"], hosts
memory = {}
for host in hosts:
    boxes = glob.glob(os.path.join(fetched, host, "*.ZV2"))
    assert len(boxes) == 1, (host, boxes)
    rows = [json.loads(line) for line in open(boxes[0] + ".jsonl", encoding="utf-8")]
    assert rows and all(r["file"] == os.path.basename(boxes[0]) for r in rows), host
    for r in rows:
        if r.get("table") == "Memory Statistics" and r.get("row") == "PHYSICAL_MEMORY":
            memory[host] = int(r["Total (bytes)"])
print(memory)
assert memory["small"] == 99 * 1024, memory
assert memory["large"] > 700 * 1024 ** 3, memory
assert memory["thismachine"] not in (memory["small"], memory["large"]), memory
print("ansible playbook: 3 containers fetched and read, 1 passed, 0 failed")
PY
