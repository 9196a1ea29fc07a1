#!/usr/bin/env python3
"""Checks a machine-readable Debian copyright file: its stanzas parse, every
Files stanza has its copyright and license, every license named has its text,
and (given the viewer's package-lock.json) every npm package it names is the
one the lock pins, with OpenSheetMusicDisplay at the locked version.
Usage: check-copyright.py COPYRIGHT [PACKAGE_LOCK]"""
import json
import re
import sys

FORMAT = "https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/"


def stanzas(text):
    """Splits the file into stanzas of {field: (first line, continuation lines)}."""
    result = []
    for number, block in enumerate(re.split(r"\n[ \t]*\n", text.strip("\n")), 1):
        fields, last = {}, None
        for line in block.split("\n"):
            if line.startswith((" ", "\t")):
                if last is None:
                    raise ValueError(f"stanza {number}: a continuation line comes first: {line!r}")
                fields[last][1].append(line.strip())
                continue
            match = re.fullmatch(r"([A-Za-z][A-Za-z0-9-]*):[ \t]*(.*)", line)
            if not match:
                raise ValueError(f"stanza {number}: not a field: {line!r}")
            last = match.group(1)
            if last in fields:
                raise ValueError(f"stanza {number}: {last} appears twice")
            fields[last] = (match.group(2).strip(), [])
        result.append(fields)
    return result


def license_names(expression):
    return [name.strip() for name in re.split(r"\s+(?:or|and)\s+", expression) if name.strip()]


def check(text, lock=None):
    parts = stanzas(text)
    header, rest = parts[0], parts[1:]
    if header.get("Format", ("",))[0] != FORMAT:
        raise ValueError(f"the first stanza must start with Format: {FORMAT}")
    if "Upstream-Name" not in header:
        raise ValueError("the header stanza has no Upstream-Name")
    files = [s for s in rest if "Files" in s]
    texts = {s["License"][0]: s["License"][1] for s in rest if "Files" not in s and "License" in s}
    if not files or files[0]["Files"][0] != "*":
        raise ValueError("the first Files stanza must be Files: *")
    for stanza in rest:
        if "Files" not in stanza and ("License" not in stanza or not stanza["License"][1]):
            raise ValueError(f"a stanza that is neither Files nor a license text: {sorted(stanza)}")
    for stanza in files:
        where = stanza["Files"][0]
        for field in ("Copyright", "License"):
            if field not in stanza or not stanza[field][0]:
                raise ValueError(f"Files: {where} has no {field}")
        name, body = stanza["License"]
        for short in license_names(name):
            if not body and not texts.get(short):
                raise ValueError(f"Files: {where} names license {short} without its text")
    if lock is not None:
        locked = json.loads(lock)["packages"]
        for stanza in files:
            match = re.fullmatch(r"viewer/(node_modules/[^*]+)/\*", stanza["Files"][0])
            if match and match.group(1) not in locked:
                raise ValueError(f"{match.group(1)} is not in the viewer's package lock")
        osmd = locked["node_modules/opensheetmusicdisplay"]["version"]
        if f"OpenSheetMusicDisplay {osmd}" not in text:
            raise ValueError(f"OpenSheetMusicDisplay {osmd} (the locked version) is not named")
    return len(files), len(texts)


def main(argv):
    if len(argv) not in (2, 3):
        sys.exit(__doc__.splitlines()[-1])
    with open(argv[1], encoding="utf-8") as f:
        text = f.read()
    lock = None
    if len(argv) == 3:
        with open(argv[2], encoding="utf-8") as f:
            lock = f.read()
    try:
        files, licenses = check(text, lock)
    except ValueError as error:
        sys.exit(f"{argv[1]}: {error}")
    print(f"copyright: {files} Files stanzas, {licenses} license texts")


if __name__ == "__main__":
    main(sys.argv)
