"""The module's segmenter (csrc/segmenter) against the pristine cppjieba, each in a plain C++ loop
over the novel's lines (bench/segmenter_cut_loop.cpp and bench/jieba_cut_loop.cpp), built with g++
and the module's Release flags on first use:

    python bench/bench_segmenter.py [--passes 10] [--runs 5] [--valgrind]

CPU time of interleaved runs of both loops, for cut and for cut_for_search; --valgrind adds the
instructions (callgrind) and simulated first-level data-cache misses (cachegrind) of one later
pass, each the run of two passes less the run of one, so that loading cancels out.
"""

import argparse
import os
import re
import subprocess
import sys
import tempfile
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
sys.path.insert(0, str(ROOT / "examples"))
import cppjieba_data  # noqa: E402

CPPJIEBA = cppjieba_data.tree()
DICT = cppjieba_data.dictionaries()
FLAGS = ["-std=c++20", "-O3", "-DNDEBUG", "-fPIC", "-fvisibility=hidden", "-ffp-contract=off",
         "-fno-fast-math"]


def build(name, sources, include):
    binary = ROOT / "build/bench" / name
    newest = max(path.stat().st_mtime for path in sources)
    if not binary.exists() or binary.stat().st_mtime < newest:
        binary.parent.mkdir(parents=True, exist_ok=True)
        subprocess.run(["g++", *FLAGS, *include, *map(str, sources), "-o", str(binary)], check=True)
    return binary


def loops():
    segmenter = sorted((ROOT / "csrc/segmenter").glob("*.cpp"))
    ours = build("segmenter_cut_loop", [ROOT / "bench/segmenter_cut_loop.cpp", *segmenter],
                 [f"-I{ROOT / 'csrc'}"])
    pristine = build("jieba_cut_loop", [ROOT / "bench/jieba_cut_loop.cpp"],
                     [f"-I{CPPJIEBA / 'include'}", f"-I{CPPJIEBA / 'deps/limonp/include'}"])
    return {"pristine cppjieba": pristine, "segmenter": ours}


def run(binary, lines_file, passes, mode):
    out = subprocess.run([str(binary), str(DICT), lines_file, str(passes), mode], check=True,
                         capture_output=True, text=True).stdout.split()
    return float(out[0]), int(out[1])


def valgrind_events(binary, lines_file, mode):
    """Instructions and L1 data misses of one later pass (two passes less one)."""
    counts = []
    for passes in (1, 2):
        result = subprocess.run(
            ["valgrind", "--tool=cachegrind", "--cache-sim=yes", "--cachegrind-out-file=/dev/null",
             str(binary), str(DICT), lines_file, str(passes), mode],
            check=True, capture_output=True, text=True)
        counts.append([int(re.search(pattern, result.stderr).group(1).replace(",", ""))
                       for pattern in (r"I\s+refs:\s+([\d,]+)", r"D1\s+misses:\s+([\d,]+)")])
    return [later - first for first, later in zip(*counts)]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--passes", type=int, default=10)
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--valgrind", action="store_true")
    args = parser.parse_args()
    text = (CPPJIEBA / "test/testdata/weicheng.utf8").read_text(encoding="utf-8")
    lines = [line for line in text.splitlines() if line.strip()]
    binaries = loops()
    with tempfile.NamedTemporaryFile("w", suffix=".txt", delete=False) as file:
        file.write("\n".join(lines) + "\n")
    try:
        megabytes = sum(len(line.encode()) for line in lines) / 1e6
        for mode in ("cut", "search"):
            times = {name: [] for name in binaries}
            words = {}
            for _ in range(args.runs):
                for name, binary in binaries.items():
                    seconds, words[name] = run(binary, file.name, args.passes, mode)
                    times[name].append(seconds)
            assert words["segmenter"] == words["pristine cppjieba"], words
            rates = {name: [megabytes * args.passes / s for s in runs] for name, runs in times.items()}
            ratios = sorted(o / p for o, p in zip(rates["segmenter"], rates["pristine cppjieba"]))
            print(f"{mode}: segmenter {min(rates['segmenter']):.1f}-{max(rates['segmenter']):.1f} MB/s,"
                  f" pristine {min(rates['pristine cppjieba']):.1f}-{max(rates['pristine cppjieba']):.1f}"
                  f" MB/s; ratio per run {ratios[0]:.2f}-{ratios[-1]:.2f}x ({args.runs} runs)")
            if args.valgrind:
                events = {name: valgrind_events(binary, file.name, mode)
                          for name, binary in binaries.items()}
                ours, theirs = events["segmenter"], events["pristine cppjieba"]
                print(f"  one pass: instructions {ours[0] / 1e6:.1f} M against {theirs[0] / 1e6:.1f} M"
                      f" ({ours[0] / theirs[0]:.2f}x), L1 data misses {ours[1] / 1e6:.2f} M against"
                      f" {theirs[1] / 1e6:.2f} M ({ours[1] / theirs[1]:.2f}x)")
    finally:
        os.unlink(file.name)


if __name__ == "__main__":
    main()
