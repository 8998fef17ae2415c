#!/usr/bin/env bash
# The module built with the newest g++ (Debian sid's, in the root that tests/sid_root.sh makes),
# against the newest CPython there, with every warning an error: the early word of what the next
# compiler will say about our code. The checkout is mounted into the root; the build stays in
# build/newest-gcc.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -P cmake/cppjieba.cmake  # fetched here, with npm: the root has none

bash tests/sid_root.sh run . /bin/sh -euc '
  g++ --version | head -1
  python3.15 -m venv --clear /tmp/newest-gcc
  # pybind11 exactly as the build requirements pin it.
  pybind11=$(python3.15 -c "import tomllib; print(next(r for r in tomllib.load(open(\"/src/pyproject.toml\", \"rb\"))[\"build-system\"][\"requires\"] if r.startswith(\"pybind11\")))")
  /tmp/newest-gcc/bin/python -m pip install --quiet "$pybind11"
  cmake -S /src -B /src/build/newest-gcc -DCMAKE_CXX_FLAGS=-Werror \
    -Dpybind11_DIR="$(/tmp/newest-gcc/bin/python -m pybind11 --cmakedir)" \
    -DPython_EXECUTABLE=/tmp/newest-gcc/bin/python >/dev/null
  cmake --build /src/build/newest-gcc --parallel 2
'
