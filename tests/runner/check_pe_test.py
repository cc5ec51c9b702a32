#!/usr/bin/env python3
"""scripts/check-pe against copies of the runner whose imports were renamed, in place and at
the same length, to system DLLs that are no KnownDLLs (the system looks for those beside the
program first): each copy must fail, naming the DLL; the runner itself must pass.

    tests/runner/check_pe_test.py build/win32/bin/isorun-sfx.exe"""
import os
import subprocess
import sys
import tempfile

CHECK_PE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts", "check-pe")
# An import the runner has, and a name of the same length that must be refused.
RENAMES = [("KERNEL32.dll", "COMCTL32.dll"), ("SHELL32.dll", "VERSION.dll"),
           ("USER32.dll", "BCRYPT.dll"), ("ADVAPI32.dll", "WINTRUST.dll")]


def check_pe(path):
    run = subprocess.run([sys.executable, CHECK_PE, path], capture_output=True, text=True)
    return run.returncode, run.stdout


def main():
    runner = open(sys.argv[1], "rb").read()
    failures = []
    code, out = check_pe(sys.argv[1])
    if code != 0:
        failures.append("the runner itself fails: " + out)
    with tempfile.TemporaryDirectory() as work:
        for have, other in RENAMES:
            at = runner.lower().find(have.lower().encode() + b"\0")
            if at < 0:
                failures.append("the runner does not import %s" % have)
                continue
            copy = os.path.join(work, other + ".exe")
            with open(copy, "wb") as f:
                f.write(runner[:at] + other.encode() + runner[at + len(have):])
            code, out = check_pe(copy)
            if code != 1 or "imports %s, which is not a KnownDLL" % other not in out:
                failures.append("%s instead of %s: exit %d: %s" % (other, have, code, out))
    for failure in failures:
        print("FAIL: " + failure)
    print("check-pe: %d of %d checks failed" % (len(failures), len(RENAMES) + 1))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
