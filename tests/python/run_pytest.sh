#!/usr/bin/env bash
# Runs the Python module's tests as a private user (never in the real home),
# with the trace files in the private work folder. NEBRIX_PYTHON is the
# interpreter; NEBRIX_PRELOAD, if set, the sanitizers' runtime it must load.
#   run_pytest.sh NEBRIX_CONS MODULE_DIR
set -euo pipefail
cons=${1:?usage: run_pytest.sh NEBRIX_CONS MODULE_DIR} module_dir=${2:?} python=${NEBRIX_PYTHON:?}
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../../bench/private_user.sh"
trap 'rm -rf "$work"' EXIT
# The interpreter's own memory at exit is no leak of ours.
[ -z "${NEBRIX_PRELOAD:-}" ] || export LD_PRELOAD=$NEBRIX_PRELOAD:$LD_PRELOAD ASAN_OPTIONS=detect_leaks=0
"$cons" CONFIG TRACE FILENAME "$work/py-%p.prt" >/dev/null
export NEBRIX_CONS=$cons PYTHONPATH=$module_dir
cd "$work"
"$python" -m pytest -q -p no:cacheprovider "$here"
