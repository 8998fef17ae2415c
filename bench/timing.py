"""Side-by-side timing shared by the benchmarks."""

import gc
import math
import time


def best_times(native, python, repeat):
    """Best of `repeat` runs each, taken in turns so that both see the same machine."""
    best = [math.inf, math.inf]
    for _ in range(repeat):
        for index, function in enumerate((native, python)):
            gc.collect()
            start = time.perf_counter()
            function()
            best[index] = min(best[index], time.perf_counter() - start)
    return best
