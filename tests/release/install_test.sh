#!/usr/bin/env bash
# Installs the build into a temporary prefix and checks what lands there:
# exactly the three programs, the client library and its header, the manual
# pages, the documents they name, the completions, and programs that run from
# the prefix.
#
#   install_test.sh CMAKE BUILD_DIR CONFIG VERSION SOURCE_DIR NSS_WRAPPER_LIBRARY [EXAMPLE_CFLAGS]
# With NEBRIX_PYTHON (the interpreter the Python package was built for) the
# package is expected too, and must trace from the prefix; NEBRIX_PRELOAD
# goes before nss_wrapper (the sanitizers' runtime for that interpreter).
set -euo pipefail
cmake=$1 build=$2 config=$3 version=$4 source=$5 nss_wrapper=$6 cflags=${7:-}

work=$(mktemp -d /tmp/nebrix-install-XXXXXX)
trap 'kill $(jobs -p) 2>/dev/null || true; rm -rf "$work"' EXIT
prefix=$work/prefix
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

"$cmake" --install "$build" --config "$config" --prefix "$prefix" >/dev/null

libdir=$(cd "$prefix" && find . -name libnebrix_trace.so.1 | sed 's|^\./||; s|/[^/]*$||')
package=$libdir/cmake/NebrixTrace/NebrixTrace
python_dir=$(cd "$prefix" && find . -path '*/nebrix_trace/__init__.py' | sed 's|^\./||; s|/nebrix_trace/__init__.py$||')
python_files=()
[ -z "${NEBRIX_PYTHON:-}" ] || python_files=("$python_dir"/nebrix_trace/{__init__.py,_nebrix_trace.abi3.so})
expected=$(printf '%s\n' bin/nebrix_cons bin/nebrix_trace_client bin/vaultadm include/nebrix/trace.h \
  "$libdir/libnebrix_trace.a" "$libdir/libnebrix_trace.so" "$libdir/libnebrix_trace.so.1" "$libdir/libnebrix_trace.so.$version" \
  "$libdir/pkgconfig/nebrix-trace.pc" "${package}Config.cmake" "${package}ConfigVersion.cmake" \
  "${package}Targets.cmake" "${package}Targets-CONFIG.cmake" \
  share/bash-completion/completions/{nebrix_cons,vaultadm,nebrix_trace_client} share/man/man1/nebrix_cons.1 share/man/man1/vaultadm.1 \
  share/man/man1/nebrix_trace_client.1 share/man/man3/nebrix_trace.3 share/doc/nebrix-cons/{README,json-output,profile-data}.md "${python_files[@]}" |
  LC_ALL=C sort)
installed=$(cd "$prefix" && find . \( -type f -o -type l \) | sed 's|^\./||; s|Targets-[a-z]*\.cmake$|Targets-CONFIG.cmake|' |
  LC_ALL=C sort)
[ "$installed" = "$expected" ] || fail "installed files differ:$(diff <(echo "$expected") <(echo "$installed"))"
for program in nebrix_cons nebrix_trace_client vaultadm; do
  [ -x "$prefix/bin/$program" ] || fail "bin/$program is not executable"
  cmp -s "$source/completion/$program.bash" "$prefix/share/bash-completion/completions/$program" ||
    fail "the installed completion of $program is not completion/$program.bash"
done
for page in man1/nebrix_cons.1 man1/vaultadm.1 man1/nebrix_trace_client.1 man3/nebrix_trace.3; do
  grep -q "^\.TH .*\"nebrix_cons $version\"" "$prefix/share/man/$page" || fail "$page does not name $version"
  ! grep -q '@[A-Z_]*@' "$prefix/share/man/$page" || fail "$page has an unfilled placeholder"
done
# The documents nebrix_cons(1) names are installed (under the configured prefix, not this one).
for doc in $(grep -o 'share/doc/[^ ]*\.md' "$prefix/share/man/man1/nebrix_cons.1" | sed 's/\\-/-/g'); do
  [ -f "$prefix/$doc" ] || fail "nebrix_cons.1 names $doc, which is not installed"
done

# The programs run from the prefix as a user whose home is a fresh, empty
# directory (the profile directory follows the user database, not $HOME).
mkdir "$work/home"
echo "me:x:$(id -u):$(id -g):Me:$work/home:/bin/sh" >"$work/passwd"
echo "me:x:$(id -g):" >"$work/group"
# check STATUS OUT ERR PROGRAM [ARGUMENTS]: runs an installed program and
# compares its exit status, and its standard output and error with the files
# OUT (empty: not compared) and ERR.
in_private_home() {
  env -i PATH=/usr/bin:/bin LANG=C LD_PRELOAD="${NEBRIX_PRELOAD:+$NEBRIX_PRELOAD:}$nss_wrapper" \
    NSS_WRAPPER_PASSWD="$work/passwd" NSS_WRAPPER_GROUP="$work/group" \
    ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0" \
    ${UBSAN_OPTIONS:+UBSAN_OPTIONS="$UBSAN_OPTIONS"} "$@"
}
check() {
  local expected_status=$1 out=$2 err=$3 program=$4 status=0
  shift 4
  in_private_home "$prefix/bin/$program" "$@" >"$work/out" 2>"$work/err" || status=$?
  [ "$status" = "$expected_status" ] || fail "$program $* exited with $status, expected $expected_status"
  [ -z "$out" ] || cmp -s "$out" "$work/out" || fail "$program $*: standard output $(diff "$out" "$work/out")"
  cmp -s "$err" "$work/err" || fail "$program $*: standard error $(head -3 "$work/err")"
}

sed "s/@VERSION@/$version/" "$source/tests/cli/usage.txt" >"$work/usage"
echo "Usage: nebrix_trace_client [-i <milliseconds>] [-r <count>]" >"$work/client-usage"
check 0 "$work/usage" /dev/null nebrix_cons -h
check 0 "" /dev/null vaultadm -h
check 1 "" "$work/client-usage" nebrix_trace_client -x
for program in nebrix_cons nebrix_trace_client vaultadm; do
  echo "$program $version" >"$work/version"
  check 0 "$work/version" /dev/null "$program" --version
done
[ -z "$(ls -A "$work/home")" ] || fail "usage texts touched the home directory: $(cd "$work/home" && find .)"

# The example program builds against the installed package, the pkg-config
# file and the static library, and runs from the prefix.
example=$source/examples/query_trace
"$cmake" -S "$example" -B "$work/example" -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_C_FLAGS="$cflags" >/dev/null &&
  "$cmake" --build "$work/example" >/dev/null && cp "$work/example/query_trace" "$prefix/bin/" ||
  fail "the example does not build with the CMake package"
cc -std=c11 $cflags -o "$prefix/bin/query_trace_pc" "$example/query_trace.c" \
  $(PKG_CONFIG_PATH=$prefix/$libdir/pkgconfig pkg-config --cflags --libs nebrix-trace) -lpthread \
  -Wl,-rpath,"$prefix/$libdir" ||
  fail "the example does not build with pkg-config"
cc -std=c11 $cflags -o "$prefix/bin/query_trace_static" "$example/query_trace.c" -I"$prefix/include" \
  "$prefix/$libdir/libnebrix_trace.a" -lz -lstdc++ -lpthread || fail "the example does not link the static library"

# Each build of the example follows the console: SQL records appear in its
# trace file once the change is acknowledged, and stop with TRACE SQL OFF.
records() { grep -c 'SELECT name FROM customers' "$1" 2>/dev/null || true; }
check 0 "" /dev/null nebrix_cons CONFIG TRACE FILENAME "$work/trace-%p.prt"
for build in query_trace query_trace_pc query_trace_static; do
  in_private_home "$prefix/bin/$build" 60 4 >"$work/example.out" 2>&1 &
  runner=$!
  for _ in $(seq 100); do grep -q running "$work/example.out" && break; sleep 0.1; done
  pid=$(awk '/running/ {print $2}' "$work/example.out")
  check 0 "" /dev/null nebrix_cons -w 10 TRACE SQL ON
  check 0 "" /dev/null nebrix_cons -o json SHOW PROCESSES
  grep -q "\"pid\": *$pid\b" "$work/out" && grep -q '"acknowledged": *"yes"' "$work/out" ||
    fail "$build: SHOW PROCESSES does not show $pid acknowledged: $(cat "$work/out")"
  grep -q "\"trace_file\": *\"$work/trace-$pid.prt\"" "$work/out" && grep -q '"trace_state": *"writing"' "$work/out" ||
    fail "$build: SHOW PROCESSES does not name its trace file as written: $(cat "$work/out")"
  sleep 0.2
  [ "$(records "$work/trace-$pid.prt")" -gt 0 ] || fail "$build: no SQL records in its trace file"
  check 0 "" /dev/null nebrix_cons -p "$pid" SHOW RECORDS LAST 1
  grep -q "^\[[0-9]*\] thread .*SELECT name FROM customers" "$work/out" || fail "$build: SHOW RECORDS: $(cat "$work/out")"
  check 0 "" /dev/null nebrix_cons -w 10 TRACE SQL OFF
  before=$(records "$work/trace-$pid.prt")
  sleep 0.3
  [ "$(records "$work/trace-$pid.prt")" = "$before" ] || fail "$build: SQL records go on after TRACE SQL OFF"
  kill "$runner" 2>/dev/null || true
  wait "$runner" 2>/dev/null || true
done

# One real command from the prefix, in the private home.
check 0 "" /dev/null nebrix_cons CONFIG TRACE SQL ON
[ -s "$work/home/.orq/$(uname -n)/SSFS_ORQ.DAT" ] || fail "CONFIG TRACE SQL ON stored nothing"
if [ -n "${NEBRIX_PYTHON:-}" ]; then
  in_private_home PYTHONPATH="$prefix/$python_dir" ASAN_OPTIONS=detect_leaks=0:verify_asan_link_order=0 "$NEBRIX_PYTHON" -c \
    'import nebrix_trace as t; t.trace(t.SQL, "from Python")' || fail "the Python package does not run from the prefix"
  grep -q "from Python" "$work"/trace-*.prt || fail "the Python package wrote no record"
fi

[ "$failures" -eq 0 ] || exit 1
echo "installed tree OK"
