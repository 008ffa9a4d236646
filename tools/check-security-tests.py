#!/usr/bin/env python3
"""Checks the tests that SECURITY.md cites: each test name in backticks whose group (the part before
the first dot) is one of ctest's must be a test that `ctest -N` lists in BUILD_DIR, and each test
case in backticks after it (`test_...`, a test class, a GoogleTest name) must be defined in that
test's source: the Python script it runs, or for a GoogleTest program the C++ sources under tests/.

Usage: tools/check-security-tests.py BUILD_DIR
"""
import glob
import json
import os
import re
import subprocess
import sys

top = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
listing = subprocess.run(["ctest", "--show-only=json-v1"], cwd=sys.argv[1], check=True, stdout=subprocess.PIPE)
tests = {test["name"]: test.get("command", []) for test in json.loads(listing.stdout)["tests"]}
groups = {name.split(".")[0] for name in tests}
case_name = re.compile(r"test_\w+|[A-Z][A-Za-z0-9]*[a-z][A-Za-z0-9]*")


def defines(command, case):
    scripts = [arg for arg in command if arg.endswith(".py")]
    pattern = r"^\s*(?:def|class) %s\b" if scripts else r"^TEST(?:_F)?\(\w+, %s\)"
    sources = scripts or glob.glob(os.path.join(top, "tests", "**", "*.cpp"), recursive=True)
    return any(re.search(pattern % case, open(path).read(), re.M) for path in sources)


text = open(os.path.join(top, "SECURITY.md")).read()
errors = []
test = None
for match in re.finditer(r"`([^`\n]+)`", text):
    token, line = match.group(1), text.count("\n", 0, match.start()) + 1
    if "." in token and token.split(".")[0] in groups:
        test = token
        if test not in tests:
            errors.append("SECURITY.md:%d: `%s` is no test that ctest lists" % (line, test))
    elif case_name.fullmatch(token):
        if test is None:
            errors.append("SECURITY.md:%d: `%s` follows no test name" % (line, token))
        elif test in tests and not defines(tests[test], token):
            errors.append("SECURITY.md:%d: `%s` is not defined in the source of %s" % (line, token, test))
print("\n".join(errors) or "SECURITY.md: every test it names is listed and defined")
sys.exit(1 if errors else 0)
