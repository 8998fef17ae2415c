"""Keyword search in a sparse-vector store: the novel's paragraphs as BM25 vectors in Qdrant.

    pip install ".[qdrant]"
    python examples/qdrant_search.py [--path DIR | --url URL] [--collection NAME] [--replace]
                                     [--ranking encoder|textbook] [--top 3] [QUERY ...]

With no option the collection lives in a new temporary directory through Qdrant's local mode, so no
server is needed and every run starts afresh; --path DIR keeps the store in DIR, and
--url http://localhost:6333 sends the same requests to a server.

A collection that already exists under --collection (default: weicheng) is never deleted unasked:
the run stops with a message and leaves it as it was. --replace deletes it, points and all, and
builds it anew, which is what a second run against the same --path or --url needs.

Stores key sparse vectors by 32-bit integer. The encoder counts words, and document_sparse_vector
and query_sparse_vector hand over each vector keyed by index: the MurmurHash3 (x86_32, seed 0) of
the word's UTF-8, its absolute value, as Qdrant's own BM25 indexes words; the indices ascending,
the weights of words that share one added. The counts stay keyed by word, so two words that share
an index never share a count; the example counts such words in its vocabulary.

The documents are stored the same way on both routes of --ranking; the query and the collection
differ:
- encoder (the default): the query's weights are query_sparse_vector's, the encoder's idf from its
  counts of occurrences, and the collection's idf modifier stays off, since the store would apply
  idf a second time;
- textbook: the collection's idf modifier is on (Modifier.IDF), so the store computes each word's
  idf from the number of paragraphs that hold it, and the query gives each of its words a weight
  of 1. A document weight is the textbook BM25 term part over (k1 + 1), so this ranks as textbook
  BM25 does (bench/bench_ranking.py measures both routes).

Stop words are dropped before training and before encoding, on both routes: they tell no paragraph
from another, and would only lengthen every vector (the query weights need no help: encode_query
floors each idf, so they are positive and add up to 1).
"""

import argparse
import re
import sys
import tempfile

from novel_data import add_cppjieba_option, keywords, load_segmenter, novel_paragraphs, positive_int
from pytarntext import BM25

QUERIES = ["方鸿渐 留学 博士", "苏小姐 爱情", "三闾大学 校长", "赵辛楣", "结婚 离婚 围城"]
VECTOR = "bm25"  # the collection's one sparse vector
RANKINGS = ("encoder", "textbook")  # whose idf: the encoder's query weights, or the store's


def store_indices(model, words):
    """The distinct store indices of some words, as the encoder's vectors key them."""
    return model.document_sparse_vector(sorted(words))[0] if words else []


def make_room(client, collection, replace=False):
    """Clears the way for a new collection; one that exists is deleted only if `replace`.

    Raises ValueError otherwise, before anything in the store has changed.
    """
    if client.collection_exists(collection):
        if not replace:
            raise ValueError(f"collection {collection!r} already exists: pass --replace to delete it "
                             "and build it anew, or choose another --collection")
        client.delete_collection(collection)


def build_index(client, collection, paragraphs, jieba, stop_words, ranking="encoder"):
    """Trains an encoder on the paragraphs and stores each one's vector as point `i`, in a
    collection whose idf modifier is on for the textbook ranking only.

    Returns the encoder and the vectors it stored ({point id: {index: weight}}), for comparison.
    """
    from qdrant_client import models

    documents = {i: keywords(jieba, stop_words, p) for i, p in enumerate(paragraphs)}
    documents = {i: words for i, words in documents.items() if words}
    model = BM25()
    for words in documents.values():
        model.train(words)
    vectors = {i: model.document_sparse_vector(words) for i, words in documents.items()}

    client.create_collection(
        collection,
        vectors_config={},
        sparse_vectors_config={VECTOR: models.SparseVectorParams(
            modifier=models.Modifier.IDF if ranking == "textbook" else models.Modifier.NONE)},
    )
    points = [
        models.PointStruct(id=i, vector={VECTOR: sparse_vector(vector)}, payload={"paragraph": paragraphs[i]})
        for i, vector in vectors.items()
    ]
    for start in range(0, len(points), 256):
        client.upsert(collection, points=points[start:start + 256])
    return model, {i: dict(zip(*vector)) for i, vector in vectors.items()}


def sparse_vector(indexed):
    from qdrant_client import models

    indices, values = indexed  # ascending and distinct, as the store wants them
    return models.SparseVector(indices=indices, values=values)


def search(client, collection, model, jieba, stop_words, query, top, ranking="encoder"):
    """The best `top` points for a query, as (score, point id, paragraph); the query's weights too,
    by index: the encoder's idf, or 1 for each word where the store applies its own."""
    indexed = model.query_sparse_vector(keywords(jieba, stop_words, query))
    if not indexed[0]:
        return {}, []
    if ranking == "textbook":
        indexed = (indexed[0], [1.0] * len(indexed[0]))
    hits = client.query_points(collection, query=sparse_vector(indexed), using=VECTOR, limit=top).points
    return dict(zip(*indexed)), [(hit.score, hit.id, hit.payload["paragraph"]) for hit in hits]


def collection_name(text):
    """An argparse type: a name Qdrant takes for a collection (letters, digits, "-", "_", ".")."""
    if not re.fullmatch(r"[A-Za-z0-9_.-]+", text) or text in {".", ".."}:
        raise argparse.ArgumentTypeError(f"{text!r} is not a collection name: use letters, digits, '-', '_' and '.'")
    return text


def build_parser():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("queries", nargs="*", default=QUERIES, metavar="QUERY")
    where = parser.add_mutually_exclusive_group()
    where.add_argument("--path", help="directory of a local-mode store (default: a new temporary one)")
    where.add_argument("--url", help="a Qdrant server, e.g. http://localhost:6333")
    parser.add_argument("--collection", type=collection_name, default="weicheng", help="collection to build (default: weicheng)")
    parser.add_argument("--replace", action="store_true",
                        help="delete an existing collection of that name, and all its points, instead of stopping")
    parser.add_argument("--ranking", choices=RANKINGS, default="encoder",
                        help="encoder: encode_query's weights, the store's idf off (default); "
                             "textbook: the store's idf from document frequency, a weight of 1 per query word")
    parser.add_argument("--top", type=positive_int, default=3, help="hits per query (default: 3)")
    add_cppjieba_option(parser)
    return parser


def main(argv=None):
    parser = build_parser()
    args = parser.parse_args(argv)

    from qdrant_client import QdrantClient

    store = args.url or args.path or tempfile.mkdtemp()
    client = QdrantClient(url=store) if args.url else QdrantClient(path=store)
    try:
        make_room(client, args.collection, args.replace)
    except ValueError as error:
        client.close()
        parser.error(f"{store}: {error}")

    jieba, stop_words = load_segmenter(args.cppjieba)
    paragraphs = novel_paragraphs(args.cppjieba)
    model, vectors = build_index(client, args.collection, paragraphs, jieba, stop_words, args.ranking)

    words = {word for p in paragraphs for word in keywords(jieba, stop_words, p)}
    collisions = len(words) - len(store_indices(model, words))
    print(f"{len(vectors)} paragraphs in collection {args.collection!r}; "
          f"{len(words):,} distinct words, {collisions} sharing an index with another; "
          f"{args.ranking} ranking")
    for query in args.queries:
        weights, hits = search(client, args.collection, model, jieba, stop_words, query, args.top, args.ranking)
        print(f"\n{query}  ->  {len(weights)} weighted words")
        for score, point, paragraph in hits:
            print(f"  {score:.4f}  paragraph {point:3d}: {paragraph[:36]}…")
    client.close()


if __name__ == "__main__":
    sys.exit(main())
