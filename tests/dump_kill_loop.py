"""Kills a process with SIGKILL in the middle of dump, again and again, and checks what each kill
left: the model file whole (the old text or the new one, byte for byte) and, where the system
offers unnamed files (O_TMPFILE) that can be linked, nothing else beside it. Where it does not,
the files left under temporary names are counted and removed. CI runs it with 40 kills.

    python3 tests/dump_kill_loop.py [--kills 40] [--tokens 250000] [--directory DIR] [--seed 1]
"""

import argparse
import os
import pickle
import random
import shutil
import signal
import subprocess
import sys
import tempfile
import time

from pytarntext import BM25

CHILD = """
import pickle, sys
models = pickle.load(open(sys.argv[1], "rb"))
print("ready", flush=True)
while True:
    for model in models:
        model.dump(sys.argv[2])
"""


def models(tokens):
    """Two encoders whose model files differ and are about as long."""
    first, second = BM25(), BM25()
    first.train([f"token {i}" for i in range(tokens)])
    second.train([f"token {i}" for i in range(tokens - 1, -1, -1)] + ["one more"])
    return first, second


def unnamed_files_work(directory):
    """Whether dump's route through an unnamed file is open here: O_TMPFILE, then a link."""
    try:
        fd = os.open(directory, os.O_TMPFILE | os.O_WRONLY, 0o600)
    except (AttributeError, OSError):
        return False
    parent = os.open(directory, os.O_RDONLY | os.O_DIRECTORY)
    try:
        # With a directory descriptor os.link is linkat, which can follow the /proc link.
        os.link(f"/proc/self/fd/{fd}", ".unnamed-probe", dst_dir_fd=parent, follow_symlinks=True)
        os.remove(".unnamed-probe", dir_fd=parent)
        return True
    except OSError:
        return False
    finally:
        os.close(fd)
        os.close(parent)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--kills", type=int, default=40)
    parser.add_argument("--tokens", type=int, default=250_000)
    parser.add_argument("--directory", help="where to dump (default: a new temporary directory)")
    parser.add_argument("--seed", type=int, default=1)
    arguments = parser.parse_args()
    rng = random.Random(arguments.seed)
    work = tempfile.mkdtemp(prefix="pytarntext-kill-")
    directory = arguments.directory or os.path.join(work, "dumps")
    os.makedirs(directory, exist_ok=True)
    target = os.path.join(directory, "model.json")
    try:
        encoders = models(arguments.tokens)
        texts = []
        for index, encoder in enumerate(encoders):
            path = os.path.join(work, f"expected{index}.json")
            encoder.dump(path)
            texts.append(open(path, "rb").read())
        encoders[0].dump(target)
        start = time.perf_counter()
        encoders[1].dump(target)
        one_dump = time.perf_counter() - start
        with open(os.path.join(work, "models.pickle"), "wb") as stored:
            pickle.dump(encoders, stored)
        unnamed = unnamed_files_work(directory)

        seen = [0, 0]
        left = 0
        for _ in range(arguments.kills):
            child = subprocess.Popen([sys.executable, "-c", CHILD, os.path.join(work, "models.pickle"), target],
                                     stdout=subprocess.PIPE)
            if child.stdout.readline() != b"ready\n":
                sys.exit(f"the dumping child did not start: status {child.wait()}")
            time.sleep(rng.uniform(0, 3 * one_dump))  # within the first few dumps
            child.send_signal(signal.SIGKILL)
            child.wait()
            child.stdout.close()
            content = open(target, "rb").read()
            if content not in texts:
                sys.exit(f"FAIL: after a kill the model file is not whole ({len(content)} bytes)")
            seen[texts.index(content)] += 1
            for name in os.listdir(directory):
                if name != "model.json":
                    left += 1
                    os.remove(os.path.join(directory, name))
        route = "unnamed files (O_TMPFILE)" if unnamed else "named temporary files"
        print(f"{arguments.kills} kills, {len(texts[0])}-byte model files, {one_dump * 1000:.0f} ms a dump, "
              f"route: {route}: the model file whole every time (first text {seen[0]}, second {seen[1]}); "
              f"files left beside it: {left}")
        if unnamed and left:
            sys.exit("FAIL: files were left beside the model file on the route through unnamed files")
    finally:
        shutil.rmtree(work)


if __name__ == "__main__":
    main()
