"""Rank a few tokenised documents against a query with BM25 sparse vectors."""

# Annotations unevaluated, so that list[...] runs on Python 3.8 too.
from __future__ import annotations

import os
import tempfile

from pytarntext import BM25

corpus: list[list[str]] = [
    "the quick brown fox jumps over the lazy dog".split(),
    "a fast brown fox leaps over sleeping dogs".split(),
    "lexical search ranks documents by shared keywords".split(),
    "sparse vectors hold a weight for each keyword".split(),
]

model = BM25()  # b=0.75, k1=1.2
for document in corpus:
    model.train(document)

# Save the statistics, then answer queries from a fresh encoder restored from the file.
path = os.path.join(tempfile.mkdtemp(), "bm25.json")
model.dump(path)
model = BM25()
with open(path, encoding="utf-8") as file:
    model.load(file.read())

vectors: list[dict[str, float]] = [model.encode_document(document) for document in corpus]


def score(query: dict[str, float], vector: dict[str, float]) -> float:
    return sum(weight * vector.get(token, 0.0) for token, weight in query.items())


for query in ["brown fox", "keyword search", "lazy dog"]:
    weights = model.encode_query(query.split())
    scores = [score(weights, vector) for vector in vectors]
    best = max(range(len(corpus)), key=scores.__getitem__)
    print(f"{query!r}: document {best} ({scores[best]:.4f}): {' '.join(corpus[best])}")
