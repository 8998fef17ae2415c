#!/usr/bin/env bash
# The examples against real engines: Spark (local mode, needs Java 17 or newer) and Qdrant (local
# mode, no server). Installs what they need, the package with its extras, then runs their tests.
set -euo pipefail
cd "$(dirname "$0")/.."

java_major() { java -version 2>&1 | sed -n 's/.*version "\([0-9]*\).*/\1/p' | head -n 1; }
if ! command -v java >/dev/null || [ "$(java_major)" -lt 17 ]; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends openjdk-17-jre-headless >/dev/null
fi

python3 -m pip install --quiet ".[spark,qdrant]" pytest

# From a neutral directory, so that the installed module is the one under test. pytest exits 5
# when it collects nothing, which set -e turns into a failure, as a missing test should be.
cd tests/integration && python3 -m pytest -c ../../pyproject.toml --rootdir ../.. -p no:cacheprovider .
