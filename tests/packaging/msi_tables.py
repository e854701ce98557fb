#!/usr/bin/env python3
"""Checks an MSI's tables with msitools: msi_tables.py MSI BITS

- no self-registration (no SelfReg table) and no other way of running DLL code;
- the Registry table holds exactly the rows of the registration facts, per
  user or per machine (root -1), for every server, with the installed paths;
- a validation pass: every Registry, File and FeatureComponents row names a
  component that exists, every component is in a feature, no component code is
  used twice, and each component is 64-bit exactly when the package is;
- the summary says no elevation is needed (Word Count bit 3), for per-user installs;
- msidump can dump every table.
"""
import pathlib
import subprocess
import sys
import tempfile

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[2] / "cmake"))
import com_registration as facts  # noqa: E402


def table(msi, name):
    text = subprocess.run(["msiinfo", "export", msi, name], check=True, capture_output=True, text=True).stdout
    lines = text.split("\r\n") if "\r\n" in text else text.split("\n")
    return [line.split("\t") for line in lines[3:] if line]


def main(msi, bits):
    failures = []
    tables = subprocess.run(["msiinfo", "tables", msi], check=True, capture_output=True, text=True).stdout.split()
    for forbidden in ("SelfReg", "Class", "TypeLib", "ProgId"):
        if forbidden in tables and table(msi, forbidden):
            failures.append(f"the package has {forbidden} rows")
    actions = {row[0] for row in table(msi, "InstallExecuteSequence")}
    for forbidden in ("SelfRegModules", "RegisterTypeLibraries", "RegisterClassInfo"):
        if forbidden in actions:
            failures.append(f"the execute sequence runs {forbidden}")

    expected = set()
    for name, server in facts.servers().items():
        for key, value_name, value in facts.rows(server, bits):
            value = {facts.FILE: f"[#{name}.dll]", facts.FOLDER: "[INSTALLFOLDER]"}.get(value, value)
            expected.add(("-1", "Software\\Classes\\" + key, value_name or "", value, name))
    got = {tuple(row[1:6]) for row in table(msi, "Registry")}
    for row in sorted(expected - got):
        failures.append(f"Registry lacks {row}")
    for row in sorted(got - expected):
        failures.append(f"Registry has a row the facts do not: {row}")

    components = {row[0]: row for row in table(msi, "Component")}
    in_features = {row[1] for row in table(msi, "FeatureComponents")}
    for row in table(msi, "Registry"):
        if row[5] not in components:
            failures.append(f"Registry row {row[0]} names no component")
    for row in table(msi, "File"):
        if row[1] not in components:
            failures.append(f"file {row[0]} names no component")
    codes = [row[1] for row in components.values()]
    if len(set(codes)) != len(codes):
        failures.append("a component code is used twice")
    for name, row in components.items():
        if name not in in_features:
            failures.append(f"component {name} is in no feature")
        if bool(int(row[3]) & 256) != (bits == 64):
            failures.append(f"component {name} has attributes {row[3]} in a {bits}-bit package")

    summary = subprocess.run(["msiinfo", "suminfo", msi], check=True, capture_output=True, text=True).stdout
    word_count = [line.split()[1] for line in summary.splitlines() if line.startswith("Source:")]
    if not word_count or not int(word_count[0]) & 8:
        failures.append(f"Word Count {word_count} asks for elevation")

    with tempfile.TemporaryDirectory() as dump:
        result = subprocess.run(["msidump", "-d", dump, "-t", msi], capture_output=True, text=True)
        if result.returncode != 0 or not list(pathlib.Path(dump).glob("*.idt")):
            failures.append(f"msidump failed: {result.stderr.strip()}")

    for failure in failures:
        print("FAIL:", failure)
    print(f"{msi}: {len(got)} registry rows, {len(components)} components, {len(failures)} failures")
    return 1 if failures else 0


if __name__ == "__main__":
    if len(sys.argv) != 3:
        raise SystemExit(__doc__)
    sys.exit(main(sys.argv[1], int(sys.argv[2])))
