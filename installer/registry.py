#!/usr/bin/env python3
"""The registry as a Wine prefix keeps it, and the installers' registry rows
made from it.

  registry.py rows --arch x86|x64 --before SYSTEM.REG --after SYSTEM.REG
                   --file WINPATH=BITS:ID:SOURCE... --dir WINPATH=ID... -o FRAGMENT.wxs

`rows` writes the WiX components of the installer: one per DLL (its Windows
path when it was registered, its bitness, File id and source) and one per
registry view with every value that registration added under the machine's
classes between the two copies of system.reg, the DLLs' paths and folders
(--dir: a folder's path and Directory id) replaced by the installer's
references to them. Windows
Installer writes HKMU rows under the machine's or the user's classes as the
installation is per machine or per user, and a component's bitness picks the
registry view, so the rows name neither the hive nor Wow6432Node.
"""
import argparse
import re
import sys
import uuid
from xml.sax.saxutils import quoteattr

CLASSES = "software\\classes\\"
VIEW32 = "wow6432node\\"


def _unescape(text):
    # Wine writes \\, \", \n, \r, \t, \0 and \xHHHH (UTF-16 code units).
    out, i = [], 0
    while i < len(text):
        c = text[i]
        if c != "\\":
            out.append(c)
            i += 1
            continue
        n = text[i + 1]
        if n == "x":
            m = re.match(r"[0-9a-fA-F]{1,4}", text[i + 2 :])
            out.append(chr(int(m.group(0), 16)))
            i += 2 + len(m.group(0))
            continue
        out.append({"n": "\n", "r": "\r", "t": "\t", "0": "\0"}.get(n, n))
        i += 2
    return "".join(out)


def _quoted(text, start):
    """The string starting with the quote at `start`, and the index after it."""
    i = start + 1
    while text[i] != '"':
        i += 2 if text[i] == "\\" else 1
    return _unescape(text[start + 1 : i]), i + 1


def read(path):
    """{key: {value name: data}} of a Wine registry file; keys keep their
    spelling, `@` is the default value, strings are str and any other type
    is a tuple of its text as written (e.g. 'dword:00000001'). Timestamps
    are left out."""
    keys, current = {}, None
    with open(path, encoding="utf-8", errors="surrogateescape") as f:
        lines = f.read().replace("\\\n", "").splitlines()
    for line in lines:
        if line.startswith("["):
            name = line[1 : line.rindex("]")]
            current = keys.setdefault(_unescape(name), {})
        elif current is None or not line or line[0] in "#;":
            continue
        elif line.startswith("@="):
            current["@"] = _data(line[2:])
        elif line.startswith('"'):
            name, end = _quoted(line, 0)
            current[name] = _data(line[end + 1 :])
    return keys


def _data(text):
    return _quoted(text, 0)[0] if text.startswith('"') else (text,)


def added(before, after, root=CLASSES):
    """The keys under `root` (lower case) that `after` has and `before` has
    not, or whose values differ: {key: {name: data}} with only the new or
    changed values, and every new key even without values."""
    old = {k.lower(): v for k, v in before.items()}
    result = {}
    for key, values in after.items():
        if not key.lower().startswith(root):
            continue
        was = old.get(key.lower())
        if was is None:
            result[key] = dict(values)
        else:
            changed = {n: d for n, d in values.items() if was.get(n) != d}
            if changed:
                result[key] = changed
    return result


def _formatted(text, paths):
    """A value as Windows Installer formats it: our paths by reference, any
    other text literal."""
    for path, ref in paths:
        if text.lower() == path.lower():
            return ref
    for path, _ in paths:
        if path.lower() in text.lower():
            sys.exit(f"registry.py: a value names {path} in a way the installer cannot write: {text}")
    if not text:
        sys.exit("registry.py: an empty string value, which a Registry row cannot write")
    # A leading # would make it a number, brackets a property.
    text = re.sub(r"[\[\]]", lambda m: "[\\" + m.group(0) + "]", text)
    return "#" + text if text.startswith("#") else text


def rows(changes, arch, paths):
    """(view, key under the classes, value name or None, formatted value) for
    each value, and (view, key, None, None) for each new key that holds
    nothing: Windows Installer creates the others with their values. A value
    written alike into both views, as type library registration writes its
    interfaces, is one row of each view the package reaches: the 32-bit
    package reaches only the 32-bit view."""
    parents = {k.lower().rsplit("\\", 1)[0] for k in changes}
    out = {}
    for key in sorted(changes, key=str.lower):
        rel = key[len(CLASSES) :]
        view = 32 if arch == "x86" else 64
        if rel.lower().startswith(VIEW32):
            rel, view = rel[len(VIEW32) :], 32
        values = changes[key]
        for name in sorted(values, key=lambda n: (n != "@", n.lower())):
            data = values[name]
            if not isinstance(data, str):
                sys.exit(f"registry.py: {key} {name}: only strings are written, not {data}")
            row = (view, rel, None if name == "@" else name, _formatted(data, paths))
            same = out.setdefault((view, rel.lower(), row[2]), row)
            if same[3] != row[3]:
                sys.exit(f"registry.py: {rel} {name} is {same[3]} and {row[3]} in one registry view")
        if not values and key.lower() not in parents:
            out.setdefault((view, rel.lower(), "*"), (view, rel, None, None))
    return list(out.values())


def _component(ident, guid, bits, body):
    win64 = "yes" if bits == 64 else "no"
    return [f'      <Component Id="{ident}" Guid="{guid}" Win64="{win64}">'] + body + ["      </Component>"]


def fragment(arch, files, changes, paths):
    """The WiX fragment: the Servers group, a component per DLL and one per
    registry view, each in its bitness's bin folder."""
    namespace = uuid.UUID("9b1f0d3e-5c2a-4e7b-8d61-2f4a7c9e0b15")
    components, ids = {32: [], 64: []}, []  # bitness -> lines of its components
    for bits, file_id, source in files:
        components[bits] += _component(file_id, "*", bits, [
            f'        <File Id="{file_id}" Source={quoteattr(source)} KeyPath="yes"/>'])
        ids.append(file_id)
    table = rows(changes, arch, paths)
    for view in sorted({r[0] for r in table}):
        body, keypath = [], ' KeyPath="yes"'
        for _, key, name, value in (r for r in table if r[0] == view):
            attrs = 'Root="HKMU" Key=' + quoteattr("Software\\Classes\\" + key)
            if value is None:
                # "*": the key is created at installation and removed at uninstallation.
                attrs += ' Name="*" Type="string" Value=""'
            else:
                if name is not None:
                    attrs += " Name=" + quoteattr(name)
                attrs += ' Type="string" Value=' + quoteattr(value) + keypath
                keypath = ""
            body.append(f"        <RegistryValue {attrs}/>")
        ident = f"Registry{view}"
        components[view] += _component(ident, uuid.uuid5(namespace, f"{arch}/{ident}"), view, body)
        ids.append(ident)
    lines = ['<?xml version="1.0" encoding="utf-8"?>',
             "<!-- Made by installer/registry.py from what registration wrote; not edited by hand. -->",
             '<Wix xmlns="http://schemas.microsoft.com/wix/2006/wi">', "  <Fragment>"]
    for bits, comps in components.items():
        if comps:
            lines += [f'    <DirectoryRef Id="BIN{bits}">'] + comps + ["    </DirectoryRef>"]
    lines += ['    <ComponentGroup Id="Servers">'] + [f'      <ComponentRef Id="{i}"/>' for i in ids]
    lines += ["    </ComponentGroup>", "  </Fragment>", "</Wix>", ""]
    return "\n".join(lines)


def main():
    p = argparse.ArgumentParser()
    sub = p.add_subparsers(dest="command", required=True)
    r = sub.add_parser("rows")
    r.add_argument("--arch", choices=("x86", "x64"), required=True)
    r.add_argument("--before", required=True)
    r.add_argument("--after", required=True)
    r.add_argument("--file", action="append", default=[], help="WINPATH=BITS:ID:SOURCE")
    r.add_argument("--dir", action="append", default=[], help="WINPATH=ID")
    r.add_argument("-o", required=True)
    a = p.parse_args()
    files, paths = [], []
    for entry in a.file:
        path, rest = entry.split("=", 1)
        bits, file_id, source = rest.split(":", 2)
        files.append((int(bits), file_id, source))
        paths.append((path, f"[#{file_id}]"))
    paths += [(path, f"[{ident}]") for path, ident in (d.split("=", 1) for d in a.dir)]
    changes = added(read(a.before), read(a.after))
    if not changes:
        sys.exit("registry.py: registration wrote nothing under the machine's classes")
    with open(a.o, "w", encoding="utf-8") as f:
        f.write(fragment(a.arch, files, changes, paths))


if __name__ == "__main__":
    main()
