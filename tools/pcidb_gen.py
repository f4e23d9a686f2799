#!/usr/bin/env python3
"""Writes pcidb.txt from a PCI id list in the pci.ids layout.

    pcidb_gen.py PCI_IDS OUTPUT

Vendors become V records, their devices D records and each device's
subsystems X records (subsystem vendor * 65536 + subsystem id). The class
list at the end of the id list follows the vendors: each class becomes a C
record (base class) and each of its sub-classes a U record (base class * 256
+ sub-class); programming interfaces are left out. Names stay UTF-8; a
record line is kept within 255 bytes, cut at a character boundary.
"""
import sys

LIMIT = 255


def record(kind, ident, name):
    width = {"X": 8, "C": 2}.get(kind, 4)
    line = ("%s %0*x %s" % (kind, width, ident, name)).encode("utf-8")
    if len(line) > LIMIT:
        line = line[:LIMIT].decode("utf-8", "ignore").encode("utf-8")
    return line + b"\n"


def convert(source, out):
    version = ""
    count = 0
    records = []
    classes = []
    in_classes = False
    base_class = None
    have_device = False
    for raw in source:
        text = raw.decode("utf-8", "replace").rstrip("\r\n")
        if text.startswith("#"):
            if "Version:" in text and not version:
                version = text.split("Version:", 1)[1].strip()
            continue
        if not text.strip():
            continue
        depth = len(text) - len(text.lstrip("\t"))
        if text.startswith("C "):
            in_classes = True
            base_class = None
            fields = text[2:].split(None, 1)
            try:
                if len(fields) == 2 and len(fields[0]) == 2:
                    base_class = int(fields[0], 16)
                    classes.append(record("C", base_class, fields[1].strip()))
                    count += 1
            except ValueError:
                base_class = None
            continue
        fields = text.lstrip("\t").split(None, 1 if depth < 2 else 2)
        if depth == 0:
            in_classes = False
            have_device = False
        if in_classes:
            try:
                if depth == 1 and base_class is not None and len(fields) == 2 and len(fields[0]) == 2:
                    classes.append(record("U", base_class * 256 + int(fields[0], 16), fields[1].strip()))
                    count += 1
            except ValueError:
                pass
            continue
        try:
            if depth == 0 and len(fields) == 2:
                records.append(record("V", int(fields[0], 16), fields[1].strip()))
            elif depth == 1 and len(fields) == 2:
                records.append(record("D", int(fields[0], 16), fields[1].strip()))
                have_device = True
            elif depth == 2 and len(fields) == 3 and have_device:
                ident = int(fields[0], 16) * 65536 + int(fields[1], 16)
                records.append(record("X", ident, fields[2].strip()))
            else:
                continue
        except ValueError:
            continue
        count += 1
    out.write(("# PCI device names generated from the PCI id list, version %s\n"
               % (version or "unknown")).encode("utf-8"))
    out.writelines(records)
    out.writelines(classes)
    return count


def main():
    if len(sys.argv) != 3:
        sys.exit("usage: pcidb_gen.py PCI_IDS OUTPUT")
    with open(sys.argv[1], "rb") as source, open(sys.argv[2] + ".part", "wb") as out:
        count = convert(source, out)
    import os
    os.replace(sys.argv[2] + ".part", sys.argv[2])
    print("pcidb.txt: %d records from %s" % (count, sys.argv[1]))


if __name__ == "__main__":
    main()
