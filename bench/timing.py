"""Side-by-side timing shared by the benchmarks."""

import gc
import math
import os
import re
import subprocess
import time


def side_by_side(functions, repeat, prepare=None, clock=time.perf_counter):
    """Best of `repeat` runs of each function, taken in turns so that all see the same machine.

    With `prepare`, each run gets its own fresh input, `function(prepare())`, made outside the
    timing: inputs that a run changes (a str caches its UTF-8 copy and its hash) start new each time.
    `clock=time.thread_time` counts CPU time only, which other load on the machine disturbs less.
    """
    best = [math.inf] * len(functions)
    for _ in range(repeat):
        for index, function in enumerate(functions):
            argument = prepare() if prepare else None
            gc.collect()
            start = clock()
            if prepare:
                function(argument)
            else:
                function()
            best[index] = min(best[index], clock() - start)
            del argument
    return best


def best_times(native, python, repeat):
    """Best of `repeat` runs each of two functions, taken in turns."""
    return side_by_side([native, python], repeat)


def instructions(command):
    """Instructions that callgrind counts in running `command` (an argument list); a fixed hash
    seed keeps the runs of one benchmark comparable, so that their differences are exact."""
    result = subprocess.run(
        ["valgrind", "--tool=callgrind", "--callgrind-out-file=/dev/null", *command],
        check=True, capture_output=True, text=True, env={**os.environ, "PYTHONHASHSEED": "0"},
    )
    return int(re.search(r"Collected : (\d+)", result.stderr).group(1))
