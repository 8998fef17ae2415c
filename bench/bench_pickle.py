"""Pickling an encoder side by side with its model file, on 1,000,000 distinct tokens.

    python bench/bench_pickle.py [--tokens 1000000] [--repeat 3]

pickle: pickle.loads(pickle.dumps(model, protocol)) for the highest protocol.
model file: model.dump(path), then reading the file and BM25().load(text).
Each is timed (best of --repeat, in turns), then its peak memory is taken in a fresh process: the
growth of the peak resident size over the trained encoder's, which counts native allocations
that tracemalloc does not see.
"""

import argparse
import ctypes
import gc
import os
import pickle
import subprocess
import sys
import tempfile

from pytarntext import BM25
from timing import best_times


def trained(tokens):
    model = BM25()
    for start in range(0, tokens, 1000):
        model.train([f"t{number}" for number in range(start, start + 1000)])
    return model


def by_pickle(model, path):
    return pickle.loads(pickle.dumps(model, protocol=pickle.HIGHEST_PROTOCOL))


def by_model_file(model, path):
    model.dump(path)
    restored = BM25()
    with open(path, encoding="utf-8") as file:
        restored.load(file.read())
    return restored


WAYS = {"pickle": by_pickle, "model file": by_model_file}


def status(field):
    with open("/proc/self/status") as lines:
        for line in lines:
            if line.startswith(field + ":"):
                return int(line.split()[1]) * 1024
    raise LookupError(field)


def memory_child(way, tokens, path):
    """In a fresh process: how far one round trip raises the peak above the trained encoder."""
    model = trained(tokens)
    gc.collect()
    ctypes.CDLL(None).malloc_trim(0)
    before = status("VmRSS")
    with open("/proc/self/clear_refs", "w") as clear:
        clear.write("5")  # the peak starts again from here
    restored = WAYS[way](model, path)
    print(status("VmHWM") - before)
    del restored


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--tokens", type=int, default=1_000_000)
    parser.add_argument("--repeat", type=int, default=3)
    parser.add_argument("--memory-child", choices=WAYS)
    args = parser.parse_args()
    with tempfile.TemporaryDirectory() as directory:
        path = os.path.join(directory, "model.json")
        if args.memory_child:
            memory_child(args.memory_child, args.tokens, path)
            return

        model = trained(args.tokens)
        restored = by_pickle(model, path)
        assert restored.__getstate__() == model.__getstate__()
        times = best_times(lambda: by_pickle(model, path), lambda: by_model_file(model, path), args.repeat)
        pickled = len(pickle.dumps(model, protocol=pickle.HIGHEST_PROTOCOL))
        print(f"{args.tokens:,} distinct tokens: pickle {pickled / 2**20:.1f} MiB,"
              f" model file {os.path.getsize(path) / 2**20:.1f} MiB")

    peaks = []
    for way in WAYS:
        child = [sys.executable, __file__, "--tokens", str(args.tokens), "--memory-child", way]
        peaks.append(int(subprocess.run(child, capture_output=True, text=True, check=True).stdout))
    print(f"{'':<24} {'pickle':>10} {'model file':>11} {'ratio':>7}")
    print(f"{'round trip, best time':<24} {times[0]:>9.3f}s {times[1]:>10.3f}s {times[1] / times[0]:>6.2f}x")
    print(f"{'peak memory above model':<24} {peaks[0] / 2**20:>6.1f} MiB {peaks[1] / 2**20:>7.1f} MiB"
          f" {peaks[1] / peaks[0]:>6.2f}x")


if __name__ == "__main__":
    main()
