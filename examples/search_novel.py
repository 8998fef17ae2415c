"""Keyword search over a Chinese novel: segment, train BM25, save and reload it, answer queries.

    python examples/search_novel.py [CPPJIEBA_DIR]

Uses the novel that comes with cppjieba, in the tree that the build fetched into .cache/ (or the tree
named by the argument or by PYTARNTEXT_CPPJIEBA_DIR), and the dictionaries installed with the package
(or that tree's).
"""

import os
import pathlib
import sys
import tempfile
import time

import cppjieba_data
from pytarntext import BM25, Jieba

try:
    from tqdm import tqdm
except ImportError:  # progress bars are a nicety: pip install tqdm

    def tqdm(iterable, **_):
        return iterable

QUERIES = ["方鸿渐 留学 博士", "苏小姐 爱情", "三闾大学 校长", "赵辛楣", "结婚 离婚 围城"]
CPPJIEBA = pathlib.Path(sys.argv[1]) if len(sys.argv) > 1 else cppjieba_data.tree()

timings = {}


def timed(stage, work):
    start = time.perf_counter()
    result = work()
    timings[stage] = time.perf_counter() - start
    return result


def keywords(words):
    """The words worth matching: anything with a letter or a digit in it (no spaces, no punctuation)."""
    return [word for word in words if any(character.isalnum() for character in word)]


# The dictionaries installed with the package, or the named tree's.
paths = cppjieba_data.jieba_paths(cppjieba=CPPJIEBA if len(sys.argv) > 1 else None)
jieba = timed("load the segmenter", lambda: Jieba(**paths))

# One document per non-empty paragraph of the novel.
text = (CPPJIEBA / "test/testdata/weicheng.utf8").read_text(encoding="utf-8")
paragraphs = [line.strip() for line in text.splitlines() if line.strip()]
documents = timed("segment", lambda: [
    keywords(jieba.cut_for_search(p)) for p in tqdm(paragraphs, desc="segment", unit="paragraph", disable=None)
])
documents = [(paragraph, words) for paragraph, words in zip(paragraphs, documents) if words]


def train():
    model = BM25()
    for _, words in documents:
        model.train(words)
    return model


model = timed("train", train)

# Save the model, then serve queries from a fresh encoder restored from the file.
path = os.path.join(tempfile.mkdtemp(), "weicheng.bm25.json")


def save_and_reload():
    model.dump(path)
    restored = BM25()
    with open(path, encoding="utf-8") as file:
        restored.load(file.read())
    return restored


model = timed("dump and load", save_and_reload)
vectors = timed("encode documents", lambda: [model.encode_document(words) for _, words in documents])


def search(query, top=3):
    weights = model.encode_query(keywords(jieba.cut_for_search(query)))
    scores = [sum(w * vector.get(word, 0.0) for word, w in weights.items()) for vector in vectors]
    ranked = sorted(range(len(documents)), key=lambda index: (-scores[index], index))
    return weights, [(scores[index], index) for index in ranked[:top]]


answers = timed("answer queries", lambda: [(query, *search(query)) for query in QUERIES])

print(f"{len(documents)} paragraphs, {sum(len(words) for _, words in documents):,} words, "
      f"{os.path.getsize(path):,}-byte model file")
for query, weights, hits in answers:
    print(f"\n{query}  ->  {' '.join(weights)}")
    for score, index in hits:
        print(f"  {score:.4f}  paragraph {index:3d}: {documents[index][0][:36]}…")

print("\ntime per stage: " + ", ".join(f"{stage} {seconds:.2f}s" for stage, seconds in timings.items()))
