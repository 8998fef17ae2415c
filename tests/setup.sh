#!/usr/bin/env bash
# Makes this machine ready for tests/run.sh. Finds what the build and the tests need (python3 with its
# headers and venv, which tests/run.sh makes the tests' environment with); when something
# is missing, installs it from Debian's packages if we are root, or says what to install and fails.
# Where the system has no de_DE.UTF-8 locale (the tests that the model file ignores the process
# locale need one), generates it into build/locale, for LOCPATH; that needs no root.
# --dry-run only reports what it would do.
set -euo pipefail
cd "$(dirname "$0")/.."

dry_run=false
if [ "${1:-}" = --dry-run ]; then dry_run=true; fi
locale_dir=build/locale
packages=()

need() {  # need PACKAGE WHAT
  echo "setup: missing $2 (Debian package $1)"
  packages+=("$1")
}

# The same search as the test build's find_package(GTest), in a throwaway project.
has_gtest() {
  local probe status
  probe=$(mktemp -d)
  printf 'cmake_minimum_required(VERSION 3.18)\nproject(probe CXX)\nfind_package(GTest REQUIRED)\n' \
    >"$probe/CMakeLists.txt"
  cmake -S "$probe" -B "$probe/build" >"$probe/log" 2>&1 && status=0 || status=$?
  rm -rf "$probe"
  return "$status"
}

has_locale() {
  python3 -c "import locale, sys; locale.setlocale(locale.LC_NUMERIC, sys.argv[1])" "$1" 2>/dev/null
}

find_missing() {
  packages=()
  command -v cmake >/dev/null || need cmake "cmake"
  command -v c++ >/dev/null || need g++ "a C++ compiler"
  command -v make >/dev/null || need make "make"
  # npm fetches cppjieba, unless the user gives a tree of their own or an earlier build fetched it
  # (the version pinned in cmake/cppjieba.cmake).
  local version
  version=$(sed -n 's/^set(_nodejieba_version \([0-9.]*\))$/\1/p' cmake/cppjieba.cmake)
  if [ -z "${PYTARNTEXT_CPPJIEBA_DIR:-}" ] && [ ! -f ".cache/nodejieba-$version.tgz" ] &&
    ! command -v npm >/dev/null; then
    need npm "npm, which fetches cppjieba"
  fi
  # npm also fetches the segmenter tests' second corpus (examples/songci_corpus.py), once; where it
  # cannot be installed, the tests on that corpus skip and say why.
  local poems
  poems=$(sed -n 's/^VERSION = "\([0-9.]*\)"$/\1/p' examples/songci_corpus.py)
  if [ ! -f ".cache/songci-chinese-poetry-$poems.txt" ] && ! command -v npm >/dev/null &&
    [[ " ${packages[*]} " != *" npm "* ]]; then
    if [ "$(id -u)" = 0 ] && command -v apt-get >/dev/null; then
      need npm "npm, which fetches the segmenter tests' second corpus"
    else
      echo "setup: no npm to fetch the segmenter tests' second corpus: the tests on it will skip"
    fi
  fi
  if ! python3 -c "import sysconfig, os, sys; sys.exit(not os.path.isfile(os.path.join(sysconfig.get_paths()['include'], 'Python.h')))"; then
    need python3-dev "the headers of $(command -v python3) (for another Python, install its own)"
  fi
  # The tests install into a virtual environment of their own (tests/venv.sh), which brings its pip
  # from ensurepip; Debian ships that apart from the interpreter.
  if ! python3 -c "import venv, ensurepip; ensurepip.version()" 2>/dev/null; then
    need python3-venv "the venv module or ensurepip of $(command -v python3) (for another Python, install its own)"
  fi
  if command -v cmake >/dev/null && command -v c++ >/dev/null && command -v make >/dev/null; then
    has_gtest || need libgtest-dev "GoogleTest"
  elif [ ! -f /usr/include/gtest/gtest.h ]; then
    need libgtest-dev "GoogleTest"
  fi
  if ! has_locale de_DE.UTF-8 && [ ! -f /usr/share/i18n/locales/de_DE ]; then
    need locales "the locale sources, to generate de_DE.UTF-8"
  fi
}

find_missing
if ((${#packages[@]})); then
  install=(apt-get install -y --no-install-recommends "${packages[@]}")
  if $dry_run; then
    echo "setup: would run: apt-get update && ${install[*]}"
  elif [ "$(id -u)" = 0 ] && command -v apt-get >/dev/null; then
    echo "setup: installing ${packages[*]}"
    DEBIAN_FRONTEND=noninteractive apt-get update -qq
    DEBIAN_FRONTEND=noninteractive "${install[@]}" -qq >/dev/null
    find_missing
    if ((${#packages[@]})); then
      echo "setup: still missing after the install: ${packages[*]}" >&2
      exit 1
    fi
  else
    cat >&2 <<EOF
setup: tests/run.sh cannot install what is missing: that needs root and apt-get. Install it with
    sudo apt-get update && sudo ${install[*]}
(or your system's equivalents), then run bash tests/run.sh again.
EOF
    exit 1
  fi
fi

if ! has_locale de_DE.UTF-8 && [ ! -d "$locale_dir/de_DE.UTF-8" ]; then
  if $dry_run; then
    echo "setup: would generate the de_DE.UTF-8 locale into $locale_dir"
  else
    mkdir -p "$locale_dir"
    localedef -i de_DE -f UTF-8 "$locale_dir/de_DE.UTF-8"
    echo "setup: generated the de_DE.UTF-8 locale into $locale_dir"
  fi
fi
