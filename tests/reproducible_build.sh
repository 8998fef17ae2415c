#!/usr/bin/env bash
# Two builds of this checkout, copied into two directories of different names and depths, give the
# same module byte for byte, and neither holds a path of the directory it was built in (nor of this
# checkout, nor of the cppjieba tree): log lines name the library's files as "DictTrie.hpp". Builds
# with CMake directly, for the interpreter given as PYTHON (default python3), which needs pybind11.
set -euo pipefail
cd "$(dirname "$0")/.."
python=${PYTHON:-python3}
pybind11_dir=$("$python" -m pybind11 --cmakedir)
cmake -P cmake/cppjieba.cmake >/dev/null  # fetched once into .cache/, which both copies take

work=$(mktemp -d /tmp/pytarntext-reproducible.XXXXXX)
trap 'rm -rf "$work"' EXIT
modules=()
for copy in a "second/copy-at-another-depth"; do
  source_dir="$work/$copy"
  mkdir -p "$source_dir/.cache"
  # The files of the commit as they stand in the worktree, and the fetched cppjieba.
  git ls-files -z | tar --null -T - -cf - | tar -C "$source_dir" -xf -
  cp -r .cache/nodejieba-* "$source_dir/.cache/"
  cmake -S "$source_dir" -B "$source_dir/build" -DPython_EXECUTABLE="$python" \
    -Dpybind11_DIR="$pybind11_dir" >/dev/null
  cmake --build "$source_dir/build" --parallel 2 >/dev/null
  module=$(find "$source_dir/build" -maxdepth 1 -name 'pytarntext*.so')
  if strings -a "$module" | grep -F -e "$work" -e "$PWD" -e ".cache/nodejieba"; then
    echo "FAIL: $module holds the build paths above" >&2
    exit 1
  fi
  modules+=("$module")
done
if ! cmp "${modules[0]}" "${modules[1]}"; then
  echo "FAIL: the two builds differ" >&2
  exit 1
fi
# grep -c reads to the end: -q would stop early, and strings fail on the closed pipe.
strings -a "${modules[0]}" | grep -c -E "^DictTrie\.hpp:[0-9]+$" >/dev/null || {
  echo "FAIL: the module does not name cppjieba's DictTrie.hpp as itself" >&2
  exit 1
}
echo "reproducible: two builds in different directories are identical ($(stat -c %s "${modules[0]}") bytes, sha256 $(sha256sum "${modules[0]}" | cut -c1-16)...)"
