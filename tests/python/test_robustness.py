"""Mutated data files and heavy concurrent use: only Python exceptions, no lost memory, no crash."""

import collections.abc
import gc
import os
import random
import threading

import pytest

from pytarntext import BM25, Jieba

FIELDS = ["dict_path", "hmm_path", "user_dict_path", "idf_path", "stop_word_path"]
SOURCES = {"dict_path": "jieba.dict.utf8", "hmm_path": "hmm_model.utf8", "user_dict_path": "user.dict.utf8",
           "idf_path": "idf.utf8", "stop_word_path": "stop_words.utf8"}


def resident_bytes():
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * 4096


def mutations(lines, rng):
    """Damaged versions of a data file's lines: each kind of harm a file meets in practice."""
    line = rng.randrange(len(lines))
    cut = lines[line][: rng.randrange(len(lines[line]) + 1)]
    yield "cut short", lines[:line] + [cut]
    yield "field dropped", lines[:line] + [" ".join(lines[line].split(" ")[:-1])] + lines[line + 1:]
    yield "bad number", lines[:line] + [lines[line].replace("0", "x").replace("-", "--")] + lines[line + 1:]
    yield "bad UTF-8", lines[:line] + [lines[line].encode()[:-1].decode("latin-1")] + lines[line + 1:]
    yield "blank line", lines[:line] + [""] + lines[line:]
    yield "empty", []


def shortened(line):
    """An HMM emission line keeps its first entries; other lines stay as they are."""
    return ",".join(line.split(",")[:30]) if ":" in line else line


@pytest.fixture(scope="module")
def small_sources(dict_dir):
    """Each real data file cut down: the real format, quick to read."""
    sources = {}
    for field, name in SOURCES.items():
        lines = (dict_dir / name).read_text(encoding="utf-8").splitlines()
        sources[field] = [shortened(line) for line in lines] if field == "hmm_path" else lines[:200]
    return sources


@pytest.fixture(scope="module")
def small_paths(tmp_path_factory, small_sources):
    directory = tmp_path_factory.mktemp("small")
    paths = {}
    for field, lines in small_sources.items():
        path = directory / SOURCES[field]
        path.write_text("\n".join(lines) + "\n", encoding="utf-8")
        paths[field] = str(path)
    return paths


def test_mutated_data_files_raise_python_exceptions_in_process(tmp_path, small_sources):
    rng = random.Random(5)
    outcomes = {}
    for round_number in range(6):
        for field in FIELDS:
            for harm, lines in mutations(small_sources[field], rng):
                paths = {}
                for name in FIELDS:
                    path = tmp_path / f"{name}.txt"
                    content = lines if name == field else small_sources[name]
                    path.write_bytes("\n".join(content).encode("utf-8", "surrogateescape") + b"\n" * bool(content))
                    paths[name] = str(path)
                try:
                    Jieba(**paths).cut("我来到北京清华大学")
                    outcome = "constructed"
                except (OSError, ValueError) as error:
                    outcome = type(error).__name__
                outcomes.setdefault((field, harm), set()).add(outcome)
    # Every damage to the main dictionary and the HMM model that breaks its format is refused.
    assert outcomes[("dict_path", "empty")] == {"ValueError"}
    assert outcomes[("hmm_path", "empty")] == {"ValueError"}
    assert outcomes[("dict_path", "blank line")] == {"ValueError"}


@pytest.mark.skipif("libasan" in os.environ.get("LD_PRELOAD", ""),
                    reason="AddressSanitizer holds freed memory back, so resident memory grows")
@pytest.mark.parametrize("make", ["directory", "missing", "malformed"])
def test_failed_constructions_leak_no_memory(tmp_path, small_paths, make):
    bad = {"directory": str(tmp_path), "missing": str(tmp_path / "missing"),
           "malformed": str(tmp_path / "bad.utf8")}[make]
    (tmp_path / "bad.utf8").write_text("北京\n", encoding="utf-8")  # no usable IDF line
    paths = {**small_paths, "idf_path": bad}

    def fail_many(times):
        for _ in range(times):
            with pytest.raises((OSError, ValueError)):
                Jieba(**paths)

    fail_many(100)  # warm up: caches, allocator pools
    gc.collect()
    before = resident_bytes()
    fail_many(1000)
    gc.collect()
    assert resident_bytes() - before < 2**20  # a kilobyte lost per failure would show


@pytest.mark.parametrize("threads", [2, 5, 8])
def test_threads_mixing_cuts_while_segmenters_come_and_go(jieba, small_paths, novel_lines, threads):
    lines = novel_lines[:24]
    expected = {line: (jieba.cut(line), jieba.cut_for_search(line)) for line in lines}
    failures = []
    stop = threading.Event()

    def segment(index):
        rng = random.Random(index)
        for _ in range(8):
            for line in rng.sample(lines, len(lines)):
                words = jieba.cut(line) if rng.random() < 0.5 else jieba.cut_for_search(line)
                if words not in expected[line]:
                    failures.append((index, line[:20]))

    def churn():
        while not stop.is_set():
            Jieba(**small_paths).cut("北京")
            gc.collect()

    churner = threading.Thread(target=churn)
    workers = [threading.Thread(target=segment, args=(index,)) for index in range(threads)]
    churner.start()
    for worker in workers:
        worker.start()
    for worker in workers:
        worker.join()
    stop.set()
    churner.join()
    assert failures == []


class Hooks:
    """Each conversion hook an argument can have, all raising one exception."""

    def __init__(self, error):
        self.error = error

    def __index__(self):
        raise self.error

    def __float__(self):
        raise self.error

    def __fspath__(self):
        raise self.error


class HookedTokens(collections.abc.Sequence):
    """A token sequence whose iteration raises (through the Sequence mixin's __iter__)."""

    def __init__(self, error):
        self.error = error

    def __len__(self):
        return 1

    def __getitem__(self, index):
        raise self.error


def trained_encoder():
    encoder = BM25()
    encoder.train([1, 2])
    return encoder


HOOKED_CALLS = {
    "train, an int token's __index__": lambda hooks, paths: BM25().train([1, hooks]),
    "encode_document, __index__": lambda hooks, paths: trained_encoder().encode_document([hooks]),
    "encode_query, __index__": lambda hooks, paths: trained_encoder().encode_query([2, hooks]),
    "a token sequence's __iter__": lambda hooks, paths: BM25().train(HookedTokens(hooks.error)),
    "BM25(b), __float__": lambda hooks, paths: BM25(hooks),
    "k1(value), __float__": lambda hooks, paths: BM25().k1(hooks),
    "__reduce_ex__, the protocol's __index__": lambda hooks, paths: BM25().__reduce_ex__(hooks),
    "dump, the path's __fspath__": lambda hooks, paths: BM25().dump(hooks),
    "Jieba, a path's __fspath__": lambda hooks, paths: Jieba(**{**paths, "idf_path": hooks}),
}


class HookError(Exception):
    pass


@pytest.mark.parametrize("call", HOOKED_CALLS)
@pytest.mark.parametrize("error", [KeyboardInterrupt(), ValueError("from the hook"), HookError(), MemoryError()],
                         ids=lambda error: type(error).__name__)
def test_what_a_conversion_hook_raises_propagates_as_raised(jieba_paths, call, error):
    # These once all came out as "incompatible function arguments".
    with pytest.raises(type(error)) as raised:
        HOOKED_CALLS[call](Hooks(error), jieba_paths)
    assert raised.value is error


@pytest.mark.parametrize("call", HOOKED_CALLS)
@pytest.mark.parametrize("error", [TypeError("not a number"), OverflowError("too large")],
                         ids=lambda error: type(error).__name__)
def test_a_plain_conversion_failure_in_a_hook_is_a_wrong_argument(jieba_paths, call, error):
    with pytest.raises(TypeError, match="incompatible (function|constructor) arguments"):
        HOOKED_CALLS[call](Hooks(error), jieba_paths)
