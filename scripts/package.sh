#!/usr/bin/env bash
# Builds the Debian packages nebrix-cons, libnebrix-trace1 and
# libnebrix-trace-dev with CPack from a Release build for /usr, in BUILD_DIR
# (default build-deb), and prints their paths. Fails when packaging/symbols
# does not list exactly the library's exports.
#
#   scripts/package.sh           build the packages
#   scripts/package.sh --check   then check them on this machine (root, as CI
#                                does): lintian without errors, dpkg -i, the
#                                programs, manual pages, the documents they
#                                name and the example built against the
#                                installed files and following the installed
#                                console, dpkg -r and
#                                --purge, and nothing of them left behind
#
# Needs dpkg-dev and file (and lintian and man-db for --check) besides what
# scripts/packages.txt lists.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/${BUILD_DIR:-build-deb}
check=false
case ${1:-} in
  --check) check=true ;;
  "") ;;
  *) echo "Usage: scripts/package.sh [--check]" >&2; exit 2 ;;
esac
tools=(dpkg-shlibdeps file)
$check && tools+=(lintian man)
for tool in "${tools[@]}"; do
  command -v "$tool" >/dev/null || { echo "scripts/package.sh needs $tool (apt-get install dpkg-dev file lintian man-db)" >&2; exit 1; }
done

"$root/scripts/install-packages.sh"
# Debian's compiler and linker hardening flags, without the debug information
# that the packages strip anyway.
export CXXFLAGS="$(dpkg-buildflags --get CXXFLAGS | sed -E 's/(^| )-g( |$)/ /') $(dpkg-buildflags --get CPPFLAGS)"
export LDFLAGS="$(dpkg-buildflags --get LDFLAGS)"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
  -DNEBRIX_BUILD_TESTS=OFF -DNEBRIX_BUILD_BENCHMARKS=OFF >/dev/null
cmake --build "$build" -j "$(nproc)" >/dev/null

# The library package first: the others' dependency on it comes from its
# shlibs file, which dpkg-shlibdeps reads from the unpacked package
# (packaging/debian_packages.cmake).
cd "$build"
rm -rf debian ./*.deb
cpack -D NEBRIX_DEB_COMPONENTS=library >/dev/null
mkdir debian
dpkg-deb -R libnebrix-trace1_*.deb debian/libnebrix-trace1
# The symbols file must name exactly what the library exports, each under its
# version node: an export added or removed without it fails here, with the
# difference. (The package's version, with its revision: dpkg-gensymbols
# drops without a word an export missing from the release it is given.)
version=$(dpkg-deb -f libnebrix-trace1_*.deb Version)
dpkg-gensymbols -plibnebrix-trace1 -Pdebian/libnebrix-trace1 -v"$version" -c4 \
  -I"$root/packaging/symbols" -O"$build/debian/symbols" >&2 ||
  { echo "packaging/symbols differs from the exports of libnebrix_trace.so.1 (above)" >&2; exit 1; }
cpack >/dev/null
debs=("$build"/*.deb)
printf '%s\n' "${debs[@]}"
$check || exit 0

failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
packages=(nebrix-cons libnebrix-trace-dev python3-nebrix-trace libnebrix-trace1)

lintian --fail-on error "${debs[@]}" || fail "lintian reports errors"
dpkg -i "${debs[@]}"
for package in "${packages[@]}"; do dpkg -L "$package"; done | LC_ALL=C sort -u >"$work/files"

version=$(dpkg-query -W -f='${Version}' nebrix-cons)
version=${version%-*}    # the upstream version, without the package's revision
for program in nebrix_cons vaultadm nebrix_trace_client; do
  got=$(env HOME="$work" "$program" --version) || true
  [ "$got" = "$program $version" ] || fail "$program --version printed \"$got\", expected \"$program $version\""
done
man -w nebrix_cons vaultadm nebrix_trace_client >/dev/null || fail "man -w does not find the programs' pages"
man -w 3 nebrix_trace >/dev/null || fail "man -w does not find nebrix_trace(3)"
# The documents the pages name are installed where they say.
for path in $(zcat "$(man -w nebrix_cons)" | grep -o '/usr/share/doc/[^ ]*\.md' | sed 's/\\-/-/g'); do
  [ -f "$path" ] || fail "nebrix_cons(1) names $path, which is not installed"
done
ldconfig -p | grep libnebrix_trace.so.1 >/dev/null || fail "the dynamic loader's cache lacks libnebrix_trace.so.1"

# The example, against the installed header and library: with pkg-config,
# and with the CMake package.
example=$root/examples/query_trace
cc -std=c11 -o "$work/query_trace" "$example/query_trace.c" $(pkg-config --cflags --libs nebrix-trace) -lpthread ||
  fail "the example does not build with pkg-config"
cmake -S "$example" -B "$work/example" >/dev/null && cmake --build "$work/example" >/dev/null ||
  fail "the example does not build with the CMake package"
ldd "$work/query_trace" | grep "libnebrix_trace.so.1 => /" >/dev/null ||
  fail "the example does not load the installed library"

# The example follows the installed console, run as a user whose home is a
# fresh directory (nss_wrapper; the profile directory follows the user
# database): the console names its trace file, says it is written, and reads
# it back; a trace file that cannot be written makes -w exit 2.
mkdir "$work/home" "$work/run"
echo "me:x:$(id -u):$(id -g):Me:$work/home:/bin/sh" >"$work/passwd"
echo "me:x:$(id -g):" >"$work/group"
as_user() {
  env LD_PRELOAD="$(ls /usr/lib/*/libnss_wrapper.so | head -1)" NSS_WRAPPER_PASSWD="$work/passwd" \
    NSS_WRAPPER_GROUP="$work/group" "$@"
}
(cd "$work/run" && as_user "$work/query_trace" 30 2 >"$work/example.out" 2>&1) &
for _ in $(seq 100); do grep -q running "$work/example.out" && break; sleep 0.1; done
pid=$(awk '/running/ {print $2}' "$work/example.out")
as_user nebrix_cons -w 10 TRACE SQL ON >/dev/null || fail "the example did not take up TRACE SQL ON"
as_user nebrix_cons SHOW PROCESSES >"$work/out" || fail "SHOW PROCESSES failed"
grep -q "trace: $work/run/nebrixtrace-$pid.prt (writing)" "$work/out" ||
  fail "SHOW PROCESSES does not name the example's trace file as written"
sleep 0.2
as_user nebrix_cons -p "$pid" SHOW RECORDS LAST 3 >"$work/out" || fail "SHOW RECORDS failed"
grep -q "SELECT name FROM customers" "$work/out" ||
  fail "SHOW RECORDS does not print the example's records"
as_user nebrix_cons CONFIG TRACE FILENAME "$work/missing/t-%p.prt" 2>/dev/null
status=0
as_user nebrix_cons -w 10 TRACE REFRESH 2>"$work/err" || status=$?
[ "$status" = 2 ] && grep -q "cannot write its trace file $work/missing/t-$pid.prt" "$work/err" ||
  fail "-w did not name the example's trace file that cannot be written (exit $status)"
kill "$pid" 2>/dev/null || true
wait 2>/dev/null || true

# The Python package, with Debian's interpreter: it imports from the
# installed folder, follows the console and writes its record.
as_user nebrix_cons CONFIG TRACE FILENAME "$work/run/py-%p.prt" >/dev/null
as_user nebrix_cons TRACE SQL ON >/dev/null
(cd "$work/run" && as_user /usr/bin/python3 -c "import nebrix_trace as t
assert t.__file__.startswith('/usr/lib/python3/dist-packages/'), t.__file__
assert t.__version__ == '$version' and t.enabled(t.SQL) == 1
t.trace(t.SQL, 'from python')") || fail "the Python package does not work from python3-nebrix-trace"
grep -qs "from python" "$work"/run/py-*.prt || fail "the Python package's record is not in its trace file"

dpkg -r "${packages[@]}"
dpkg --purge "${packages[@]}"
# Every file is gone; a directory may stay only as another package's.
while read -r path; do
  if [ -d "$path" ] && [ ! -L "$path" ]; then
    dpkg-query -S "$path" >/dev/null 2>&1 || fail "directory $path is left"
  elif [ -e "$path" ] || [ -L "$path" ]; then
    fail "$path is left"
  fi
done <"$work/files"
! ldconfig -p | grep libnebrix_trace >/dev/null || fail "the dynamic loader's cache still names libnebrix_trace"

[ "$failures" -eq 0 ] || exit 1
echo "packages OK"
