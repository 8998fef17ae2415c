"""Store-ready vectors: document_sparse_vector against encode_document and the loop a user writes.

    pip install . mmh3
    python bench/bench_store_vectors.py [--cppjieba DIR] [--repeat 7] [--callgrind]

Every paragraph of the novel that ships with cppjieba, segmented as the Qdrant example segments it
(cut_for_search, stop words dropped), is encoded into what a sparse-vector store takes: indices
(MurmurHash3 x86_32 of each word's UTF-8, seed 0, absolute value of the signed result) ascending
and distinct, with the weights of words that share an index added, and the values beside them. The
peer is today's route: encode_document, then a Python loop over its dict with mmh3.hash, the
grouping and the sort. Both get fresh str objects in every run, as a segmenter hands them over,
and both are checked to give the same two lists first. The same for query_sparse_vector against
encode_query, on every paragraph's first eight words. CPU time, best of --repeat runs taken in
turns; quote the ratio. --callgrind then counts the instructions of one pass over the paragraphs
of each, encode_document alone included (valgrind, a minute), which do not drift.
"""

import argparse
import os
import pathlib
import pickle
import sys
import tempfile
import time

ROOT = pathlib.Path(__file__).resolve().parents[1]
sys.path.insert(0, str(ROOT / "examples"))

from novel_data import add_cppjieba_option, keywords, load_segmenter, novel_paragraphs  # noqa: E402
from pytarntext import BM25  # noqa: E402
from timing import instructions, side_by_side  # noqa: E402


def by_index(weights, hash_of):
    """The loop a user writes today: index each token, add up the weights that share one, sort."""
    grouped = {}
    for token, weight in weights.items():
        index = abs(hash_of(token))
        grouped[index] = grouped.get(index, 0.0) + weight
    indices = sorted(grouped)
    return indices, [grouped[index] for index in indices]


PASSES = ("none", "document_sparse_vector", "encode_document", "encode_document + mmh3 loop")


def callgrind_child(corpus_file, which):
    """Under valgrind: train on the paragraphs, make fresh str objects of them, then one pass."""
    import mmh3

    with open(corpus_file, "rb") as file:
        documents = pickle.load(file)
    model = BM25()
    for document in documents:
        model.train([word.decode() for word in document])
    batch = [[word.decode() for word in d] for d in documents]
    if which == PASSES[1]:
        [model.document_sparse_vector(d) for d in batch]
    elif which == PASSES[2]:
        [model.encode_document(d) for d in batch]
    elif which == PASSES[3]:
        [by_index(model.encode_document(d), mmh3.hash) for d in batch]


def print_callgrind(documents):
    """Each pass as its run less the run without one: start-up, training and making the str
    objects cancel out."""
    with tempfile.NamedTemporaryFile(suffix=".pickle", delete=False) as file:
        pickle.dump(documents, file)
    counts = {
        which: instructions([sys.executable, __file__, "--callgrind-child", file.name, which])
        for which in PASSES
    }
    os.unlink(file.name)
    passes = {which: counts[which] - counts["none"] for which in PASSES[1:]}
    print("instructions of one pass over the paragraphs (callgrind): "
          + ", ".join(f"{which} {count / 1e6:.1f} M" for which, count in passes.items())
          + f"; {passes[PASSES[3]] / passes[PASSES[1]]:.2f}x")


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--repeat", type=int, default=7)
    parser.add_argument("--callgrind", action="store_true", help="also the instruction counts")
    parser.add_argument("--callgrind-child", nargs=2, metavar=("CORPUS", "PASS"), help=argparse.SUPPRESS)
    add_cppjieba_option(parser)
    args = parser.parse_args(argv)
    if args.callgrind_child:
        return callgrind_child(*args.callgrind_child)
    try:
        import mmh3
    except ImportError:
        parser.error("the peer needs mmh3: pip install mmh3")

    jieba, stop_words = load_segmenter(args.cppjieba)
    documents = [keywords(jieba, stop_words, p) for p in novel_paragraphs(args.cppjieba)]
    documents = [[word.encode() for word in d] for d in documents if d]
    model = BM25()
    for document in documents:
        model.train([word.decode() for word in document])
    queries = [d[:8] for d in documents]

    def fresh(corpus):
        return lambda: [[word.decode() for word in d] for d in corpus]

    # grouped.get(index, 0.0) + weight adds 0.0 first, which changes no weight: the same lists.
    for corpus, native, encode in ((documents, model.document_sparse_vector, model.encode_document),
                                   (queries, model.query_sparse_vector, model.encode_query)):
        for d in fresh(corpus)():
            assert native(d) == by_index(encode(d), mmh3.hash), d

    tokens = sum(map(len, documents))
    print(f"{len(documents)} paragraphs, {tokens:,} words, "
          f"{len({w for d in documents for w in d}):,} distinct; best of {args.repeat} runs, CPU time")
    for name, corpus, native, encode in (
        ("documents", documents, model.document_sparse_vector, model.encode_document),
        ("queries of 8 words", queries, model.query_sparse_vector, model.encode_query),
    ):
        hash_of = mmh3.hash
        times = side_by_side(
            [lambda batch: [native(d) for d in batch], lambda batch: [by_index(encode(d), hash_of) for d in batch]],
            args.repeat, fresh(corpus), clock=time.thread_time)
        rates = [len(corpus) / seconds for seconds in times]
        print(f"  {name:<20} sparse_vector {rates[0]:>9,.0f}/s   encode + mmh3 loop {rates[1]:>9,.0f}/s"
              f"   {rates[0] / rates[1]:.2f}x")
    if args.callgrind:
        print_callgrind(documents)


if __name__ == "__main__":
    sys.exit(main())
