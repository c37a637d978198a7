#!/usr/bin/env bash
# Runs the Python module's tests as a private user (never in the real home),
# with the trace files in the private work folder.
#   run_pytest.sh PYTHON NEBRIX_CONS MODULE_DIR
set -euo pipefail
python=${1:?usage: run_pytest.sh PYTHON NEBRIX_CONS MODULE_DIR} cons=${2:?} module_dir=${3:?}
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../../bench/private_user.sh"
trap 'rm -rf "$work"' EXIT
"$cons" CONFIG TRACE FILENAME "$work/py-%p.prt" >/dev/null
export NEBRIX_CONS=$cons PYTHONPATH=$module_dir PYTHON=$python
cd "$work"
"$python" -m pytest -q -p no:cacheprovider "$here"
