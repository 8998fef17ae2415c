"""BM25 side by side with a pure-Python encoder of the same formulas.

    python bench/bench_bm25.py [--documents 5000] [--vocabulary 100000] [--repeat 5]

Prints throughput of both and their ratio for train (str and int tokens), encode_document and
encode_query, then the memory that the statistics of 1,000,000 distinct short tokens take in each.
"""

import argparse
import gc
import math
import random
import subprocess
import sys
from collections import Counter

from pytarntext import BM25
from timing import best_times


class PythonBM25:
    """The reference a user would otherwise write: Counter for counting, dicts for statistics."""

    def __init__(self, b=0.75, k1=1.2):
        self.b, self.k1 = b, k1
        self.doc_count, self.doc_length_total, self.doc_length_average = 0, 0, 0.0
        self.frequency = {}

    def train(self, tokens):
        if not tokens:
            raise RuntimeError("trainning tokens_vec should not be empty")
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
            idf[token] = math.log(documents / (frequency.get(key, 1.0) + 0.5))
        total = sum(idf.values())
        return {token: value / total for token, value in idf.items()}


def zipf_corpus(documents, vocabulary, seed=7):
    rng = random.Random(seed)
    words = [f"w{rank}" for rank in range(vocabulary)]
    cumulative, running = [], 0.0
    for rank in range(vocabulary):
        running += 1.0 / (rank + 1) ** 1.05
        cumulative.append(running)
    # A share of documents draws from a uniform tail so that most of the vocabulary occurs.
    corpus = []
    for _ in range(documents):
        length = rng.randint(20, 200)
        document = rng.choices(words, cum_weights=cumulative, k=length)
        document[: length // 5] = rng.choices(words, k=length // 5)
        corpus.append(document)
    return corpus



def report(name, unit, amount, times):
    native_seconds, python_seconds = times
    native_rate, python_rate = amount / native_seconds, amount / python_seconds
    print(
        f"{name:<28} {native_rate:>14,.0f} {python_rate:>14,.0f} {unit:<10}"
        f" {native_rate / python_rate:>6.2f}x"
    )


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


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--documents", type=int, default=5000)
    parser.add_argument("--vocabulary", type=int, default=100_000)
    parser.add_argument("--repeat", type=int, default=5)
    parser.add_argument("--memory-child", choices=["native", "python"])
    args = parser.parse_args()
    if args.memory_child:
        memory_child(args.memory_child)
        return

    corpus = zipf_corpus(args.documents, args.vocabulary)
    id_corpus = [[int(token[1:]) for token in document] for document in corpus]
    tokens = sum(map(len, corpus))
    queries = [document[:8] for document in corpus]
    distinct = len({token for document in corpus for token in document})
    print(f"corpus: {len(corpus):,} documents, {tokens:,} tokens, {distinct:,} distinct tokens")
    print(f"{'':<28} {'pytarntext':>14} {'pure Python':>14} {'per second':<10} {'ratio':>7}")

    def train(make, documents):
        def run():
            model = make()
            for document in documents:
                model.train(document)

        return run

    for name, documents in [("train (str tokens)", corpus), ("train (int tokens)", id_corpus)]:
        times = best_times(train(BM25, documents), train(PythonBM25, documents), args.repeat)
        report(name, "tokens", tokens, times)

    native, python = BM25(), PythonBM25()
    for document in corpus:
        native.train(document)
        python.train(document)
    assert native.encode_query(queries[0]) == python.encode_query(queries[0])

    for name, method, inputs, unit in [
        ("encode_document", "encode_document", corpus, "documents"),
        ("encode_query (8 tokens)", "encode_query", queries, "queries"),
        ("encode_query (8 int tokens)", "encode_query", [d[:8] for d in id_corpus], "queries"),
    ]:
        native_call, python_call = getattr(native, method), getattr(python, method)
        times = best_times(
            lambda: [native_call(item) for item in inputs],
            lambda: [python_call(item) for item in inputs],
            args.repeat,
        )
        report(name, unit, len(inputs), times)

    native_bytes, python_bytes = measure_memory("native"), measure_memory("python")
    print(
        f"memory, 1,000,000 distinct tokens: pytarntext {native_bytes / 2**20:.1f} MiB,"
        f" pure Python {python_bytes / 2**20:.1f} MiB, ratio {native_bytes / python_bytes:.2f}"
    )


if __name__ == "__main__":
    main()
