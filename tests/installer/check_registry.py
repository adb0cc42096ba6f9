#!/usr/bin/env python3
"""Compares Wine registries saved by run_installer_test.sh (folders with
system.reg and user.reg), timestamps left out.

  check_registry.py same --arch x86|x64 --mode machine|user BEFORE INSTALLED REGSVR32...
      what the package wrote (BEFORE -> INSTALLED) is what regsvr32 wrote
      (BEFORE -> the last REGSVR32; per user, any of them)
  check_registry.py clean BEFORE AFTER
      AFTER holds nothing BEFORE did not
"""
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "installer"))
import registry  # noqa: E402

VIEW32 = registry.CLASSES + registry.VIEW32
INSTALLER_OWN = ("software\\classes\\installer\\", "software\\microsoft\\installer\\",
                 "software\\microsoft\\windows\\currentversion\\installer\\")


def load(folder, hive):
    return registry.read(os.path.join(folder, f"{hive}.reg"))


def entries(before, after, hive):
    """What registration added to the hive's classes, Windows Installer's own
    records apart: (key, value name, data) with keys in lower case, data
    without a trailing backslash (a package's folders end in one), and
    (key, None, None) for a new key that holds nothing."""
    changes = registry.added(load(before, hive), load(after, hive))
    parents = {k.lower().rsplit("\\", 1)[0] for k in changes}
    out = set()
    for key, values in changes.items():
        key = key.lower()
        if key.startswith(INSTALLER_OWN):
            continue
        out |= {(key, n, d.rstrip("\\") if isinstance(d, str) else d) for n, d in values.items()}
        if not values and key not in parents:
            out.add((key, None, None))
    return out


def folded(items):
    """Both registry views as one: Wine 8 has one view of the user's classes."""
    result = {}
    for key, name, data in items:
        key = key.replace(registry.VIEW32, "", 1) if key.startswith(VIEW32) else key
        result.setdefault((key, name), set()).add(data)
    return result


def show(title, items):
    for item in sorted(items, key=str)[:20]:
        print(f"  {title}: {item}")


def same(arch, mode, before, installed, *references):
    ok = True
    for hive in ("system", "user"):
        got, want = entries(before, installed, hive), entries(before, references[-1], hive)
        if mode == "user" and hive == "system" and got:
            show("written under HKEY_LOCAL_MACHINE by a per-user installation", got)
            ok = False
        if mode == "user" and hive == "user":
            # The 32- and 64-bit entries meet in Wine's one view of the user's
            # classes, where the last one written stays: the package's and
            # regsvr32's may be of either bitness.
            g, w = folded(got), folded(set().union(*(entries(before, r, hive) for r in references)))
            wrong = {k: v for k, v in g.items() if not v <= w.get(k, set())}
            if g.keys() != w.keys() or wrong:
                show("only the package", g.keys() - w.keys())
                show("only regsvr32", w.keys() - g.keys())
                show("values regsvr32 did not write", wrong.items())
                ok = False
            continue
        if arch == "x86":
            # A 32-bit package reaches only the 32-bit view; regsvr32 also
            # writes its interfaces into the 64-bit one.
            want = {e for e in want if e[0].startswith(VIEW32) or
                    (registry.CLASSES + registry.VIEW32 + e[0][len(registry.CLASSES):], e[1], e[2]) not in want}
        if got != want:
            show("only the package", got - want)
            show("only regsvr32", want - got)
            ok = False
    return ok


def clean(before, after):
    ok = True
    for hive in ("system", "user"):
        old, new = load(before, hive), load(after, hive)
        lower = {k.lower(): v for k, v in old.items()}
        for key, values in new.items():
            k = key.lower()
            if not k.startswith("software\\"):
                continue  # the hardware keys Wine rewrites at every start
            was = lower.get(k)
            if was is None and (values or not k.startswith(INSTALLER_OWN)) or was is not None and values != was:
                print(f"  left in {hive}.reg: [{key}] {values}")
                ok = False
    return ok


def main():
    a = sys.argv[1:]
    if a[:1] == ["same"] and len(a) >= 8 and a[1] == "--arch" and a[3] == "--mode":
        ok = same(a[2], a[4], *a[5:])
    elif a[:1] == ["clean"] and len(a) == 3:
        ok = clean(*a[1:])
    else:
        sys.exit(__doc__)
    sys.exit(0 if ok else 1)


if __name__ == "__main__":
    main()
