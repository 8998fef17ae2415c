"""The segmenter side by side with a plain C++ loop, on two threads, and with rjieba and jieba.

    python bench/bench_jieba.py [--passes 10] [--runs 7] [--jieba-passes 1] [--callgrind | --callgrind-only | --cachegrind]

Uses the lines of the novel in cppjieba's test data (the non-empty ones) and the dictionaries of
the same fetch; builds the C++ loop (bench/jieba_cut_loop.cpp) with g++ on first use. rjieba and
the jieba package are compared only when installed (pip install rjieba jieba; neither is a
dependency). Thread figures are medians of interleaved runs. --callgrind adds the instruction
count of one pass, from Python and from the C++ loop, for the first pass (a fresh Jieba, whose
cache of words is empty) and a later one (valgrind, some minutes). --cachegrind alone simulates the
caches and branch predictor for a later pass of the C++ loop, of Jieba.cut and of rjieba: the
events that make equal instruction counts take different times.
"""

import argparse
import os
import pathlib
import re
import statistics
import subprocess
import sys
import tempfile
import threading
import time

from pytarntext import Jieba
from timing import instructions

ROOT = pathlib.Path(__file__).resolve().parents[1]
sys.path.insert(0, str(ROOT / "examples"))
import cppjieba_data  # noqa: E402  (where the dictionaries and the novel are)

CPPJIEBA = cppjieba_data.tree()  # the headers for the C++ loop, and the novel
DICT = cppjieba_data.dictionaries()
paths = cppjieba_data.jieba_paths


def cut_loop_binary():
    binary = ROOT / "build/bench/jieba_cut_loop"
    source = ROOT / "bench/jieba_cut_loop.cpp"
    if not binary.exists() or binary.stat().st_mtime < source.stat().st_mtime:
        binary.parent.mkdir(parents=True, exist_ok=True)
        include = [f"-I{CPPJIEBA / 'include'}", f"-I{CPPJIEBA / 'deps/limonp/include'}"]
        # The compiler and flags of the module's own Release build, so that instruction counts compare.
        flags = ["-std=c++20", "-O3", "-DNDEBUG", "-fPIC", "-fvisibility=hidden", "-ffp-contract=off", "-fno-fast-math"]
        command = ["g++", *flags, *include, str(source)]
        subprocess.run([*command, "-o", str(binary)], check=True)
    return binary


def native_loop(lines_file, passes, mode):
    out = subprocess.run(
        [str(cut_loop_binary()), str(DICT), lines_file, str(passes), mode],
        check=True, capture_output=True, text=True,
    ).stdout.split()
    return float(out[0]), int(out[1])


def python_loop(method, lines, passes, clock=time.thread_time):
    """Seconds and words of `passes` passes; CPU seconds of this thread unless told otherwise, as
    the C++ loop reports them."""
    start = clock()
    words = 0
    for _ in range(passes):
        for line in lines:
            words += len(method(line))
    return clock() - start, words


def callgrind_pass_instructions(command):
    """Instructions of the first pass and of a later one: the runs with none, one and two passes
    less one another, so that start-up and loading the dictionaries cancel out. A fresh Jieba's
    first pass fills its cache of words; a later one finds most of them there.
    `command(passes)` gives the argument list."""
    counts = [instructions(command(passes)) for passes in (0, 1, 2)]
    return counts[1] - counts[0], counts[2] - counts[1]


def callgrind_child(passes):
    """In a fresh process under valgrind: `passes` passes of cut, the way python_loop runs them."""
    segmenter = Jieba(**paths())
    python_loop(segmenter.cut, novel_lines(), passes)


def print_callgrind(lines_file):
    native_first, native = callgrind_pass_instructions(
        lambda passes: [str(cut_loop_binary()), str(DICT), lines_file, str(passes), "cut"]
    )
    first, later = callgrind_pass_instructions(
        lambda passes: [sys.executable, __file__, "--callgrind-child", str(passes)]
    )
    print(
        f"instructions of one pass of cut (callgrind): C++ loop {native / 1e6:.1f} M"
        f" (first pass {native_first / 1e6:.1f} M); from Python, a later pass {later / 1e6:.1f} M:"
        f" {later / native - 1:+.1%}; the first pass of a fresh Jieba {first / 1e6:.1f} M:"
        f" {first / native_first - 1:+.1%}"
    )


CACHEGRIND_EVENTS = {
    "instructions": r"I\s+refs:\s+([\d,]+)",
    "L1 data misses": r"D1\s+misses:\s+([\d,]+)",
    "mispredicted branches": r"Mispredicts:\s+([\d,]+)",
}


def cachegrind_pass_events(command):
    """Simulated cache and branch events of a later pass (two passes less one), which explain what
    instruction counts cannot: where the time of equal instruction counts differs."""
    runs = []
    for passes in (1, 2):
        result = subprocess.run(
            ["valgrind", "--tool=cachegrind", "--cache-sim=yes", "--branch-sim=yes",
             "--cachegrind-out-file=/dev/null", *command(passes)],
            check=True, capture_output=True, text=True, env={**os.environ, "PYTHONHASHSEED": "0"},
        )
        runs.append({name: int(re.search(pattern, result.stderr).group(1).replace(",", ""))
                     for name, pattern in CACHEGRIND_EVENTS.items()})
    return {name: runs[1][name] - runs[0][name] for name in CACHEGRIND_EVENTS}


def rjieba_child(passes):
    """In a fresh process under valgrind: `passes` passes of rjieba's cut, as python_loop runs them."""
    import rjieba

    rjieba.cut("预热")  # loads its dictionary outside the passes
    python_loop(rjieba.cut, novel_lines(), passes)


def print_cachegrind(lines_file):
    rows = [
        ("C++ loop (cppjieba)", lambda passes: [str(cut_loop_binary()), str(DICT), lines_file, str(passes), "cut"]),
        ("Jieba.cut from Python", lambda passes: [sys.executable, __file__, "--callgrind-child", str(passes)]),
    ]
    try:
        import rjieba  # noqa: F401
    except ImportError:
        print("rjieba not installed: cachegrind of the C++ loop only")
    else:
        rows.append(("rjieba from Python", lambda passes: [sys.executable, __file__, "--rjieba-child", str(passes)]))
    print("one later pass of cut (cachegrind, simulated caches and branch predictor):")
    for name, command in rows:
        events = cachegrind_pass_events(command)
        print(f"  {name:<20} " + ", ".join(f"{label} {value / 1e6:.2f} M" for label, value in events.items()))


def novel_lines():
    text = (CPPJIEBA / "test/testdata/weicheng.utf8").read_text(encoding="utf-8")
    return [line for line in text.splitlines() if line.strip()]


def threaded(method, lines, passes, threads):
    """Seconds for `threads` threads sharing one object to do `passes` passes between them."""
    share = [passes // threads + (i < passes % threads) for i in range(threads)]
    workers = [
        threading.Thread(target=python_loop, args=(method, lines, n, time.perf_counter)) for n in share
    ]
    start = time.perf_counter()
    for worker in workers:
        worker.start()
    for worker in workers:
        worker.join()
    return time.perf_counter() - start


def construction_child():
    """In a fresh process: construction time and resident memory of one object."""

    def resident():
        with open("/proc/self/statm") as statm:
            return int(statm.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")

    before = resident()
    start = time.perf_counter()
    segmenter = Jieba(**paths())
    elapsed = time.perf_counter() - start
    print(elapsed, resident() - before)
    del segmenter


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--passes", type=int, default=10)
    parser.add_argument("--runs", type=int, default=7)
    parser.add_argument("--jieba-passes", type=int, default=1)
    parser.add_argument("--callgrind", action="store_true")
    parser.add_argument("--callgrind-only", action="store_true", help="skip the timed comparisons")
    parser.add_argument("--construction-child", action="store_true")
    parser.add_argument("--callgrind-child", type=int)
    parser.add_argument("--cachegrind", action="store_true", help="only the cache and branch simulation")
    parser.add_argument("--rjieba-child", type=int)
    args = parser.parse_args()
    if args.construction_child:
        construction_child()
        return
    if args.callgrind_child is not None:
        callgrind_child(args.callgrind_child)
        return
    if args.rjieba_child is not None:
        rjieba_child(args.rjieba_child)
        return

    lines = novel_lines()
    segmenter = Jieba(**paths())
    with tempfile.NamedTemporaryFile("w", encoding="utf-8", suffix=".txt", delete=False) as file:
        file.write("\n".join(lines) + "\n")
    if args.callgrind_only or args.cachegrind:
        (print_cachegrind if args.cachegrind else print_callgrind)(file.name)
        os.unlink(file.name)
        return
    sentences = len(lines) * args.passes
    print(f"{len(lines)} lines, {sum(map(len, lines)):,} characters, {args.passes} passes")

    best = {}
    for name, mode, method in [
        ("cut", "cut", segmenter.cut),
        ("cut_for_search", "search", segmenter.cut_for_search),
    ]:
        # Alternate the two, best of five each, so that both see the same machine; CPU time, so
        # that other load on the machine counts less.
        native, python = [], []
        for _ in range(5):
            seconds, native_words = native_loop(file.name, args.passes, mode)
            native.append(seconds)
            seconds, python_words = python_loop(method, lines, args.passes)
            python.append(seconds)
        assert native_words == python_words, (native_words, python_words)
        best[name] = min(native), min(python)
        print(
            f"{name:<15} C++ loop {sentences / min(native):>8,.0f} lines per CPU second, from Python"
            f" {sentences / min(python):>8,.0f}: {min(native) / min(python):.3f}x"
            f" ({python_words:,} words)"
        )

    # What a cut from Python costs beyond the library's: the lock is held for only part of it
    # (--callgrind measures the instructions; see the guide for the lock-held part).
    native_seconds, python_seconds = best["cut"]
    print(f"cut from Python costs {python_seconds / native_seconds - 1:+.1%} CPU time over the C++ loop")

    megabytes = sum(len(line.encode("utf-8")) for line in lines) * args.passes / 1e6
    peers = [("pytarntext Jieba.cut", segmenter.cut)]
    try:
        import rjieba
    except ImportError:
        print("rjieba not installed (pip install rjieba): no side-by-side with it")
    else:
        peers.append(("rjieba Jieba.cut", rjieba.Jieba().cut))
    # Interleaved: every run times each peer on one and on two threads in turn.
    seconds = {(name, threads): [] for name, _ in peers for threads in (1, 2)}
    for _ in range(args.runs):
        for name, method in peers:
            for threads in (1, 2):
                seconds[name, threads].append(threaded(method, lines, args.passes, threads))
    print(f"threads, medians of {args.runs} interleaved runs ({os.cpu_count()} cores):")
    for name, _ in peers:
        one, two = (statistics.median(seconds[name, threads]) for threads in (1, 2))
        print(
            f"  {name:<22} one thread {megabytes / one:6.2f} MB/s, two {megabytes / two:6.2f} MB/s:"
            f" {one / two:.2f}x"
        )
    if len(peers) == 2:
        ours_two = statistics.median(seconds[peers[0][0], 2])
        theirs_one = statistics.median(seconds[peers[1][0], 1])
        print(f"  pytarntext on two threads / rjieba on one: {theirs_one / ours_two:.2f}x")

    try:
        import jieba
    except ImportError:
        print("jieba package not installed: pip install jieba, to compare with it")
    else:
        jieba.setLogLevel(60)
        jieba.initialize()
        start = time.thread_time()
        for _ in range(args.jieba_passes):
            theirs = [jieba.lcut(line, HMM=True) for line in lines]
        jieba_rate = len(lines) * args.jieba_passes / (time.thread_time() - start)
        ours_rate = sentences / min(python)
        same = sum(ours == mine for ours, mine in zip(theirs, map(segmenter.cut, lines)))
        print(
            f"jieba package    {jieba_rate:>8,.1f} lines per CPU second; pytarntext cut {ours_rate / jieba_rate:.1f}x"
            f" that; same words on {same} of {len(lines)} lines ({same / len(lines):.0%})"
        )

    out = subprocess.run(
        [sys.executable, __file__, "--construction-child"], check=True, capture_output=True, text=True
    ).stdout.split()
    print(f"construction {float(out[0]):.2f}s, resident memory of one object {int(out[1]) / 2**20:.0f} MiB")
    if args.callgrind:
        print_callgrind(file.name)

    os.unlink(file.name)

if __name__ == "__main__":
    main()
