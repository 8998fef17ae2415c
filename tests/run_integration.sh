#!/usr/bin/env bash
# The examples against their stores and engines: Spark (local mode, needs Java 17 or newer), Milvus
# (Milvus Lite, the engine started for a local file) and Qdrant (the client's local mode, a stand-in
# written in Python). Installs what they need, the package with its extras into the checkout's venv
# (tests/venv.sh), then runs their tests.
set -euo pipefail
cd "$(dirname "$0")/.."

java_major() { java -version 2>&1 | sed -n 's/.*version "\([0-9]*\).*/\1/p' | head -n 1; }
if ! command -v java >/dev/null || [ "$(java_major)" -lt 17 ]; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends openjdk-17-jre-headless >/dev/null
fi

python=$(bash tests/venv.sh)
"$python" -m pip install --quiet ".[spark,qdrant,milvus]" pytest

# From a neutral directory, so that the installed module is the one under test. pytest exits 5
# when it collects nothing, which set -e turns into a failure, as a missing test should be.
cd tests/integration && "$python" -m pytest -c ../../pyproject.toml --rootdir ../.. -p no:cacheprovider .

# Then every example as a user runs it, with what was just installed.
cd ../.. && bash tests/run_examples.sh --installed
