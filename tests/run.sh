#!/usr/bin/env bash
# The README's test command, for a fresh machine too: sets up what is missing (tests/setup.sh), builds
# and installs the module with the test requirements into the checkout's own virtual environment
# (build/venv, made with the python3 on PATH: tests/venv.sh), builds the C++ tests, then runs every
# test; stops at the first failure. Nothing is installed into the interpreter that started it.
set -euo pipefail
cd "$(dirname "$0")/.."

bash tests/setup.sh
# The comma-decimal locale that setup generates where the system has none.
if [ -d build/locale ]; then export LOCPATH="$PWD/build/locale"; fi

python=$(bash tests/venv.sh)
"$python" -m pip install --quiet ".[test]"
# The segmenter's identity tests: pristine cppjieba's oracle and the second corpus, made once.
"$python" tests/oracle/pristine.py

cmake -S . -B build/tests -DPYTARNTEXT_BUILD_TESTS=ON -DPYTARNTEXT_BUILD_MODULE=OFF
cmake --build build/tests --parallel 2
ctest --test-dir build/tests --output-on-failure --no-tests=error

# From a neutral directory, so that the installed module is the one under test.
cd tests/python && "$python" -m pytest -c ../../pyproject.toml --rootdir ../.. .
