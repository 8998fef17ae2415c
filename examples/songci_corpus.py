"""The segmenter's second corpus, for its benchmarks and tests: Song dynasty ci poems (宋词), whose
words are mostly one or two characters and many of them not in the dictionary, so the HMM does
much of the work; the novel is modern prose of longer dictionary words.

The poems come from the npm package chinese-poetry (MIT licence, the version pinned below), fetched
once with `npm pack`, checked against a pinned SHA-512 as cmake/cppjieba.cmake checks cppjieba, and
turned into one text file in .cache/ (ignored by git): one poem a line, its lines joined, in the
package's file order, the first whole poems up to 3 MB of UTF-8. The text is checked against its
own pinned SHA-256 on every use, and the 85 MB tarball is removed once the text is written.

    python3 examples/songci_corpus.py   # fetches it if needed, prints its path and size
"""

import hashlib
import io
import json
import pathlib
import re
import shutil
import subprocess
import sys
import tarfile
import tempfile

ROOT = pathlib.Path(__file__).resolve().parents[1]
CACHE = ROOT / ".cache"
PACKAGE = "chinese-poetry"
VERSION = "2.0.1"
TARBALL_SHA512 = (
    "2ad60046f57b09636d6b1d276bdf899fa3e5846812a2277b3d6c83cd72382ac0849b6a1d65ca84432bda97992868bca0"
    "66733f110de57c9fffdb92bca77b8736"
)
TEXT_SHA256 = "37ecae0d347b1416ec7117966224f2e573933e19fcce7640e8cb5b7dc7b9ccb5"
MAX_BYTES = 3_000_000
TEXT = CACHE / f"songci-{PACKAGE}-{VERSION}.txt"
POEM_FILE = re.compile(r"package/dist/songci/ci\.song\.(\d+)\.json")


class Unavailable(RuntimeError):
    """The corpus is not cached and cannot be fetched (no npm, no registry, a tarball that does
    not match its hash)."""


def _sha(algorithm, data):
    return hashlib.new(algorithm, data).hexdigest()


def _fetch_tarball(directory):
    npm = shutil.which("npm")
    if npm is None:
        raise Unavailable(f"npm is needed to fetch {PACKAGE}@{VERSION} (Debian: apt-get install npm)")
    try:
        subprocess.run([npm, "pack", f"{PACKAGE}@{VERSION}", "--pack-destination", directory,
                        "--ignore-scripts", "--silent"],
                       check=True, capture_output=True, text=True, timeout=600)
    except (subprocess.CalledProcessError, subprocess.TimeoutExpired) as error:
        raise Unavailable(f"npm pack {PACKAGE}@{VERSION} failed: {getattr(error, 'stderr', '') or error}")
    data = pathlib.Path(directory, f"{PACKAGE}-{VERSION}.tgz").read_bytes()
    if _sha("sha512", data) != TARBALL_SHA512:
        raise Unavailable(f"{PACKAGE}-{VERSION}.tgz does not match its pinned SHA-512")
    return data


def _poems_text(tarball):
    """One poem a line, from the numbered files in their numeric order, up to MAX_BYTES."""
    files = {}
    with tarfile.open(fileobj=io.BytesIO(tarball), mode="r:gz") as archive:
        for member in archive:
            match = POEM_FILE.fullmatch(member.name)
            if match and member.isfile():
                files[int(match.group(1))] = json.load(archive.extractfile(member))
    lines, size = [], 0
    for number in sorted(files):
        for poem in files[number]:
            line = "".join(poem["paragraphs"]).strip() + "\n"
            length = len(line.encode("utf-8"))
            if size + length > MAX_BYTES:
                return "".join(lines)
            if line.strip():
                lines.append(line)
                size += length
    return "".join(lines)


def path():
    """The text file, fetched and written first if it is missing or not what it should be."""
    if TEXT.is_file() and _sha("sha256", TEXT.read_bytes()) == TEXT_SHA256:
        return TEXT
    with tempfile.TemporaryDirectory() as directory:
        text = _poems_text(_fetch_tarball(directory)).encode("utf-8")
    if _sha("sha256", text) != TEXT_SHA256:
        raise Unavailable(f"the poems of {PACKAGE}@{VERSION} do not give the pinned text (SHA-256 "
                          f"{_sha('sha256', text)})")
    CACHE.mkdir(exist_ok=True)
    partial = TEXT.with_suffix(".partial")
    partial.write_bytes(text)
    partial.replace(TEXT)  # whole or not at all, for a reader in another process
    return TEXT


def lines():
    """The poems, one str each."""
    return path().read_text(encoding="utf-8").splitlines()


if __name__ == "__main__":
    try:
        where = path()
    except Unavailable as error:
        sys.exit(str(error))
    print(where, where.stat().st_size, "bytes")
