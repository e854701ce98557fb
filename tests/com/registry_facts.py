#!/usr/bin/env python3
"""Compares registry exports with the registration facts of cmake/ComClasses.txt.

  registry_facts.py present|absent SCOPE BITS MACHINE.reg USER.reg SERVER=DLL...

MACHINE.reg and USER.reg are `reg export` of HKLM\\Software\\Classes and
HKCU\\Software\\Classes. SCOPE (machine or user) is where the servers were
registered; DLL is the Windows path the registration should name.
present: every row of each server is there with its value, and no key the
server owns is in the other scope. absent: no key it owns is in either.
"""
import pathlib
import sys

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[2] / "cmake"))
import com_registration as facts  # noqa: E402


def read_export(path):
    """Key (lower case, relative to Software\\Classes) -> {value name or None: text}."""
    if not pathlib.Path(path).exists():
        return {}
    text = pathlib.Path(path).read_bytes().decode("utf-16")
    keys, current = {}, None
    for line in text.splitlines():
        if line.startswith("["):
            name = line.strip()[1:-1]
            relative = name.split("\\", 3)[3] if name.count("\\") >= 3 else ""
            current = keys.setdefault(relative.lower(), {})
        elif current is not None and "=" in line and line[:1] in ('@', '"'):
            name, _, value = line.partition("=")
            name = None if name == "@" else name[1:-1].replace('\\"', '"').replace("\\\\", "\\")
            if value.startswith('"'):
                value = value[1:-1].replace('\\"', '"').replace("\\\\", "\\")
            current[name.lower() if name else None] = value
    return keys


def owned_present(keys, server):
    found = []
    for owned in facts.owned_keys(server):
        prefix = owned.lower()
        found += [key for key in keys if key == prefix or key.startswith(prefix + "\\")]
    return found


def main(argv):
    if len(argv) < 7 or argv[1] not in ("present", "absent") or argv[2] not in ("machine", "user"):
        raise SystemExit(__doc__)
    state, scope, bits = argv[1], argv[2], int(argv[3])
    exports = {"machine": read_export(argv[4]), "user": read_export(argv[5])}
    other = "user" if scope == "machine" else "machine"
    known = facts.servers()
    failures = 0

    def fail(what):
        nonlocal failures
        failures += 1
        print("FAIL:", what)

    for pair in argv[6:]:
        name, _, dll = pair.partition("=")
        server = known[name]
        if state == "absent":
            for where in ("machine", "user"):
                for key in owned_present(exports[where], server):
                    fail(f"{name}: left behind in the {where} scope: {key}")
            continue
        folder = dll.rsplit("\\", 1)[0]
        for key, value_name, value in facts.rows(server, bits):
            expected = {facts.FILE: dll, facts.FOLDER: folder}.get(value, value)
            values = exports[scope].get(key.lower())
            if values is None:
                fail(f"{name}: no key {key}")
                continue
            got = values.get(value_name.lower() if value_name else None)
            if value in (facts.FILE, facts.FOLDER):  # paths: case-blind, folders with or without the last "\"
                same = got is not None and got.rstrip("\\").lower() == expected.rstrip("\\").lower()
            else:
                same = got == expected
            if not same:
                fail(f"{name}: {key} {value_name or '(default)'} is {got!r}, not {expected!r}")
        for key in owned_present(exports[other], server):
            fail(f"{name}: registered per {scope}, yet written per {other}: {key}")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
