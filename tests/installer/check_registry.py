#!/usr/bin/env python3
"""Compares Wine registries saved by run_installer_test.sh (folders with
system.reg and user.reg), timestamps left out.

  check_registry.py same BEFORE INSTALLED REGSVR32...
      the package wrote (BEFORE -> INSTALLED) the keys and values regsvr32
      wrote (BEFORE -> each REGSVR32, registered one bitness after the other)
  check_registry.py clean BEFORE AFTER
      AFTER holds nothing BEFORE did not
"""
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "installer"))
import registry  # noqa: E402

INSTALLER_OWN = ("software\\classes\\installer\\", "software\\microsoft\\installer\\",
                 "software\\microsoft\\windows\\currentversion\\installer\\")


def load(folder, hive):
    return registry.read(os.path.join(folder, f"{hive}.reg"))


def entries(before, after, hive):
    """{(key, value name): {data}} of what was added to the hive's classes,
    Windows Installer's own records apart. The registry views are folded
    into one: Wine keeps one view of the user's classes, and a 32-bit
    package writes no 64-bit one, while regsvr32 writes interfaces into both;
    the clients of each bitness check the views. Data lose a trailing
    backslash (the package's folders end in one); a key holding nothing is
    (key, None)."""
    changes = registry.added(load(before, hive), load(after, hive))
    parents = {k.lower().rsplit("\\", 1)[0] for k in changes}
    out = {}
    for key, values in changes.items():
        k = key.lower().replace(registry.CLASSES + registry.VIEW32, registry.CLASSES, 1)
        if not k.startswith(INSTALLER_OWN):
            for name, data in values.items():
                out.setdefault((k, name), set()).add(data.rstrip("\\") if isinstance(data, str) else data)
            if not values and key.lower() not in parents:
                out.setdefault((k, None), set()).add(None)
    return out


def same(before, installed, *references):
    ok = True
    for hive in ("system", "user"):
        got, want = entries(before, installed, hive), {}
        for r in references:
            for k, v in entries(before, r, hive).items():
                want.setdefault(k, set()).update(v)
        wrong = sorted(str((k, v)) for k, v in got.items() if not v <= want.get(k, set()))
        missing = sorted(str(k) for k in want.keys() - got.keys())
        for line in wrong[:20] + [f"not written: {m}" for m in missing[:20]]:
            print(f"  {hive}.reg: {line}")
        ok = ok and not wrong and not missing
    return ok


def clean(before, after):
    ok = True
    for hive in ("system", "user"):
        old = {k.lower(): v for k, v in load(before, hive).items()}
        for key, values in load(after, hive).items():
            k = key.lower()
            # The hardware keys Wine rewrites at every start are not software.
            left = k not in old and (values or not k.startswith(INSTALLER_OWN)) or old.get(k, values) != values
            if k.startswith("software\\") and left:
                print(f"  left in {hive}.reg: [{key}] {values}")
                ok = False
    return ok


if __name__ == "__main__":
    a = sys.argv[1:]
    if a[:1] == ["same"] and len(a) >= 4:
        sys.exit(0 if same(*a[1:]) else 1)
    if a[:1] == ["clean"] and len(a) == 3:
        sys.exit(0 if clean(*a[1:]) else 1)
    sys.exit(__doc__)
