import pytest

qdrant_client = pytest.importorskip("qdrant_client")
import qdrant_search  # noqa: E402

# The store keeps float32 values and rounds each score to float32; the reference sums in double.
FLOAT32 = 2.0**-22

QUERIES = qdrant_search.QUERIES + ["鸿渐 苏小姐 唐小姐 孙小姐 赵辛楣 结婚", "上海", "xyzzy 方鸿渐"]


@pytest.fixture(scope="module")
def indexed(tmp_path_factory, cppjieba):
    client = qdrant_client.QdrantClient(path=str(tmp_path_factory.mktemp("qdrant")))
    jieba, stop_words = qdrant_search.load_segmenter(cppjieba)
    paragraphs = qdrant_search.novel_paragraphs(cppjieba)
    model, vectors = qdrant_search.build_index(client, "novel", paragraphs, jieba, stop_words)
    yield client, model, vectors, jieba, stop_words
    client.close()


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
    for rank, (score, point, _) in enumerate(hits):
        # Each hit's score is its own dot product, and it is the next best one; points whose scores
        # tie may come in either order.
        assert score == pytest.approx(exact[point], rel=FLOAT32, abs=FLOAT32)
        assert exact[point] == pytest.approx(best[rank], rel=FLOAT32, abs=FLOAT32)


def test_stop_words_never_reach_the_store(indexed):
    client, model, vectors, jieba, stop_words = indexed
    weights, hits = qdrant_search.search(client, "novel", model, jieba, stop_words, "的 了 。", 10)
    assert weights == {} and hits == []
    stopped = {qdrant_search.token_index(word) for word in ("的", "了", "。", "，", " ")}
    assert not any(stopped & vector.keys() for vector in vectors.values())


def test_token_index_is_the_crc32_of_utf8():
    # Pinned values: a store filled by one run must be queried by the same indices in the next.
    assert [qdrant_search.token_index(word) for word in ("", "a", "围城")] == [0, 0xE8B7BE43, 0x907DCEE7]
