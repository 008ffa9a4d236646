#!/usr/bin/env bash
# Static analysis of the project's own C++ sources: their brace style (the checked-in .clang-format),
# then clang-tidy with the checked-in .clang-tidy and cppcheck. The two analysers read the compile
# commands of a build configured here with the clang of this machine's Debian release
# (tools/releases.txt) and the fuzz harnesses on, so that every source file of the project is listed
# (BUILD_DIR-static; only the gSOAP stubs are generated, nothing is compiled). The generated stubs
# are not checked.
# Fails on any finding of these tools, and when SECURITY.md names a test or test case that the
# ctest suite of BUILD_DIR does not have (tools/check-security-tests.py).
#
# Usage: tools/test-static.sh BUILD_DIR     (a built tree: ctest lists the GoogleTest cases that
#        SECURITY.md names once their programs are built; the analysis build goes to BUILD_DIR-static)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
main=${1:?usage: $0 BUILD_DIR}
build=$(mkdir -p "${main%/}-static" && cd "${main%/}-static" && pwd)
bash "$top/tools/deps.sh" static
source "$top/tools/jdk.sh"

rm -f "$build/CMakeCache.txt"   # the compiler of an earlier configuration would stay otherwise
CC=clang-$vel_clang CXX=clang++-$vel_clang cmake -S "$top" -B "$build" -DCMAKE_EXPORT_COMPILE_COMMANDS=ON -DVEL_FUZZ=ON > /dev/null
targets=$(cmake --build "$build" --target help)
if grep -q '^\.\.\. clifsoap_generated$' <<< "$targets"; then
  mkdir -p "$build/static-analysis"
  if ! cmake --build "$build" --target clifsoap_generated > "$build/static-analysis/generate.log" 2>&1; then
    cat "$build/static-analysis/generate.log"
    exit 1
  fi
fi

# cppcheck sees no system headers, but it must see gSOAP's runtime header: the generated headers
# test its version with #error. It gets it alone, through a directory of its own.
shim=$build/static-analysis/include
mkdir -p "$shim"
ln -sf /usr/include/stdsoap2.h "$shim/stdsoap2.h"

# The project's own entries of the compile commands: no generated file, nothing under a build dir.
db=$build/static-analysis/compile_commands.json
python3 - "$build/compile_commands.json" "$db" "$top" "$build" "$shim" <<'PYTHON'
import json, os, sys
source_db, target_db, top, build, shim = sys.argv[1:]
own = []
for entry in json.load(open(source_db)):
    path = os.path.realpath(os.path.join(entry["directory"], entry["file"]))
    if not path.startswith(top + "/") or path.startswith(build + "/"):
        continue
    if os.path.relpath(path, top).split("/")[0].startswith("build"):
        continue
    entry = dict(entry, file=path)
    entry["command"] = entry["command"].replace(" -o ", " -I%s -o " % shim, 1)
    own.append(entry)
json.dump(own, open(target_db, "w"), indent=1)
print("\n".join(sorted(e["file"] for e in own)), file=open(target_db + ".files", "w"))
PYTHON
mapfile -t files < "$db.files"
echo "== static analysis of ${#files[@]} source files"

status=0
echo "== test names in SECURITY.md"
python3 "$top/tools/check-security-tests.py" "$main" || status=1

# The checked-in .clang-format: a file it would change is named with the lines concerned. The
# command table template is not C++ until cmake fills it in.
echo "== clang-format"
mapfile -t formatted < <(git -C "$top" ls-files '*.cpp' '*.h')
(cd "$top" && "clang-format-$vel_clang" --dry-run --Werror "${formatted[@]}") || status=1

echo "== clang-tidy"
tidy_out=$build/static-analysis/clang-tidy.txt
tidy_err=$build/static-analysis/clang-tidy.err
# clang-tidy 18 and later read the list of cert-err33-c.CheckedFunctions as regular expressions found
# anywhere in a qualified name ('::read' would take istream::read and readUrls too): they get a copy
# of .clang-tidy with each name anchored, so that both read the same exact names.
tidy_config=$top/.clang-tidy
if ((vel_clang >= 18)); then
  tidy_config=$build/static-analysis/clang-tidy.yaml
  python3 - "$top/.clang-tidy" "$tidy_config" <<'PYTHON'
import sys
source, target = sys.argv[1:]
text = open(source).read()
key = "  - key: cert-err33-c.CheckedFunctions\n    value: '"
start = text.index(key) + len(key)
end = text.index("'", start)
names = ";".join("^%s$" % name for name in text[start:end].split(";"))
open(target, "w").write(text[:start] + names + text[end:])
PYTHON
fi
# clang-tidy fails on a file it cannot compile; findings alone it only prints.
tidy_status=0
printf '%s\n' "${files[@]}" |
  xargs -P 2 -n 4 "clang-tidy-$vel_clang" -p "$build" --config-file="$tidy_config" --quiet \
    > "$tidy_out" 2> "$tidy_err" || tidy_status=$?
if ((tidy_status)) || grep -qE '(warning|error): ' "$tidy_out"; then
  cat "$tidy_out"
  grep -vE '^[0-9]+ warnings? (and [0-9]+ errors? )?generated\.$|^Suppressed [0-9]+ warnings' "$tidy_err" || true
  status=1
fi

# cppcheck: everything but the checks that restate a choice of the code:
#   passedByValue: the client's service interfaces take strings by value, like the gSOAP proxies.
#   useStlAlgorithm: small raw loops are kept where they read more plainly.
#   readdirCalled, localtimeCalled, asctimeCalled: the launcher calls these on its only thread
#     before the JVM starts; readdir_r is deprecated, and asctime gives the trace banner's format.
#   normalCheckLevelMaxBranches: cppcheck 2.11 and later only say that they bound their analysis of
#     branches (--check-level=exhaustive, unknown to 2.10, would lift the bound).
echo "== cppcheck"
cppcheck --project="$db" --std=c++17 --enable=warning,style,performance,portability \
  --library=posix --library=googletest --library=openssl --inline-suppr \
  --suppress=missingIncludeSystem --suppress=passedByValue --suppress=useStlAlgorithm \
  --suppress=readdirCalled --suppress=localtimeCalled --suppress=asctimeCalled \
  --suppress=normalCheckLevelMaxBranches \
  --suppress="*:$build/*" --suppress='*:/usr/*' \
  --error-exitcode=1 -j 2 --quiet --template='{file}:{line}: {severity}: {message} [{id}]' || status=1

exit $status
