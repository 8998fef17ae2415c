"""Model file dump and load side by side with Python's json module, on 1,000,000 distinct tokens.

    python bench/bench_model_file.py [--tokens 1000000] [--repeat 3]

dump: BM25.dump(path) against json.dumps(statistics, sort_keys=True, indent=2) and a write.
load: reading the file and BM25.load(text) against reading it and json.loads(text).
Then the peak memory of a load, relative to the memory of the encoder it produces.
"""

import argparse
import ctypes
import gc
import json
import os
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


def python_statistics(tokens):
    return {
        "_b": 0.75,
        "_doc_count": tokens // 1000,
        "_doc_length_average": 1000.0,
        "_doc_token_frequency": {f"t{number}": 1 for number in range(tokens)},
        "_k1": 1.2,
    }



def status(field):
    """Resident (VmRSS) or peak resident (VmHWM) bytes of this process alone: getrusage's peak
    would include the parent's, which exec passes on."""
    with open("/proc/self/status") as lines:
        for line in lines:
            if line.startswith(field + ":"):
                return int(line.split()[1]) * 1024
    raise LookupError(field)


def memory_child(path):
    """In a fresh process: peak memory of reading and loading the file, and the encoder's size."""
    before = status("VmRSS")
    model = BM25()
    with open(path, encoding="utf-8") as file:
        text = file.read()
    model.load(text)
    peak = status("VmHWM") - before
    del text
    gc.collect()
    ctypes.CDLL(None).malloc_trim(0)  # hand freed parse memory back, so what stays is the encoder
    print(peak, status("VmRSS") - before)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--tokens", type=int, default=1_000_000)
    parser.add_argument("--repeat", type=int, default=3)
    parser.add_argument("--memory-child")
    args = parser.parse_args()
    if args.memory_child:
        memory_child(args.memory_child)
        return

    model, statistics = trained(args.tokens), python_statistics(args.tokens)
    with tempfile.TemporaryDirectory() as directory:
        native_path = os.path.join(directory, "native.json")
        python_path = os.path.join(directory, "python.json")

        def python_dump():
            with open(python_path, "w", encoding="utf-8") as file:
                file.write(json.dumps(statistics, sort_keys=True, indent=2))

        def native_load():
            with open(native_path, encoding="utf-8") as file:
                BM25().load(file.read())

        def python_load():
            with open(python_path, encoding="utf-8") as file:
                json.loads(file.read())

        dump_times = best_times(lambda: model.dump(native_path), python_dump, args.repeat)
        load_times = best_times(native_load, python_load, args.repeat)
        size = os.path.getsize(native_path)
        print(f"{args.tokens:,} distinct tokens, model file {size / 2**20:.1f} MiB")
        print(f"{'':<6} {'pytarntext':>12} {'json module':>12} {'ratio':>7}")
        for name, (native, python) in [("dump", dump_times), ("load", load_times)]:
            print(f"{name:<6} {native:>11.3f}s {python:>11.3f}s {python / native:>6.2f}x")

        child = [sys.executable, __file__, "--memory-child", native_path]
        peak, encoder = map(int, subprocess.run(child, capture_output=True, text=True, check=True).stdout.split())
        print(
            f"load peak memory (file text included) {peak / 2**20:.1f} MiB,"
            f" loaded encoder {encoder / 2**20:.1f} MiB:"
            f" peak {peak / encoder:.1f}x the encoder"
        )


if __name__ == "__main__":
    main()
