#!/usr/bin/env python3
"""Checks contrib/kubernetes/zelvarn2-daemonset.yaml with a YAML parser: a
DaemonSet in the node's process and network namespaces that mounts the
node's root read-only at /host and runs the gatherer with -sysroot /host.
   kubernetes_test.py SOURCE_DIR      (exit 77: skipped)"""
import os
import sys

try:
    import yaml
except ImportError:
    print("SKIP: the YAML parser for Python is not installed (Debian package python3-yaml)")
    sys.exit(77)

path = os.path.join(sys.argv[1], "contrib", "kubernetes", "zelvarn2-daemonset.yaml")
docs = [d for d in yaml.safe_load_all(open(path, encoding="utf-8")) if d]
sets = [d for d in docs if d.get("kind") == "DaemonSet"]
assert len(sets) == 1, [d.get("kind") for d in docs]
pod = sets[0]["spec"]["template"]["spec"]
assert pod["hostPID"] is True and pod["hostNetwork"] is True
volumes = {v["name"]: v for v in pod["volumes"]}
gather = [c for c in pod["initContainers"] + pod["containers"] if "zelvarn2" in " ".join(c["command"])]
assert len(gather) == 1, gather
command = gather[0]["command"]
assert command[-4:] == ["-batch", "-silent", "-sysroot", "/host"] or \
    ["-sysroot", "/host"] == command[command.index("-sysroot"):command.index("-sysroot") + 2], command
assert "-batch" in command
mounts = {m["mountPath"]: m for m in gather[0]["volumeMounts"]}
host = mounts["/host"]
assert host.get("readOnly") is True, host
assert volumes[host["name"]]["hostPath"]["path"] == "/", volumes[host["name"]]
assert gather[0]["securityContext"].get("readOnlyRootFilesystem") is True
out = mounts[gather[0]["workingDir"]]
assert not out.get("readOnly"), out
assert sets[0]["spec"]["selector"]["matchLabels"] == sets[0]["spec"]["template"]["metadata"]["labels"]
print("kubernetes manifest: 1 passed, 0 failed")
