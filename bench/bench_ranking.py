"""How the novel's paragraphs rank against a textbook BM25: encode_query's weights, and a store's idf.

    python bench/bench_ranking.py [--cppjieba DIR] [--top 10] [--verbose]

Not a timing. Each paragraph of the novel that ships with cppjieba is a document, segmented as the
examples segment it: cut_for_search, then either stop words dropped (the Qdrant and Spark examples,
examples/novel_data.py) or only words holding a letter or a digit kept (examples/search_novel.py).
A fixed list of queries, the commonest words and the protagonists' names among them, is scored
against every paragraph by the dot product of encode_document and encode_query, and the best
`--top` are compared with those of a textbook BM25 written out below (document frequency counted
per document, Robertson-Sparck Jones idf with 1 added inside the logarithm, k1 1.2, b 0.75).

Printed for each segmentation, one column per query weighting:
- the mean overlap of the two top lists (shared paragraphs over the list's length);
- the share of queries whose top hit holds every query word (BM25's own share is its column);
- the extremes of the query weights, and the best score over the number of query words.

"before" is the old query weighting, recomputed here in Python from the same statistics (idf
divided by the sum, in key order, with no floor); "after" is this build's encode_query, which this
script first checks against the same formula with the floor. The floor columns are alternatives
computed the same way: larger fixed floors, and a floor at a quarter of the vocabulary's mean idf.
"store idf" is the other route: the same document vectors in a store that computes idf itself from
the documents it holds (Qdrant's idf modifier, ln(1 + (N - df + 0.5) / (df + 0.5))), queried with a
weight of 1 per word; its query-weight rows show the idf that the store applies.
"""

import argparse
import collections
import math
import pathlib
import sys

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1] / "examples"))

from novel_data import add_cppjieba_option, keywords, load_segmenter, novel_paragraphs  # noqa: E402
from pytarntext import BM25  # noqa: E402

FLOOR = 1e-6  # encode_query's
K1, B = 1.2, 0.75

# Names, with what the novel does with them, and the examples' own queries.
HAND_WRITTEN = [
    "方鸿渐 留学 博士", "苏小姐 爱情", "三闾大学 校长", "赵辛楣", "结婚 离婚 围城",  # the examples'
    "柔嘉 结婚", "鸿渐 出去", "鸿渐 柔嘉 吵架", "孙小姐 鸿渐", "辛楣 苏小姐", "唐小姐 鸿渐 信",
    "鸿渐 父亲 家信", "鸿渐 柔嘉 姑母", "辛楣 孙小姐 三闾大学", "李梅亭 顾尔谦 旅馆", "高松年 校长 鸿渐",
    "汪处厚 太太 做媒", "曹元朗 诗", "褚慎明 哲学", "董斜川 诗", "鲍小姐 船", "韩学愈 博士 文凭",
    "方鸿渐 上海 回国", "鸿渐 香港 结婚", "苏文纨 唐晓芙", "鸿渐 辞职 报馆", "太太 先生 说",
    "小姐 知道", "鸿渐 吃 饭", "柔嘉 哭", "辛楣 信 鸿渐", "孙小姐 柔嘉 姑母",
]
COMMON_PAIRS = 24  # queries that pair one of the commonest words with a word that ranks


def paragraphs_and_documents(cppjieba, segmentation):
    jieba, stop_words = load_segmenter(cppjieba)
    if segmentation == "stop words dropped":
        words = lambda text: keywords(jieba, stop_words, text)  # noqa: E731
    else:
        words = lambda text: [w for w in jieba.cut_for_search(text) if any(c.isalnum() for c in w)]  # noqa: E731
    documents = [words(p) for p in novel_paragraphs(cppjieba)]
    return [d for d in documents if d], words


def common_queries(documents):
    """The commonest words, each paired with a word of mid frequency that occurs in a paragraph
    beside it: fixed by the corpus, no randomness."""
    frequency = collections.Counter(w for d in documents for w in d)
    holding = collections.defaultdict(set)
    for index, document in enumerate(documents):
        for word in set(document):
            holding[word].add(index)
    ranked = [w for w, _ in frequency.most_common() if len(w) > 1 or w.isalnum()]
    mid = [w for w in ranked if 10 <= len(holding[w]) <= 30 and len(w) > 1]
    queries = []
    for number, word in enumerate(ranked[:COMMON_PAIRS]):
        partners = [m for m in mid if m != word and holding[m] & holding[word]]
        queries.append(f"{word} {partners[(7 * number) % len(partners)]}")
    return queries


class Statistics:
    """What the encoder holds (occurrence counts), and what a textbook BM25 needs (per document)."""

    def __init__(self, documents):
        self.count = len(documents)
        self.average = sum(map(len, documents)) / self.count
        self.frequency = collections.Counter(w for d in documents for w in d)
        self.document_frequency = collections.Counter(w for d in documents for w in set(d))

    def idf(self, word):
        return math.log((self.count + 1) / (self.frequency[word] + 0.5 if word in self.frequency else 1.5))

    def rsj_idf(self, word):
        df = self.document_frequency[word]
        return math.log(1 + (self.count - df + 0.5) / (df + 0.5))


def normalised(values):
    total = 0.0
    for word in sorted(values):  # key order, as encode_query sums
        total += values[word]
    return {word: value / total for word, value in sorted(values.items())}


def weightings(statistics):
    vocabulary_mean = sum(map(statistics.idf, statistics.frequency)) / len(statistics.frequency)

    def floored(floor):
        return lambda words: normalised({w: max(statistics.idf(w), floor) for w in set(words)})

    return {
        "before": lambda words: normalised({w: statistics.idf(w) for w in set(words)}),
        "after": floored(FLOOR),
        "floor 0.01": floored(0.01),
        "floor 0.5": floored(0.5),
        "floor mean/4": floored(vocabulary_mean / 4),
        # A store that counts document frequency itself (Qdrant's idf modifier): unit query weights,
        # each matched document weight multiplied by the store's idf of its index, which is the
        # textbook's. Written here as the query weights that give the same scores.
        "store idf": lambda words: {w: statistics.rsj_idf(w) for w in sorted(set(words))},
    }


def bm25_scores(statistics, documents, words):
    scores = []
    for document in documents:
        tf = collections.Counter(document)
        norm = K1 * (1 - B + B * len(document) / statistics.average)
        scores.append(sum(statistics.rsj_idf(w) * tf[w] * (K1 + 1) / (tf[w] + norm) for w in set(words) if w in tf))
    return scores


def top(scores, candidates, count):
    return sorted(candidates, key=lambda index: (-scores[index], index))[:count]


def run(cppjieba, segmentation, count, verbose):
    documents, words_of = paragraphs_and_documents(cppjieba, segmentation)
    statistics = Statistics(documents)
    model = BM25(B, K1)
    for document in documents:
        model.train(document)
    vectors = [model.encode_document(document) for document in documents]
    schemes = weightings(statistics)
    queries = HAND_WRITTEN + common_queries(documents)

    overlap = collections.defaultdict(float)
    holds_all = collections.defaultdict(int)
    unchanged = collections.defaultdict(int)
    lowest, highest, score_ratio = {}, {}, {}
    for query in queries:
        words = words_of(query)
        distinct = set(words)
        after = model.encode_query(words)
        assert list(after.items()) == list(schemes["after"](words).items()), query
        # A store scores only the paragraphs that share a word with the query.
        candidates = [i for i, d in enumerate(documents) if distinct & set(d)]
        assert len(candidates) >= count, (query, len(candidates))
        reference = top(bm25_scores(statistics, documents, words), candidates, count)
        holds_all["BM25"] += distinct <= set(documents[reference[0]])
        for name, scheme in schemes.items():
            weights = scheme(words)
            unchanged[name] += list(weights.items()) == list(schemes["before"](words).items())
            scores = [sum(weight * vector.get(w, 0.0) for w, weight in weights.items()) for vector in vectors]
            best = top(scores, candidates, count)
            overlap[name] += len(set(best) & set(reference)) / count
            holds_all[name] += distinct <= set(documents[best[0]])
            lowest[name] = min(lowest.get(name, math.inf), min(weights.values()))
            highest[name] = max(highest.get(name, -math.inf), max(weights.values()))
            score_ratio[name] = max(score_ratio.get(name, -math.inf), max(map(abs, scores)) / len(distinct))
            if verbose and name in ("before", "after"):
                print(f"  {name:6} {query}: overlap {len(set(best) & set(reference))}, "
                      f"weights {' '.join(f'{w}:{v:.3g}' for w, v in weights.items())}")

    names = list(schemes)
    print(f"\n{segmentation}: {len(documents)} paragraphs, {len(statistics.frequency):,} distinct words, "
          f"{sum(statistics.idf(w) < FLOOR for w in statistics.frequency)} of them below the floor; "
          f"{len(queries)} queries ({len(HAND_WRITTEN)} written, {len(queries) - len(HAND_WRITTEN)} of the "
          f"commonest words)")
    print(f"  {'':34}" + "".join(f"{name:>14}" for name in names) + f"{'BM25':>14}")
    print(f"  {'mean overlap at %d with BM25' % count:34}" + "".join(f"{overlap[n] / len(queries):>14.3f}" for n in names))
    print(f"  {'top hit holds every query word':34}" + "".join(f"{holds_all[n] / len(queries):>14.1%}" for n in names)
          + f"{holds_all['BM25'] / len(queries):>14.1%}")
    print(f"  {'queries weighted as before':34}" + "".join(f"{unchanged[n] / len(queries):>14.1%}" for n in names))
    print(f"  {'lowest query weight':34}" + "".join(f"{lowest[n]:>14.4g}" for n in names))
    print(f"  {'highest query weight':34}" + "".join(f"{highest[n]:>14.4g}" for n in names))
    print(f"  {'highest |score| / query words':34}" + "".join(f"{score_ratio[n]:>14.4g}" for n in names))


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--top", type=int, default=10, help="length of the compared top lists (default: 10)")
    parser.add_argument("--verbose", action="store_true", help="each query's overlap and weights")
    add_cppjieba_option(parser)
    args = parser.parse_args(argv)
    for segmentation in ("stop words dropped", "letters and digits only"):
        run(args.cppjieba, segmentation, args.top, args.verbose)


if __name__ == "__main__":
    main()
