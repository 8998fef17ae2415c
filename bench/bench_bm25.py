"""BM25 side by side with two pure-Python encoders of the same formulas.

    python bench/bench_bm25.py [--documents 5000] [--vocabulary 100000] [--repeat 5] [--callgrind-only]

The peers: one that counts each document with Counter and adds it into a dict of totals, and one
whose train is a single Counter.update(tokens), the fastest that pure Python counts. Three
corpora: short ASCII tokens ("w123") drawn Zipf-like; the novel of the segmenter's test data cut
with Jieba.cut into documents of 20 to 200 words; Zipf-like tokens of 2 to 16 random bytes. Every
run gets fresh str objects, as a tokenizer hands them over (no cached UTF-8 copy, no cached hash).
Prints the throughput of all three and the ratios for train, encode_document and encode_query,
then the memory that the statistics of 1,000,000 distinct short tokens take. Two reference rows
bound what any encoder can reach on the same fresh objects: visiting every token object once from C
(list.count, one type check per item) for train, and dict.fromkeys(document) (hashing the tokens
into a new dict) for encode_document. --callgrind-only prints instead the instructions of one train
pass and one encode_document pass over the novel (valgrind, a few minutes), which do not drift.
"""

import argparse
import gc
import math
import os
import pickle
import random
import subprocess
import sys
import tempfile
import time
from collections import Counter

from pytarntext import BM25
from timing import instructions, side_by_side


def timed(functions, repeat, prepare):
    """CPU seconds: these are single-threaded, and other load disturbs CPU time less than wall time."""
    return side_by_side(functions, repeat, prepare, clock=time.thread_time)


class PythonBM25:
    """The reference a user would otherwise write: Counter for counting, dicts for statistics."""

    def __init__(self, b=0.75, k1=1.2):
        self.b, self.k1 = b, k1
        self.doc_count, self.doc_length_total, self.doc_length_average = 0, 0, 0.0
        self.frequency = {}

    def train(self, tokens):
        if not tokens:
            raise RuntimeError("trainning tokens_vec should not be empty")  # kept: the module's text
        frequency = self.frequency
        for token, count in Counter(tokens).items():
            key = token if isinstance(token, str) else str(token)
            frequency[key] = frequency.get(key, 0) + count
        self.doc_count += 1
        self.doc_length_total += len(tokens)
        self.doc_length_average = self.doc_length_total / self.doc_count

    def encode_document(self, tokens):
        if not tokens:
            return {}
        k = ((len(tokens) / self.doc_length_average) * self.b + (1.0 - self.b)) * self.k1
        return {token: tf / (tf + k) for token, tf in sorted(Counter(tokens).items())}

    def encode_query(self, tokens):
        if not tokens:
            return {}
        documents = self.doc_count + 1
        frequency = self.frequency
        idf = {}
        for token in sorted(set(tokens)):
            key = token if isinstance(token, str) else str(token)
            idf[token] = max(math.log(documents / (frequency.get(key, 1.0) + 0.5)), 1e-6)
        total = sum(idf.values())
        return {token: value / total for token, value in idf.items()}


class CounterBM25(PythonBM25):
    """The careful user's encoder: train is one Counter.update, which counts in C."""

    def __init__(self, b=0.75, k1=1.2):
        super().__init__(b, k1)
        self.frequency = Counter()

    def train(self, tokens):
        if not tokens:
            raise RuntimeError("trainning tokens_vec should not be empty")  # kept: the module's text
        self.frequency.update(tokens)
        self.doc_count += 1
        self.doc_length_total += len(tokens)
        self.doc_length_average = self.doc_length_total / self.doc_count

    def encode_query(self, tokens):
        if not tokens:
            return {}
        documents = self.doc_count + 1
        get = self.frequency.get
        idf = {token: max(math.log(documents / (get(token, 1.0) + 0.5)), 1e-6) for token in sorted(set(tokens))}
        total = sum(idf.values())
        return {token: value / total for token, value in idf.items()}


PEERS = [BM25, PythonBM25, CounterBM25]


def zipf_documents(words, documents, rng):
    """Documents of 20 to 200 words drawn Zipf-like from `words`, with a uniform share so that
    most of the vocabulary occurs."""
    cumulative, running = [], 0.0
    for rank in range(len(words)):
        running += 1.0 / (rank + 1) ** 1.05
        cumulative.append(running)
    corpus = []
    for _ in range(documents):
        length = rng.randint(20, 200)
        document = rng.choices(words, cum_weights=cumulative, k=length)
        document[: length // 5] = rng.choices(words, k=length // 5)
        corpus.append(document)
    return corpus


def short_corpus(documents, vocabulary, seed=7):
    return zipf_documents([f"w{rank}".encode() for rank in range(vocabulary)], documents, random.Random(seed))


def random_bytes_corpus(documents, vocabulary, seed=11):
    rng = random.Random(seed)
    letters = b"abcdefghijklmnopqrstuvwxyz0123456789"
    words = list({bytes(rng.choices(letters, k=rng.randint(2, 16))) for _ in range(vocabulary)})
    rng.shuffle(words)
    return zipf_documents(words, documents, rng)


def novel_corpus(seed=13):
    """The novel's words in reading order, as Jieba.cut gives them (whitespace dropped), split into
    documents of 20 to 200 words."""
    from bench_jieba import CPPJIEBA, paths
    from pytarntext import Jieba

    segmenter = Jieba(**paths())
    text = (CPPJIEBA / "test/testdata/weicheng.utf8").read_text(encoding="utf-8")
    words = [word.encode() for line in text.splitlines() for word in segmenter.cut(line) if word.strip()]
    rng, corpus, start = random.Random(seed), [], 0
    while start < len(words):
        length = rng.randint(20, 200)
        corpus.append(words[start : start + length])
        start += length
    return corpus


def fresh(corpus):
    """New str objects for a corpus held as UTF-8 bytes: nothing cached in them yet."""
    return lambda: [[word.decode() for word in document] for document in corpus]


def as_ids(corpus):
    ids = {}
    return [[ids.setdefault(word, len(ids)) for word in document] for document in corpus]


def report(name, unit, amount, times):
    rates = [amount / seconds for seconds in times]
    print(
        f"  {name:<26} {rates[0]:>12,.0f} {rates[1]:>12,.0f} {rates[2]:>12,.0f} {unit:<9}"
        f" {rates[0] / rates[1]:>6.2f}x {rates[0] / rates[2]:>6.2f}x"
    )


def bound(name, rate, counter_rate):
    """A reference that any encoder returning the same Python objects must pay at least: the most
    it could be ahead of Counter.update."""
    print(f"    reference: {name:<29} {rate:>12,.0f} per CPU s, {rate / counter_rate:>5.2f}x Counter.upd")


def trained(make, corpus):
    model = make()
    for document in corpus:
        model.train(document)
    return model


def measure_corpus(name, corpus, repeat, ids=False):
    """Every figure for one corpus (held as bytes), all three encoders side by side."""
    tokens = sum(map(len, corpus))
    distinct = len({word for document in corpus for word in document})
    print(f"{name}: {len(corpus):,} documents, {tokens:,} tokens, {distinct:,} distinct")
    make_fresh = fresh(corpus)

    def train(make):
        return lambda documents: trained(make, documents)

    times = timed([train(make) for make in PEERS], repeat, make_fresh)
    report("train (str tokens)", "tokens", tokens, times)
    visit = timed([lambda documents: [document.count(None) for document in documents]], repeat, make_fresh)
    bound("visit every token once", tokens / visit[0], tokens / times[2])

    models = [trained(make, make_fresh()) for make in PEERS]
    check = make_fresh()
    for document in check[:200]:
        expected = models[0].encode_query(document[:8])
        assert expected == models[2].encode_query(document[:8]), name
        assert models[0].encode_document(document) == models[1].encode_document(document), name

    def calls(method, cut=None):
        def run(model):
            call = getattr(model, method)
            return lambda documents: [call(document[:cut]) for document in documents]

        return [run(model) for model in models]

    times = timed(calls("encode_document"), repeat, make_fresh)
    report("encode_document", "documents", len(corpus), times)
    keys = timed([lambda documents: [dict.fromkeys(document, 0.5) for document in documents]], repeat, make_fresh)
    bound("dict.fromkeys(document)", len(corpus) / keys[0], len(corpus) / times[2])
    times = timed(calls("encode_query", 8), repeat, make_fresh)
    report("encode_query (8 tokens)", "queries", len(corpus), times)

    if ids:
        id_corpus = as_ids(corpus)
        times = timed([train(make) for make in PEERS], repeat, lambda: id_corpus)
        report("train (int tokens)", "tokens", tokens, times)
        id_models = [trained(make, id_corpus) for make in PEERS]
        calls = [
            (lambda call: lambda documents: [call(document[:8]) for document in documents])(model.encode_query)
            for model in id_models
        ]
        times = timed(calls, repeat, lambda: id_corpus)
        report("encode_query (8 int tokens)", "queries", len(corpus), times)


def memory_child(kind):
    """Runs in a fresh process: resident memory taken by 1,000,000 distinct short tokens."""

    def resident():
        with open("/proc/self/statm") as statm:
            return int(statm.read().split()[1]) * 4096

    model = BM25() if kind == "native" else PythonBM25()
    gc.collect()
    before = resident()
    for start in range(0, 1_000_000, 100):
        model.train([f"t{number}" for number in range(start, start + 100)])
    gc.collect()
    print(resident() - before)


def measure_memory(kind):
    out = subprocess.run(
        [sys.executable, __file__, "--memory-child", kind], check=True, capture_output=True, text=True
    )
    return int(out.stdout)


def callgrind_child(corpus_file, steps):
    """In a fresh process under valgrind: two fresh copies of the corpus, then the `steps`: "train"
    trains one encoder on the first, "encode" then encodes every document of the second."""
    with open(corpus_file, "rb") as file:
        corpus = pickle.load(file)
    make_fresh = fresh(corpus)
    first, second = make_fresh(), make_fresh()
    model = BM25()
    if "train" in steps:
        for document in first:
            model.train(document)
    if "encode" in steps:
        for document in second:
            model.encode_document(document)


def print_callgrind():
    """One pass of each, as the runs with one more step less one another: start-up, reading the
    corpus and making its str objects cancel out."""
    with tempfile.NamedTemporaryFile(suffix=".pickle", delete=False) as file:
        pickle.dump(novel_corpus(), file)
    counts = {
        steps: instructions([sys.executable, __file__, "--callgrind-child", file.name, steps])
        for steps in ("none", "train", "train,encode")
    }
    os.unlink(file.name)
    train = counts["train"] - counts["none"]
    encode = counts["train,encode"] - counts["train"]
    print(
        f"instructions of one pass over the novel (callgrind): train {train / 1e6:.1f} M,"
        f" encode_document {encode / 1e6:.1f} M"
    )


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--documents", type=int, default=5000)
    parser.add_argument("--vocabulary", type=int, default=100_000)
    parser.add_argument("--repeat", type=int, default=5)
    parser.add_argument("--memory-child", choices=["native", "python"])
    parser.add_argument("--callgrind-only", action="store_true", help="only the instruction counts")
    parser.add_argument("--callgrind-child", nargs=2, metavar=("CORPUS", "STEPS"))
    args = parser.parse_args()
    if args.memory_child:
        memory_child(args.memory_child)
        return
    if args.callgrind_child:
        callgrind_child(*args.callgrind_child)
        return
    if args.callgrind_only:
        print_callgrind()
        return

    print(f"  {'':<26} {'pytarntext':>12} {'dict+Counter':>12} {'Counter.upd':>12} {'per CPU s':<9}"
          f" {'vs dict':>7} {'vs Cnt':>7}")
    measure_corpus("short ASCII tokens", short_corpus(args.documents, args.vocabulary), args.repeat, ids=True)
    measure_corpus("novel, cut with Jieba.cut", novel_corpus(), args.repeat)
    measure_corpus(
        "tokens of 2-16 bytes", random_bytes_corpus(args.documents, args.vocabulary), args.repeat
    )

    native_bytes, python_bytes = measure_memory("native"), measure_memory("python")
    print(
        f"memory, 1,000,000 distinct tokens: pytarntext {native_bytes / 2**20:.1f} MiB,"
        f" pure Python {python_bytes / 2**20:.1f} MiB, ratio {native_bytes / python_bytes:.2f}"
    )


if __name__ == "__main__":
    main()
