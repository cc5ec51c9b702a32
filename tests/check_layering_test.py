#!/usr/bin/env python3
"""scripts/check-layering on tiny trees made here: one that breaks each rule once must fail,
naming every offending file and line, one that keeps them must pass; then the real tree must
pass.

    tests/check_layering_test.py"""
import os
import subprocess
import sys
import tempfile

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
CHECK = os.path.join(ROOT, "scripts", "check-layering")

# Allowed: a subsystem below, its own platform header from the same platform folder, and a
# platform system header there.
GOOD = {
    "base/file.h": "#pragma once\n",
    "runner/posix/console.h": "#pragma once\n",
    "runner/posix/console.cpp": '#include "runner/posix/console.h"\n#include <unistd.h>\n',
    "runner/extract.cpp": '#include "base/file.h"\n#include "isofs/media.h"\n',
}
# Each breaks one rule at the line named.
BAD = {
    "isofs/media.cpp": ('#include "base/file.h"\n#include "runner/extract.h"\n', 2,
                        'isofs may not use runner ("runner/extract.h")'),
    "runner/win32/process.cpp": ('#include "base/posix/fd.h"\n', 1,
                                 '"base/posix/fd.h" is base\'s posix code'),
    "image/source.cpp": ('#include <cstdint>\n#include <windows.h>\n', 2,
                         "portable code includes <windows.h>"),
}


def make_tree(root, files):
    for path, text in files.items():
        os.makedirs(os.path.join(root, os.path.dirname(path)), exist_ok=True)
        with open(os.path.join(root, path), "w") as f:
            f.write(text)


def check(root):
    run = subprocess.run([sys.executable, CHECK, root], capture_output=True, text=True)
    return run.returncode, run.stdout


def main():
    failures = []
    with tempfile.TemporaryDirectory() as work:
        good = os.path.join(work, "good")
        make_tree(good, GOOD)
        code, out = check(good)
        if code != 0:
            failures.append("a tree that keeps the rules fails: " + out)
        bad = os.path.join(work, "bad")
        make_tree(bad, dict(GOOD, **{path: text for path, (text, _, _) in BAD.items()}))
        code, out = check(bad)
        if code != 1 or len(out.splitlines()) != len(BAD):
            failures.append("bad tree: exit %d, expected %d findings:\n%s" % (code, len(BAD), out))
        for path, (_, line, message) in BAD.items():
            if "%s:%d: %s" % (path, line, message) not in out:
                failures.append("not named: %s:%d: %s" % (path, line, message))
    code, out = check(ROOT)
    if code != 0:
        failures.append("the tree itself fails:\n" + out)
    for failure in failures:
        print("FAIL: " + failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
