#!/usr/bin/env bash
# The checkout's own virtual environment, which the test and CI scripts install into, so that they
# change nothing outside the checkout and work where the system manages python3's packages (PEP 668).
#
#     python=$(bash tests/venv.sh [PYTHON [DIR]])
#
# Prints the path of the environment's interpreter. PYTHON (default python3) makes it, in DIR
# (default build/venv); one already there is reused when it runs, has pip and is of the same Python,
# and made anew otherwise. Everything but the path goes to standard error.
set -euo pipefail
cd "$(dirname "$0")/.."
base=${1:-python3}
dir=${2:-build/venv}

version() { "$1" -c 'import sys; print(sys.version)' 2>/dev/null; }

wanted=$(version "$base") || { echo "venv: $base does not run" >&2; exit 1; }
if [ -x "$dir/bin/python" ] && [ "$(version "$dir/bin/python")" = "$wanted" ] &&
  "$dir/bin/python" -m pip --version >/dev/null 2>&1; then
  echo "$(cd "$dir" && pwd)/bin/python"
  exit 0
fi

if [ -e "$dir" ]; then echo "venv: $dir is broken or of another Python: making it anew" >&2; fi
rm -rf "$dir"
mkdir -p "$(dirname "$dir")"
if ! "$base" -m venv "$dir" >&2; then
  rm -rf "$dir"
  cat >&2 <<EOF
venv: $(command -v "$base") cannot make a virtual environment. On Debian and Ubuntu its venv module
and pip come in a package of their own: install it (apt-get install python3-venv, or the
pythonX.Y-venv of that version), then run this again.
EOF
  exit 1
fi
echo "$(cd "$dir" && pwd)/bin/python"
