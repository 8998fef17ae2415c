import collections
import math
import subprocess
import sys

import pytest

qdrant_client = pytest.importorskip("qdrant_client")
import qdrant_search  # noqa: E402

# The store keeps float32 values and rounds each score to float32; the reference sums in double.
FLOAT32 = 2.0**-22

QUERIES = qdrant_search.QUERIES + ["鸿渐 苏小姐 唐小姐 孙小姐 赵辛楣 结婚", "上海", "xyzzy 方鸿渐", "柔嘉 结婚", "鸿渐 出去"]


@pytest.fixture(scope="module")
def indexed(tmp_path_factory, cppjieba):
    client = qdrant_client.QdrantClient(path=str(tmp_path_factory.mktemp("qdrant")))
    jieba, stop_words = qdrant_search.load_segmenter(cppjieba)
    paragraphs = qdrant_search.novel_paragraphs(cppjieba)
    model, vectors = qdrant_search.build_index(client, "novel", paragraphs, jieba, stop_words)
    yield client, model, vectors, jieba, stop_words
    client.close()


@pytest.fixture(scope="module")
def textbook(indexed, cppjieba):
    """The other route, in a collection of the same client: the store's idf modifier on. With the
    paragraphs' words, to score them by a textbook BM25."""
    client, _, _, jieba, stop_words = indexed
    paragraphs = qdrant_search.novel_paragraphs(cppjieba)
    model, vectors = qdrant_search.build_index(client, "textbook", paragraphs, jieba, stop_words, "textbook")
    documents = {i: qdrant_search.keywords(jieba, stop_words, paragraphs[i]) for i in vectors}
    return model, vectors, documents


def textbook_bm25(documents, words, k1=1.2, b=0.75):
    """Robertson-Sparck Jones idf (1 added inside the logarithm), document frequency per document."""
    average = sum(map(len, documents.values())) / len(documents)
    frequency = collections.Counter(w for d in documents.values() for w in set(d))
    scores = {}
    for point, document in documents.items():
        tf = collections.Counter(document)
        norm = k1 * (1 - b + b * len(document) / average)
        matched = [w for w in set(words) if w in tf]
        if matched:
            scores[point] = sum(math.log(1 + (len(documents) - frequency[w] + 0.5) / (frequency[w] + 0.5))
                                * tf[w] * (k1 + 1) / (tf[w] + norm) for w in matched)
    return scores


@pytest.mark.parametrize("query", QUERIES)
def test_store_ranks_as_a_brute_force_dot_product(indexed, query):
    client, model, vectors, jieba, stop_words = indexed
    top = 10
    weights, hits = qdrant_search.search(client, "novel", model, jieba, stop_words, query, top)
    exact = {
        point: sum(weight * vector[index] for index, weight in weights.items() if index in vector)
        for point, vector in vectors.items()
        if weights.keys() & vector.keys()
    }
    best = sorted(exact.values(), reverse=True)[:top]
    assert len(hits) == len(best)
    # Positive query weights that add up to 1, against document weights below 1: every score is too.
    assert all(weight > 0 for weight in weights.values()) and sum(weights.values()) == pytest.approx(1)
    assert all(0 < score < 1 for score in exact.values())
    for rank, (score, point, _) in enumerate(hits):
        # Each hit's score is its own dot product, and it is the next best one; points whose scores
        # tie may come in either order.
        assert score == pytest.approx(exact[point], rel=FLOAT32, abs=FLOAT32)
        assert exact[point] == pytest.approx(best[rank], rel=FLOAT32, abs=FLOAT32)


@pytest.mark.parametrize("query", QUERIES)
def test_store_idf_with_unit_query_weights_ranks_as_textbook_bm25(indexed, textbook, query):
    client, _, _, jieba, stop_words = indexed
    model, vectors, documents = textbook
    top = 10
    weights, hits = qdrant_search.search(client, "textbook", model, jieba, stop_words, query, top, "textbook")
    assert set(weights.values()) == {1.0}
    # The store's idf, from the number of points that hold each index.
    holding = collections.Counter(index for vector in vectors.values() for index in vector)
    idf = {index: math.log((len(vectors) - n + 0.5) / (n + 0.5) + 1) for index, n in holding.items()}
    exact = {
        point: sum(idf[index] * vector[index] for index in weights if index in vector)
        for point, vector in vectors.items()
        if weights.keys() & vector.keys()
    }
    # Each document weight is the textbook term part over k1 + 1: the same scores, scaled.
    reference = textbook_bm25(documents, qdrant_search.keywords(jieba, stop_words, query))
    assert reference.keys() == exact.keys()
    for point, score in exact.items():
        assert score * (model.k1() + 1) == pytest.approx(reference[point], rel=1e-12)
    best = sorted(exact.values(), reverse=True)[:top]
    assert len(hits) == len(best)
    for rank, (score, point, _) in enumerate(hits):
        assert score == pytest.approx(exact[point], rel=FLOAT32, abs=FLOAT32)
        assert exact[point] == pytest.approx(best[rank], rel=FLOAT32, abs=FLOAT32)


def test_stop_words_never_reach_the_store(indexed):
    client, model, vectors, jieba, stop_words = indexed
    weights, hits = qdrant_search.search(client, "novel", model, jieba, stop_words, "的 了 。", 10)
    assert weights == {} and hits == []
    stopped = set(qdrant_search.store_indices(model, {"的", "了", "。", "，", " "}))
    assert len(stopped) == 5 and not any(stopped & vector.keys() for vector in vectors.values())


def test_store_indices_are_the_absolute_murmur3_of_utf8(indexed):
    # Pinned values (abs(mmh3.hash(word))): a store filled by one run, or by another library that
    # indexes words so, must be queried by the same indices in the next.
    model = indexed[1]
    assert qdrant_search.store_indices(model, {"", "a", "围城"}) == [0, 1009084850, 1665008464]


@pytest.mark.parametrize("argv", [["--top", "0"], ["--top", "-1"], ["--top", "three"], ["--ranking", "bm25"],
                                  ["--collection", ""],
                                  ["--collection", "a/b"], ["--collection", ".."], ["--cppjieba", "/nonexistent"]])
def test_options_that_make_no_sense_are_refused(argv, capsys):
    with pytest.raises(SystemExit) as refused:
        qdrant_search.build_parser().parse_args(argv)
    assert refused.value.code == 2 and argv[0] in capsys.readouterr().err


def store_with_one_point(path, collection):
    client = qdrant_client.QdrantClient(path=str(path))
    client.create_collection(collection, vectors_config={},
                             sparse_vectors_config={"user": qdrant_client.models.SparseVectorParams()})
    client.upsert(collection, points=[qdrant_client.models.PointStruct(
        id=1, vector={"user": qdrant_client.models.SparseVector(indices=[7], values=[1.0])})])
    return client


def test_existing_collection_is_kept_unless_replace(tmp_path):
    client = store_with_one_point(tmp_path, "mine")
    with pytest.raises(ValueError, match="'mine' already exists.*--replace"):
        qdrant_search.make_room(client, "mine")
    assert client.count("mine").count == 1
    qdrant_search.make_room(client, "mine", replace=True)
    assert not client.collection_exists("mine")
    client.close()


def test_script_leaves_an_existing_collection_alone(tmp_path):
    store_with_one_point(tmp_path, "weicheng").close()  # local mode locks the directory while open
    script = qdrant_search.__file__
    done = subprocess.run([sys.executable, str(script), "--path", str(tmp_path)], capture_output=True, text=True,
                          timeout=120)
    assert done.returncode == 2 and "'weicheng' already exists" in done.stderr
    client = qdrant_client.QdrantClient(path=str(tmp_path))
    assert client.count("weicheng").count == 1
    client.close()
