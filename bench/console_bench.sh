#!/usr/bin/env bash
# Wall time of whole console commands against /bin/true (the cost of starting
# a process), on a fresh profile and on one whose data file holds 10 000
# superseded records. Needs hyperfine and nss_wrapper (installed when
# missing); runs as a private test user, never in the real home.
#
#   bench/console_bench.sh [build-dir]        (default: build)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
cons=$build/bin/nebrix_cons
grow=$build/bin/grow_store
for pkg in hyperfine libnss-wrapper; do
  dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' ||
    { apt-get update >/dev/null && apt-get install -y "$pkg" >/dev/null; }
done
[ -x "$cons" ] && [ -x "$grow" ] || { echo "build first: scripts/build.sh" >&2; exit 1; }

work=$(mktemp -d /tmp/nebrix-bench-XXXXXX)
trap 'kill "$sleeper" 2>/dev/null || true; rm -rf "$work"' EXIT
mkdir "$work/home"
echo "bench:x:$(id -u):$(id -g):Bench:$work/home:/bin/sh" > "$work/passwd"
echo "bench:x:$(id -g):" > "$work/group"
export LD_PRELOAD=$(ls /usr/lib/*/libnss_wrapper.so | head -1)
export NSS_WRAPPER_PASSWD=$work/passwd NSS_WRAPPER_GROUP=$work/group
profile=$work/home/.orq/$(uname -n)

sleep 3600 & sleeper=$!

commands=(
  "/bin/true"
  "$cons TRACE SQL ON"
  "$cons -p $sleeper TRACE SQL ON"
  "$cons SHOW ALL"
  "$cons SHOW HISTORY"
  "$cons SHOW CONFIG"
)

# Every run starts from the same profile: none at all, or the grown one, in
# which every configuration value has been stored before (as after the first
# SHOW CONFIG of a user).
"$cons" TRACE SQL ON >/dev/null
"$cons" SHOW ALL >/dev/null
"$cons" -v SHOW PROFILE >/dev/null 2>&1 || true
"$grow" "$profile" 10000
cp -a "$profile" "$work/grown"

# hyperfine starts every command without a shell (-N), so that /bin/true
# measures process start alone; the preparation is a script of its own.
run() {
  local label=$1
  echo "== $label"
  hyperfine -N -i --warmup 5 --runs 100 --prepare "sh $work/prepare-$label.sh" \
    --export-json "$work/$label.json" "${commands[@]}" >/dev/null
  python3 - "$work/$label.json" <<'PY'
import json, sys
results = json.load(open(sys.argv[1]))["results"]
floor = results[0]["mean"]
for r in results:
    print(f"{r['mean']*1000:8.2f} ms  {r['mean']/floor:5.2f} x /bin/true   {r['command']}")
PY
}

echo "rm -rf $work/home/.orq" > "$work/prepare-fresh.sh"
# The copy is flushed to disk in the preparation: a command that syncs the
# data file must not pay for writing out a copy made just before it.
echo "rm -rf $profile && cp -a $work/grown $profile && sync $profile/*" > "$work/prepare-grown.sh"
run fresh
run grown
