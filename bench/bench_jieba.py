"""The segmenter side by side with rjieba and pristine cppjieba's plain C++ loop, on two corpora.

    python bench/bench_jieba.py [--passes 4] [--runs 7] [--corpus novel|songci] [--jieba-passes 1] [--callgrind]
    python bench/bench_jieba.py --callgrind-only | --cachegrind   [--corpus novel|songci]
    python bench/bench_jieba.py --quick     # every timed part once, on little text: CI's check

The corpora: the lines of the novel in cppjieba's test data (the non-empty ones), `--passes` times
(4: 2.9 MB), and the Song ci poems of examples/songci_corpus.py (3 MB, once), whose words are
mostly one or two characters. The C++ loop (bench/jieba_cut_loop.cpp) is built with g++ from the
fetched, unpatched cppjieba headers on first use; rjieba (pip install rjieba==0.2.2, not a
dependency) and the jieba package are compared when installed. Single-thread rates are CPU time,
best of five runs taken in turns; thread figures are medians of `--runs` interleaved runs; start-up
is import to first word in fresh processes, best of three each. --callgrind-only counts the
instructions of one pass of cut, from Python and from the C++ loop, for the first pass (a fresh
Jieba, whose cache of words is empty) and a later one; --cachegrind simulates the caches and branch
predictor for a later pass of the C++ loop, of Jieba.cut and of rjieba (valgrind, some minutes).
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
import songci_corpus  # noqa: E402  (the second corpus)

CPPJIEBA = cppjieba_data.tree()  # the headers for the C++ loop, and the novel
DICT = cppjieba_data.dictionaries()
paths = cppjieba_data.jieba_paths
FIRST_WORD = "我来到北京清华大学"
MODES = {"cut": "cut", "cut_for_search": "search"}  # the C++ loop's name of each method


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


def novel_lines():
    text = (CPPJIEBA / "test/testdata/weicheng.utf8").read_text(encoding="utf-8")
    return [line for line in text.splitlines() if line.strip()]


class Corpus:
    """Lines to cut `passes` times, and the same lines in a file for the C++ loop."""

    def __init__(self, name, lines, passes):
        self.name, self.lines, self.passes = name, lines, passes
        self.megabytes = sum(len(line.encode("utf-8")) for line in lines) * passes / 1e6
        with tempfile.NamedTemporaryFile("w", encoding="utf-8", suffix=".txt", delete=False) as file:
            file.write("\n".join(lines) + "\n")
        self.file = file.name

    def close(self):
        os.unlink(self.file)


def corpus_lines(name):
    return novel_lines() if name == "novel" else songci_corpus.lines()


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


def rjieba_module():
    try:
        import rjieba
    except ImportError:
        return None
    return rjieba


def single_thread(corpus, segmenter, rjieba, rounds):
    """Each method on one thread, ours, rjieba's and the C++ loop's in turns, best of `rounds`."""
    for method in MODES:
        sides = {"pytarntext": getattr(segmenter, method)}
        if rjieba:
            sides["rjieba"] = getattr(rjieba, method)
        best = {name: float("inf") for name in [*sides, "C++ loop"]}
        words = {}
        for _ in range(rounds):
            seconds, words["C++ loop"] = native_loop(corpus.file, corpus.passes, MODES[method])
            best["C++ loop"] = min(best["C++ loop"], seconds)
            for name, function in sides.items():
                seconds, words[name] = python_loop(function, corpus.lines, corpus.passes)
                best[name] = min(best[name], seconds)
        # The same library's words, so the same number of them; rjieba has a dictionary of its own.
        assert words["pytarntext"] == words["C++ loop"], words
        rates = {name: corpus.megabytes / seconds for name, seconds in best.items()}
        text = ", ".join(f"{name} {rate:.2f}" for name, rate in rates.items())
        ratios = [f"{rates['pytarntext'] / rates[peer]:.2f}x {peer}" for peer in rates if peer != "pytarntext"]
        print(f"  {method:<15} MB per CPU second: {text}; pytarntext {', '.join(ratios)}"
              f" ({words['pytarntext']:,} words)", flush=True)


def threaded(method, lines, passes, threads):
    """Seconds for `threads` threads sharing one object to do `passes` passes between them; a
    corpus cut once is split into `threads` shares of its lines."""
    if passes >= threads:
        shares = [(lines, passes // threads + (i < passes % threads)) for i in range(threads)]
    else:
        shares = [(lines[i::threads], passes) for i in range(threads)]
    workers = [threading.Thread(target=python_loop, args=(method, part, n, time.perf_counter))
               for part, n in shares]
    start = time.perf_counter()
    for worker in workers:
        worker.start()
    for worker in workers:
        worker.join()
    return time.perf_counter() - start


def two_threads(corpus, segmenter, rjieba, runs):
    peers = [("pytarntext", segmenter.cut)] + ([("rjieba", rjieba.Jieba().cut)] if rjieba else [])
    seconds = {(name, threads): [] for name, _ in peers for threads in (1, 2)}
    for _ in range(runs):  # interleaved: each run times every peer on one and on two threads
        for name, method in peers:
            for threads in (1, 2):
                seconds[name, threads].append(threaded(method, corpus.lines, corpus.passes, threads))
    median = {key: statistics.median(values) for key, values in seconds.items()}
    parts = [f"{name} {median[name, 1] / median[name, 2]:.2f}x" for name, _ in peers]
    line = f"  cut, two threads against one (wall time, medians of {runs}): " + ", ".join(parts)
    if rjieba:
        line += f"; pytarntext on two / rjieba on one {median['rjieba', 1] / median['pytarntext', 2]:.2f}x"
    print(line, flush=True)


def startup_child(side):
    """In a fresh process: seconds, and resident and peak bytes added, from the import to the first
    word."""

    def status_bytes(field):
        with open("/proc/self/status") as status:
            return next(int(line.split()[1]) for line in status if line.startswith(field + ":")) * 1024

    arguments = paths()
    before = status_bytes("VmRSS")
    start = time.perf_counter()
    if side == "rjieba":
        import rjieba

        word = rjieba.cut(FIRST_WORD)[0]
    else:
        from pytarntext import Jieba as Segmenter

        word = Segmenter(**arguments).cut(FIRST_WORD)[0]
    elapsed = time.perf_counter() - start
    assert word == "我"
    print(elapsed, status_bytes("VmRSS") - before, status_bytes("VmHWM") - before)


def startup(rjieba, tries):
    sides = ["pytarntext"] + (["rjieba"] if rjieba else [])
    best = {side: [float("inf")] * 3 for side in sides}
    for _ in range(tries):
        for side in sides:
            out = subprocess.run([sys.executable, __file__, "--startup-child", side],
                                 check=True, capture_output=True, text=True).stdout.split()
            best[side] = [min(old, float(new)) for old, new in zip(best[side], out)]
    text = ", ".join(f"{side} {seconds:.3f} s, {size / 2**20:.0f} MiB resident ({peak / 2**20:.0f} at the peak)"
                     for side, (seconds, size, peak) in best.items())
    line = f"import to first word (fresh processes, best of {tries}): {text}"
    if rjieba:
        ours, theirs = best["pytarntext"], best["rjieba"]
        line += (f"; pytarntext {ours[0] / theirs[0]:.2f}x rjieba's time, {ours[1] / theirs[1]:.2f}x its memory"
                 f" ({ours[2] / theirs[2]:.2f}x at the peak)")
    print(line, flush=True)


def callgrind_pass_instructions(command):
    """Instructions of the first pass and of a later one: the runs with none, one and two passes
    less one another, so that start-up and loading the dictionaries cancel out. A fresh Jieba's
    first pass fills its cache of words; a later one finds most of them there.
    `command(passes)` gives the argument list."""
    counts = [instructions(command(passes)) for passes in (0, 1, 2)]
    return counts[1] - counts[0], counts[2] - counts[1]


def callgrind_child(passes, corpus="novel"):
    """In a fresh process under valgrind: `passes` passes of cut, the way python_loop runs them."""
    segmenter = Jieba(**paths())
    python_loop(segmenter.cut, corpus_lines(corpus), passes)


def rjieba_child(passes, corpus="novel"):
    """In a fresh process under valgrind: `passes` passes of rjieba's cut, as python_loop runs them."""
    import rjieba

    rjieba.cut("预热")  # loads its dictionary outside the passes
    python_loop(rjieba.cut, corpus_lines(corpus), passes)


def print_callgrind(corpus):
    native_first, native = callgrind_pass_instructions(
        lambda passes: [str(cut_loop_binary()), str(DICT), corpus.file, str(passes), "cut"]
    )
    first, later = callgrind_pass_instructions(
        lambda passes: [sys.executable, __file__, "--callgrind-child", str(passes), "--corpus", corpus.name]
    )
    print(
        f"  instructions of one pass of cut (callgrind): C++ loop {native / 1e6:.1f} M"
        f" (first pass {native_first / 1e6:.1f} M); from Python, a later pass {later / 1e6:.1f} M:"
        f" {later / native - 1:+.1%}; the first pass of a fresh Jieba {first / 1e6:.1f} M:"
        f" {first / native_first - 1:+.1%}", flush=True
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


def print_cachegrind(corpus, rjieba):
    rows = [
        ("C++ loop (cppjieba)", lambda passes: [str(cut_loop_binary()), str(DICT), corpus.file, str(passes), "cut"]),
        ("Jieba.cut from Python",
         lambda passes: [sys.executable, __file__, "--callgrind-child", str(passes), "--corpus", corpus.name]),
    ]
    if rjieba:
        rows.append(("rjieba from Python",
                     lambda passes: [sys.executable, __file__, "--rjieba-child", str(passes), "--corpus", corpus.name]))
    else:
        print("  rjieba not installed: no cachegrind of it")
    print("  one later pass of cut (cachegrind, simulated caches and branch predictor):")
    events = {}
    for name, command in rows:
        events[name] = cachegrind_pass_events(command)
        print(f"    {name:<22} " + ", ".join(f"{label} {value / 1e6:.2f} M" for label, value in events[name].items()),
              flush=True)
    ours, loop = events["Jieba.cut from Python"], events["C++ loop (cppjieba)"]
    print("    Jieba.cut / C++ loop: " + ", ".join(f"{label} {ours[label] / loop[label]:.2f}x" for label in ours))


def jieba_package(lines, segmenter, passes):
    try:
        import jieba
    except ImportError:
        print("jieba package not installed: pip install jieba, to compare with it")
        return
    jieba.setLogLevel(60)
    jieba.initialize()
    start = time.thread_time()
    for _ in range(passes):
        theirs = [jieba.lcut(line, HMM=True) for line in lines]
    jieba_rate = len(lines) * passes / (time.thread_time() - start)
    ours_seconds, _ = python_loop(segmenter.cut, lines, 1)
    same = sum(ours == mine for ours, mine in zip(theirs, map(segmenter.cut, lines)))
    print(
        f"jieba package    {jieba_rate:>8,.1f} lines per CPU second; pytarntext cut {len(lines) / ours_seconds / jieba_rate:.1f}x"
        f" that; same words on {same} of {len(lines)} lines ({same / len(lines):.0%})"
    )


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--passes", type=int, default=4, help="passes over the novel (4: 2.9 MB)")
    parser.add_argument("--runs", type=int, default=7)
    parser.add_argument("--corpus", choices=["novel", "songci"], help="only this corpus")
    parser.add_argument("--jieba-passes", type=int, default=1)
    parser.add_argument("--callgrind", action="store_true", help="the instruction counts after the timed parts")
    parser.add_argument("--callgrind-only", action="store_true", help="only the instruction counts")
    parser.add_argument("--cachegrind", action="store_true", help="only the cache and branch simulation")
    parser.add_argument("--quick", action="store_true", help="every timed part once, on little text")
    parser.add_argument("--startup-child")
    parser.add_argument("--callgrind-child", type=int)
    parser.add_argument("--rjieba-child", type=int)
    args = parser.parse_args()
    if args.startup_child:
        startup_child(args.startup_child)
        return
    if args.callgrind_child is not None:
        callgrind_child(args.callgrind_child, args.corpus or "novel")
        return
    if args.rjieba_child is not None:
        rjieba_child(args.rjieba_child, args.corpus or "novel")
        return

    rjieba = rjieba_module()
    if rjieba is None:
        print("rjieba not installed (pip install rjieba==0.2.2): no side-by-side with it")
    names = [args.corpus] if args.corpus else ["novel", "songci"]
    passes = {"novel": 1 if args.quick else args.passes, "songci": 1}
    corpora = []
    for name in names:
        lines = corpus_lines(name)
        if args.quick:  # a tenth of the poems: CI checks that every part runs and agrees
            lines = lines[::10] if name == "songci" else lines
        corpora.append(Corpus(name, lines, passes[name]))
    try:
        if args.callgrind_only or args.cachegrind:
            for corpus in corpora:
                print(f"{corpus.name}: {len(corpus.lines)} lines, {corpus.megabytes / corpus.passes:.1f} MB a pass")
                print_cachegrind(corpus, rjieba) if args.cachegrind else print_callgrind(corpus)
            return
        segmenter = Jieba(**paths())
        rounds, runs = (1, 1) if args.quick else (5, args.runs)
        for corpus in corpora:
            print(f"{corpus.name}: {len(corpus.lines)} lines x {corpus.passes}, {corpus.megabytes:.1f} MB", flush=True)
            single_thread(corpus, segmenter, rjieba, rounds)
            two_threads(corpus, segmenter, rjieba, runs)
        startup(rjieba, 1 if args.quick else 3)
        if not args.quick:
            jieba_package(novel_lines(), segmenter, args.jieba_passes)
        if args.callgrind:
            for corpus in corpora:
                print(f"{corpus.name}:")
                print_callgrind(corpus)
    finally:
        for corpus in corpora:
            corpus.close()


if __name__ == "__main__":
    main()
