#!/usr/bin/env bash
# Wall time of an encrypted "vaultadm put" beside a plaintext one, on a store
# of its own in a temporary directory (never the user's). The encrypted put
# also draws the record's salt and padding from the random generator, which
# is seeded at that first use; both puts otherwise do the same work.
#
#   bench/vaultadm_put_bench.sh [build-dir] [rounds]     (default: build, 200)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
rounds=${2:-200}
vaultadm=$build/bin/vaultadm
[ -x "$vaultadm" ] || { echo "build first: scripts/build.sh" >&2; exit 1; }
work=$(mktemp -d /tmp/nebrix-put-bench-XXXXXX)
trap 'rm -rf "$work"' EXIT

# The two take turns in a new random order each round, so that load that
# comes and goes on a shared machine falls on both alike. Medians, after 5
# rounds of warm-up.
python3 - "$vaultadm" "$work" "$rounds" <<'PY'
import os, random, statistics, subprocess, sys, time
vaultadm, work, rounds = sys.argv[1], sys.argv[2], int(sys.argv[3])
store = [vaultadm, "-s", "BEN", "-d", work, "-k", work, "put"]
kinds = {"encrypted": store + ["BEN/E", "value"], "plaintext": store + ["BEN/P", "value", "--plaintext"]}
times = {kind: [] for kind in kinds}
for round in range(rounds + 5):
    for kind in random.sample(list(kinds), len(kinds)):
        start = time.perf_counter()
        subprocess.run(kinds[kind], check=True)
        if round >= 5:
            times[kind].append(time.perf_counter() - start)
median = {kind: statistics.median(t) for kind, t in times.items()}
for kind in kinds:
    print(f"{median[kind] * 1000:8.2f} ms  put ({kind})")
print(f"{median['encrypted'] / median['plaintext']:8.2f} x    encrypted / plaintext")
PY
