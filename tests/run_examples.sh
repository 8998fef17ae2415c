#!/usr/bin/env bash
# Every example, run as a user runs it, from an empty directory; stops at the first failure.
#
#     bash tests/run_examples.sh             # in the checkout's venv (tests/venv.sh), after installing
#                                            # the package with the extras the examples need
#     bash tests/run_examples.sh --installed # the same, with what that venv holds (run_integration.sh
#                                            # calls it so, right after its own install)
#     bash tests/run_examples.sh --oldest    # on the oldest Python that requires-python admits, in a
#                                            # venv of its own (build/venv-<version>)
#
# The Spark example needs Java 17 or newer (tests/run_integration.sh installs it). On the oldest
# Python it is left out: pyspark comes as a source distribution of some 300 MB, a minute more to
# install, while the Spark test runs on the checkout's Python; the others run there with the
# versions of their extras that pip picks for it.
set -euo pipefail
cd "$(dirname "$0")/.."
checkout=$PWD

source tests/interpreter.sh  # interpreter VERSION

run() {  # run PYTHON EXAMPLE [ARGUMENT...]
  local python=$1 example=$2 empty
  shift 2
  empty=$(mktemp -d)
  echo "--- Python $("$python" -c 'import platform; print(platform.python_version())'): $example $*"
  if ! (cd "$empty" && "$python" "$checkout/examples/$example" "$@" >"$empty/out.txt" 2>&1); then
    cat "$empty/out.txt"
    exit 1
  fi
  tail -n 2 "$empty/out.txt"
  rm -rf "$empty"
}

examples() {  # examples PYTHON: all but Spark's
  run "$1" bm25_quickstart.py
  run "$1" search_novel.py
  run "$1" qdrant_search.py --top 1
  run "$1" qdrant_search.py --top 1 --ranking textbook
  run "$1" milvus_search.py --top 1
}

case "${1:-}" in
  --oldest)
    oldest=$(sed -n 's/^requires-python = ">=\([0-9]*\.[0-9]*\).*/\1/p' pyproject.toml)
    base=$(interpreter "$oldest") || { echo "no Python $oldest under the pyenv root or on PATH" >&2; exit 1; }
    python=$(bash tests/venv.sh "$base" "build/venv-$oldest")
    CMAKE_BUILD_PARALLEL_LEVEL=2 "$python" -m pip install --quiet ".[qdrant,milvus]"
    examples "$python"
    ;;
  "" | --installed)
    python=$(bash tests/venv.sh)
    if [ "${1:-}" != --installed ]; then "$python" -m pip install --quiet ".[spark,qdrant,milvus]"; fi
    examples "$python"
    run "$python" spark_pipeline.py --repeat 1 --partitions 2
    ;;
  *)
    echo "usage: bash tests/run_examples.sh [--installed | --oldest]" >&2
    exit 2
    ;;
esac
