"""A Jieba hands back the str of a word it has seen before instead of a new one: the words must stay
the words of the sentence however the cache fills, empties and is shared."""

import copy
import random
import string
import subprocess
import sys
import time

import pytest

CACHE_CAPACITY = 262144
# Code point ranges of every str width and UTF-8 length, CJK most often.
RANGES = [(0x4E00, 0x9FFF)] * 6 + [(0xC0, 0xFF), (0x100, 0x17F), (0x20000, 0x2A6DF), (0x1F600, 0x1F64F)]


@pytest.fixture(scope="module")
def many_lines():
    """Random lines with more distinct words than the cache holds, among them ASCII words on both
    sides of the longest length it keeps."""
    rng = random.Random(12)
    lines = []
    for _ in range(48000):
        parts = []
        for _ in range(rng.randint(5, 40)):
            if rng.random() < 0.3:
                parts.append(" " + "".join(rng.choices(string.ascii_letters, k=rng.randint(1, 40))) + " ")
            else:
                low, high = rng.choice(RANGES)
                parts.append(chr(rng.randint(low, high)))
        lines.append("".join(parts))
    return lines


def test_words_stay_right_as_the_cache_fills_and_empties(jieba, many_lines):
    segmenter = copy.copy(jieba)  # a cache of its own, empty
    first = [segmenter.cut(line) for line in many_lines]
    assert len({word for words in first for word in words if len(word.encode()) <= 30}) > CACHE_CAPACITY
    assert all("".join(words) == line for words, line in zip(first, many_lines))
    assert [segmenter.cut(line) for line in many_lines] == first
    # Bytes go through the interpreter's decoder, str through the module's own.
    from_bytes = copy.copy(jieba)
    assert [from_bytes.cut(line.encode()) for line in many_lines] == first
    assert [from_bytes.cut(line) for line in many_lines[::-1]] == first[::-1]


def test_threads_sharing_one_segmenter_through_cache_refills(jieba, many_lines, run_in_threads):
    reference = copy.copy(jieba)
    expected = [reference.cut(line) for line in many_lines]
    segmenter, results = copy.copy(jieba), {}

    def work(start):
        for index in range(start, len(expected), 4):
            results[index] = segmenter.cut(many_lines[index])

    assert run_in_threads(work, 4) == []
    assert [results[index] for index in range(len(expected))] == expected


@pytest.mark.parametrize("sentence", [b"ab\xc3\x28", "北京 北京 ab ".encode() + b"\xc3\x28"])
def test_undecodable_words_raise_on_every_cut_and_are_not_kept(jieba, sentence):
    segmenter = copy.copy(jieba)
    for _ in range(2):
        with pytest.raises(UnicodeDecodeError):
            segmenter.cut(sentence)
    assert segmenter.cut("北京 北京 ab ") == ["北京", " ", "北京", " ", "ab", " "]


def test_words_outlive_their_lists_the_segmenter_and_its_copies(jieba_paths):
    # A reference too few would free a word the cache still hands out: in a child, in the
    # interpreter's development mode, whose allocator fills freed memory.
    script = f"""
import copy, gc, pickle, sys
from pytarntext import Jieba
jieba = Jieba(**{jieba_paths!r})
line = "我来到北京清华大学 café 😀 𠀀 abcdefghijklmnopqrstuvwxyzabcdefghijkl"
expected = ["我", "来到", "北京", "清华大学", " ", "caf", "é", " ", "😀", " ", "𠀀", " ",
            "abcdefghijklmnopqrstuvwxyzabcdefghijkl"]
kept = jieba.cut(line)[3]
references = sys.getrefcount(kept)
for _ in range(1000):
    words = jieba.cut(line)
    del words
gc.collect()
assert sys.getrefcount(kept) == references, (references, sys.getrefcount(kept))
assert jieba.cut(line)[3] is kept
others = [copy.copy(jieba), copy.deepcopy(jieba), pickle.loads(pickle.dumps(jieba))]
assert all(other.cut(line) == expected for other in others)
del jieba
gc.collect()
assert kept == "清华大学"
assert all(other.cut(line) == expected for other in others)
del others
gc.collect()
print(kept)
"""
    run = subprocess.run([sys.executable, "-X", "dev", "-c", script], capture_output=True, text=True)
    assert (run.returncode, run.stdout) == (0, "清华大学\n"), run.stderr


def cache_slot(word):
    """The slot the cache's hash picks for a word of eight ASCII bytes, as the module computes it."""
    mask64, multiplier = (1 << 64) - 1, 0x9E3779B97F4A7C15
    value = int.from_bytes(word.encode(), "little") ^ (8 * multiplier & mask64)
    value ^= value >> 33
    value = value * 0xFF51AFD7ED558CCD & mask64
    return (value ^ value >> 33) & (2 * CACHE_CAPACITY - 1)


def test_words_made_to_share_slots_cost_about_what_other_words_cost(jieba):
    # Untrusted text can be made of words whose slots crowd into one stretch of the table; each
    # lookup must not walk all of them, with the interpreter lock held.
    rng, seen, crowded, spread = random.Random(7), set(), [], []
    while len(crowded) < 20000:
        word = "".join(rng.choices(string.ascii_lowercase, k=8))
        if word not in seen:
            seen.add(word)
            (crowded if cache_slot(word) < 8192 else spread).append(word)

    def seconds(words):
        text = " ".join(words)
        best = float("inf")
        for _ in range(3):
            segmenter = copy.copy(jieba)
            start = time.perf_counter()
            assert segmenter.cut(text)[::2] == words
            segmenter.cut(text)
            best = min(best, time.perf_counter() - start)
        return best

    assert seconds(crowded) < 5 * seconds(spread[:20000])


def test_a_cache_that_has_seen_few_words_stays_small(jieba_paths):
    # Many short-lived copies, each cutting one sentence: their caches must take memory in
    # proportion to their words, not a full-size table each.
    script = f"""
import copy, gc
from pytarntext import Jieba
def resident():
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * 4096
jieba = Jieba(**{jieba_paths!r})
jieba.cut("我来到北京清华大学")
before = resident()
for _ in range(4):
    copies = [copy.copy(jieba) for _ in range(300)]
    for each in copies:
        each.cut("我来到北京清华大学")
    del copies
    gc.collect()
print((resident() - before) // 2**20)
"""
    run = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True)
    assert run.returncode == 0, run.stderr
    assert int(run.stdout) < 20  # MiB; a full-size table for each copy kept about 150

