"""Keyword search in Milvus: the novel's paragraphs as BM25 sparse vectors, searched by inner product.

    pip install ".[milvus]"
    python examples/milvus_search.py [--uri URI] [--collection NAME] [--replace] [--top 3] [QUERY ...]

With no option the collection lives in a new temporary file through Milvus Lite, the Milvus engine
that pymilvus starts in a process of its own for a local file (a few seconds), so no server is
needed and every run starts afresh; --uri names the file to keep, or a server
(http://localhost:19530) to send the same requests to.

A collection that already exists under --collection (default: weicheng) is never dropped unasked:
the run stops with a message and leaves it as it was. --replace drops it and builds it anew.

The collection holds each paragraph's id and document_sparse_vector, as a dict {index: weight}, in a
SPARSE_FLOAT_VECTOR field with a SPARSE_INVERTED_INDEX, whose metric is the inner product; a query
is query_sparse_vector's dict. The paragraphs stay here: one of them is 185 KB, past the 65,535
bytes that a VARCHAR field holds. Indices are the absolute MurmurHash3 of each word's UTF-8, as in
the Qdrant example, and Milvus takes any index below 2^32 - 1. Milvus computes no idf of its own on
such a field: the query's weights carry it. Stop words are dropped before training and before
encoding, as in the Qdrant example.
"""

import argparse
import os
import re
import sys
import tempfile

from novel_data import add_cppjieba_option, keywords, load_segmenter, novel_paragraphs, positive_int
from pytarntext import BM25

QUERIES = ["方鸿渐 留学 博士", "苏小姐 爱情", "三闾大学 校长", "赵辛楣", "结婚 离婚 围城"]
VECTOR = "bm25"  # the collection's sparse vector field
# Exact: the search keeps every weight (the default drops none, said here so that it stays so).
SEARCH_PARAMS = {"metric_type": "IP", "params": {"drop_ratio_search": 0.0}}
# Seconds to wait for the engine to answer (and for each call): Milvus Lite's start takes seconds,
# and a busy machine can take past pymilvus's default of 10.
START_TIMEOUT = 120


def store_indices(model, words):
    """The distinct store indices of some words, as the encoder's vectors key them."""
    return model.document_sparse_vector(sorted(words))[0] if words else []


def make_room(client, collection, replace=False):
    """Clears the way for a new collection; one that exists is dropped only if `replace`.

    Raises ValueError otherwise, before anything in the store has changed.
    """
    if client.has_collection(collection):
        if not replace:
            raise ValueError(f"collection {collection!r} already exists: pass --replace to drop it "
                             "and build it anew, or choose another --collection")
        client.drop_collection(collection)


def build_index(client, collection, paragraphs, jieba, stop_words):
    """Trains an encoder on the paragraphs and stores each one's vector with id `i`.

    Returns the encoder and the vectors it stored ({id: {index: weight}}), for comparison.
    """
    from pymilvus import DataType

    documents = {i: keywords(jieba, stop_words, p) for i, p in enumerate(paragraphs)}
    documents = {i: words for i, words in documents.items() if words}
    model = BM25()
    for words in documents.values():
        model.train(words)
    vectors = {i: dict(zip(*model.document_sparse_vector(words))) for i, words in documents.items()}

    schema = client.create_schema(auto_id=False)
    schema.add_field("id", DataType.INT64, is_primary=True)
    schema.add_field(VECTOR, DataType.SPARSE_FLOAT_VECTOR)
    index = client.prepare_index_params()
    index.add_index(field_name=VECTOR, index_type="SPARSE_INVERTED_INDEX", metric_type="IP")
    # Strong consistency: a search sees every insert made before it.
    client.create_collection(collection, schema=schema, index_params=index, consistency_level="Strong")
    rows = [{"id": i, VECTOR: vector} for i, vector in vectors.items()]
    for start in range(0, len(rows), 256):
        client.insert(collection, rows[start:start + 256])
    return model, vectors


def search(client, collection, model, jieba, stop_words, query, top):
    """The best `top` ids for a query, as (score, id); the query's weights ({index: weight}) too."""
    weights = dict(zip(*model.query_sparse_vector(keywords(jieba, stop_words, query))))
    if not weights:
        return {}, []
    hits = client.search(collection, data=[weights], anns_field=VECTOR, limit=top, search_params=SEARCH_PARAMS)[0]
    return weights, [(hit["distance"], hit["id"]) for hit in hits]


def collection_name(text):
    """An argparse type: a name Milvus takes for a collection (a letter or "_", then letters,
    digits and "_", at most 255)."""
    if not re.fullmatch(r"[A-Za-z_][A-Za-z0-9_]{0,254}", text):
        raise argparse.ArgumentTypeError(f"{text!r} is not a collection name: start with a letter or '_', "
                                         "then use letters, digits and '_'")
    return text


def build_parser():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("queries", nargs="*", default=QUERIES, metavar="QUERY")
    parser.add_argument("--uri", help="a Milvus Lite file (*.db) or a server, e.g. http://localhost:19530 "
                                      "(default: a file in a new temporary directory)")
    parser.add_argument("--collection", type=collection_name, default="weicheng",
                        help="collection to build (default: weicheng)")
    parser.add_argument("--replace", action="store_true",
                        help="drop an existing collection of that name, and all its vectors, instead of stopping")
    parser.add_argument("--top", type=positive_int, default=3, help="hits per query (default: 3)")
    add_cppjieba_option(parser)
    return parser


def main(argv=None):
    parser = build_parser()
    args = parser.parse_args(argv)

    from pymilvus import MilvusClient

    uri = args.uri or os.path.join(tempfile.mkdtemp(), "milvus.db")
    client = MilvusClient(uri, timeout=START_TIMEOUT)
    try:
        make_room(client, args.collection, args.replace)
    except ValueError as error:
        client.close()
        parser.error(f"{uri}: {error}")

    jieba, stop_words = load_segmenter(args.cppjieba)
    paragraphs = novel_paragraphs(args.cppjieba)
    model, vectors = build_index(client, args.collection, paragraphs, jieba, stop_words)

    words = {word for p in paragraphs for word in keywords(jieba, stop_words, p)}
    collisions = len(words) - len(store_indices(model, words))
    print(f"{len(vectors)} paragraphs in collection {args.collection!r}; "
          f"{len(words):,} distinct words, {collisions} sharing an index with another")
    for query in args.queries:
        weights, hits = search(client, args.collection, model, jieba, stop_words, query, args.top)
        print(f"\n{query}  ->  {len(weights)} weighted words")
        for score, point in hits:
            print(f"  {score:.4f}  paragraph {point:3d}: {paragraphs[point][:36]}…")
    client.close()


if __name__ == "__main__":
    sys.exit(main())
