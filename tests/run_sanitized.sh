#!/usr/bin/env bash
# The C++ tests and the whole Python suite against a build with AddressSanitizer and
# UndefinedBehaviorSanitizer; any report fails the run. Needs libgtest-dev; pybind11 (as the build
# requirements pin it) and the test requirements go into the checkout's venv (tests/venv.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
build=build/sanitize

python=$(bash tests/venv.sh)
"$python" -m pip install --quiet $("$python" -c 'import tomllib
toml = tomllib.load(open("pyproject.toml", "rb"))
print(*[r for r in toml["build-system"]["requires"] if r.startswith("pybind11")],
      *toml["project"]["optional-dependencies"]["test"])')
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPYTARNTEXT_SANITIZE=ON \
  -DPYTARNTEXT_BUILD_TESTS=ON -Dpybind11_DIR="$("$python" -m pybind11 --cmakedir)" \
  -DPython_EXECUTABLE="$python"
cmake --build "$build" --parallel 2
ctest --test-dir "$build" --output-on-failure --no-tests=error

# The interpreter is not built with the sanitizers: preload their runtime, let Python allocate with
# malloc so that our writes into its objects are checked, and leave leak checking to the C++ tests
# (the interpreter keeps much of its memory until exit by design).
export LD_PRELOAD="$(gcc -print-file-name=libasan.so):$(gcc -print-file-name=libubsan.so)"
export ASAN_OPTIONS=detect_leaks=0:abort_on_error=1:strict_string_checks=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export PYTHONMALLOC=malloc
export PYTHONPATH="$PWD/$build"
# The comma-decimal locale that tests/setup.sh generates where the system has none.
if [ -d build/locale ]; then export LOCPATH="$PWD/build/locale"; fi
cd tests/python && "$python" -m pytest -c ../../pyproject.toml --rootdir ../.. -p no:cacheprovider .
