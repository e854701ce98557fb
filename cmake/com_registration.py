#!/usr/bin/env python3
"""Registration facts of the COM servers, from cmake/ComClasses.txt and the IDLs.

Every consumer reads the same rows: the C++ header behind DllRegisterServer
and DllInstall, the registry rows of the MSI packages, and the tests (which
import this module). A row is (key, value name or None for the default
value, value), the key relative to Software\\Classes; the values FILE and
FOLDER stand for the installed DLL and its folder.

  com_registration.py header SERVER BITS OUT.h
  com_registration.py wix BITS OUT.wxs TOOL...   (every server, and the tools)
  com_registration.py product-code ARCH VERSION
"""
import pathlib
import re
import sys
import uuid

ROOT = pathlib.Path(__file__).resolve().parent.parent
TABLE = ROOT / "cmake" / "ComClasses.txt"
FILE = "<file>"
FOLDER = "<folder>"
# The type-library marshaler, which proxies dual and oleautomation interfaces.
TYPELIB_MARSHALER = "{00020424-0000-0000-C000-000000000046}"
# Names component and product codes so that they stay the same from build to build.
CODE_NAMESPACE = uuid.UUID("5b0f3a8e-2f57-4c8e-9d0a-6c1f0e7a4b21")


def braced(text):
    return "{" + text.strip().upper() + "}"


def attributes(block):
    found = {}
    for match in re.finditer(r'(\w+)\s*(?:\(\s*("[^"]*"|[^)]*)\s*\))?', block):
        found[match.group(1)] = (match.group(2) or "").strip('"')
    return found


def read_idl(path):
    text = re.sub(r"//[^\n]*", "", path.read_text())
    library = re.search(r"\[([^\[\]]*)\]\s*library\s+(\w+)", text)
    if not library:
        raise SystemExit(f"{path}: no library")
    lib = attributes(library.group(1))
    interfaces = []
    for match in re.finditer(r"\[([^\[\]]*)\]\s*(?:dispinterface|interface)\s+(\w+)", text):
        attrs = attributes(match.group(1))
        if "dual" in attrs or "oleautomation" in attrs:
            interfaces.append((match.group(2), braced(attrs["uuid"])))
    classes = {}
    for match in re.finditer(r"\[([^\[\]]*)\]\s*coclass\s+(\w+)", text):
        classes[match.group(2)] = braced(attributes(match.group(1))["uuid"])
    return {
        "name": library.group(2),
        "libid": braced(lib["uuid"]),
        "version": lib["version"],
        "lcid": format(int(lib.get("lcid", "0"), 0), "x"),
        "helpstring": lib.get("helpstring", library.group(2)),
        "interfaces": interfaces,
        "classes": classes,
    }


def servers():
    """Server name -> its library facts and its classes, in table order."""
    found = {}
    for line in TABLE.read_text().splitlines():
        if not line.strip() or line.lstrip().startswith("#"):
            continue
        idl, coclass, progid, description, threading, feature = (f.strip() for f in line.split("|"))
        library = read_idl(ROOT / idl)
        name = pathlib.Path(idl).stem
        if coclass not in library["classes"]:
            raise SystemExit(f"{TABLE}: {idl} has no coclass {coclass}")
        server = found.setdefault(name, {"library": library, "classes": [], "feature": feature})
        if server["feature"] != feature:
            raise SystemExit(f"{TABLE}: the classes of {name} are in two features")
        server["classes"].append({
            "clsid": library["classes"][coclass], "progid": progid,
            "description": description, "threading": threading,
        })
    return found


def rows(server, bits):
    """The registry rows of one server for a DLL of BITS (32 or 64)."""
    lib = server["library"]
    out = []
    for cls in server["classes"]:
        key = "CLSID\\" + cls["clsid"]
        out += [
            (key, None, cls["description"]),
            (key + "\\InprocServer32", None, FILE),
            (key + "\\InprocServer32", "ThreadingModel", cls["threading"]),
            (key + "\\ProgID", None, cls["progid"]),
            (key + "\\TypeLib", None, lib["libid"]),
            (key + "\\VERSION", None, lib["version"]),
            (cls["progid"], None, cls["description"]),
            (cls["progid"] + "\\CLSID", None, cls["clsid"]),
        ]
    version_key = f"TypeLib\\{lib['libid']}\\{lib['version']}"
    out += [
        (version_key, None, lib["helpstring"]),
        (version_key + "\\FLAGS", None, "0"),
        (version_key + "\\HELPDIR", None, FOLDER),
        (f"{version_key}\\{lib['lcid']}\\win{bits}", None, FILE),
    ]
    for name, iid in lib["interfaces"]:
        out += [
            ("Interface\\" + iid, None, name),
            ("Interface\\" + iid + "\\ProxyStubClsid32", None, TYPELIB_MARSHALER),
            ("Interface\\" + iid + "\\TypeLib", None, lib["libid"]),
            ("Interface\\" + iid + "\\TypeLib", "Version", lib["version"]),
        ]
    return out


def owned_keys(server):
    """The keys that belong to the server alone: unregistering deletes them whole."""
    lib = server["library"]
    keys = []
    for cls in server["classes"]:
        keys += ["CLSID\\" + cls["clsid"], cls["progid"]]
    keys.append("TypeLib\\" + lib["libid"])
    keys += ["Interface\\" + iid for _, iid in lib["interfaces"]]
    return keys


def wide(text):
    return 'L"' + text.replace("\\", "\\\\").replace('"', '\\"') + '"'


def header(name, bits):
    server = servers()[name]
    kinds = {FILE: "modulePath", FOLDER: "moduleFolder"}
    lines = [
        f"// Generated by cmake/com_registration.py from cmake/ComClasses.txt and {name}.idl.",
        "#pragma once",
        '#include "automation/Registration.h"',
        "",
        f"inline constexpr qel::automation::RegistryRow k{name}RegistryRows[] = {{",
    ]
    for key, value_name, value in rows(server, bits):
        kind = kinds.get(value, "text")
        text = "nullptr" if kind != "text" else wide(value)
        lines.append(f"    {{{wide(key)}, {wide(value_name) if value_name else 'nullptr'}, "
                     f"qel::automation::RowValue::{kind}, {text}}},")
    lines += ["};", f"inline constexpr const wchar_t* k{name}OwnedKeys[] = {{"]
    lines += [f"    {wide(key)}," for key in owned_keys(server)]
    lines += ["};", f"inline constexpr qel::automation::ServerRegistration k{name}Registration{{",
              f"    k{name}RegistryRows, k{name}OwnedKeys,", "};", ""]
    return "\n".join(lines)


def code(*parts):
    return str(uuid.uuid5(CODE_NAMESPACE, "/".join(parts))).upper()


def xml(text):
    return text.replace("&", "&amp;").replace('"', "&quot;").replace("<", "&lt;")


def wix(bits, tools):
    """A fragment with one component per server (its DLL and its rows) and per
    tool, grouped by feature; the product source includes the groups."""
    arch = "x64" if bits == 64 else "x86"
    out = ['<?xml version="1.0" encoding="utf-8"?>',
           "<!-- Generated by cmake/com_registration.py from cmake/ComClasses.txt and the IDLs. -->",
           '<Wix xmlns="http://schemas.microsoft.com/wix/2006/wi">', "  <Fragment>",
           '    <DirectoryRef Id="INSTALLFOLDER">']
    win64 = "yes" if bits == 64 else "no"
    groups = {}
    for name, server in servers().items():
        groups.setdefault(server["feature"], []).append(name)
        out.append(f'      <Component Id="{name}" Guid="{code(arch, name)}" Win64="{win64}">')
        out.append(f'        <File Id="{name}.dll" Source="$(var.Stage)/{name}.dll" KeyPath="yes"/>')
        for number, (key, value_name, value) in enumerate(rows(server, bits)):
            value = {FILE: f"[#{name}.dll]", FOLDER: "[INSTALLFOLDER]"}.get(value, value)
            named = f' Name="{xml(value_name)}"' if value_name else ""
            out.append(f'        <RegistryValue Id="{name}.{number}" Root="HKMU" Key="Software\\Classes\\{xml(key)}"'
                       f'{named} Type="string" Value="{xml(value)}"/>')
        out.append("      </Component>")
    for tool in tools:
        ident = re.sub(r"[^A-Za-z0-9_.]", "_", tool)
        out += [f'      <Component Id="{ident}" Guid="{code(arch, tool)}" Win64="{win64}">',
                f'        <File Id="{ident}" Source="$(var.Stage)/{tool}" KeyPath="yes"/>', "      </Component>"]
        groups.setdefault("Components", []).append(ident)
    out.append("    </DirectoryRef>")
    for feature, members in groups.items():
        out.append(f'    <ComponentGroup Id="{feature}.Files">')
        out += [f'      <ComponentRef Id="{member}"/>' for member in members]
        out.append("    </ComponentGroup>")
    out += ["  </Fragment>", "</Wix>", ""]
    return "\n".join(out)


def main(argv):
    command = argv[1] if len(argv) > 1 else ""
    if command == "header" and len(argv) == 5:
        pathlib.Path(argv[4]).write_text(header(argv[2], int(argv[3])))
    elif command == "wix" and len(argv) >= 4:
        pathlib.Path(argv[3]).write_text(wix(int(argv[2]), argv[4:]))
    elif command == "product-code" and len(argv) == 4:
        print("{" + code("product", argv[2], argv[3]) + "}")
    else:
        raise SystemExit(__doc__)


if __name__ == "__main__":
    main(sys.argv)
