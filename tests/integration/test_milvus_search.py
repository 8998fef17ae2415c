import subprocess
import sys

import pytest

pymilvus = pytest.importorskip("pymilvus")
pytest.importorskip("milvus_lite")
import milvus_search  # noqa: E402
from milvus_lite.server_manager import server_manager_instance  # noqa: E402

# The engine keeps float32 values and returns float32 scores; the reference sums in double.
FLOAT32 = 2.0**-22

QUERIES = milvus_search.QUERIES + ["鸿渐 苏小姐 唐小姐 孙小姐 赵辛楣 结婚", "上海", "xyzzy 方鸿渐", "柔嘉 结婚", "鸿渐 出去"]


@pytest.fixture(scope="module")
def store(tmp_path_factory):
    """One Milvus Lite engine for the module: it takes seconds to start."""
    path = str(tmp_path_factory.mktemp("milvus") / "milvus.db")
    client = pymilvus.MilvusClient(path, timeout=milvus_search.START_TIMEOUT)
    yield client
    client.close()
    server_manager_instance.release_server(path)  # the engine outlives its clients: stopped here


@pytest.fixture(scope="module")
def indexed(store, cppjieba):
    jieba, stop_words = milvus_search.load_segmenter(cppjieba)
    paragraphs = milvus_search.novel_paragraphs(cppjieba)
    model, vectors = milvus_search.build_index(store, "novel", paragraphs, jieba, stop_words)
    return model, vectors, jieba, stop_words


@pytest.mark.parametrize("query", QUERIES)
def test_engine_ranks_as_a_brute_force_dot_product(store, indexed, query):
    model, vectors, jieba, stop_words = indexed
    top = 10
    weights, hits = milvus_search.search(store, "novel", model, jieba, stop_words, query, top)
    exact = {
        point: sum(weight * vector[index] for index, weight in weights.items() if index in vector)
        for point, vector in vectors.items()
        if weights.keys() & vector.keys()
    }
    best = sorted(exact.values(), reverse=True)[:top]
    assert len(hits) == len(best)
    for rank, (score, point) in enumerate(hits):
        # Each hit's score is its own dot product, and it is the next best one; points whose scores
        # tie may come in either order.
        assert score == pytest.approx(exact[point], rel=FLOAT32, abs=FLOAT32)
        assert exact[point] == pytest.approx(best[rank], rel=FLOAT32, abs=FLOAT32)


def test_unsigned_indices_past_two_to_the_31_are_taken(store):
    # The unsigned form reaches past 2^31, where the absolute form never goes; Milvus takes any
    # index below 2^32 - 1.
    model = milvus_search.BM25()
    model.train(["a", "b", "a"])
    model.train(["c"])
    documents = {1: ["a", "a", "c"], 2: ["b", "c"]}
    vectors = {i: dict(zip(*model.document_sparse_vector(words, unsigned=True))) for i, words in documents.items()}
    assert max(max(vector) for vector in vectors.values()) > 2**31
    schema = store.create_schema(auto_id=False)
    schema.add_field("id", pymilvus.DataType.INT64, is_primary=True)
    schema.add_field("v", pymilvus.DataType.SPARSE_FLOAT_VECTOR)
    index = store.prepare_index_params()
    index.add_index(field_name="v", index_type="SPARSE_INVERTED_INDEX", metric_type="IP")
    store.create_collection("unsigned", schema=schema, index_params=index, consistency_level="Strong")
    store.insert("unsigned", [{"id": i, "v": vector} for i, vector in vectors.items()])
    query = dict(zip(*model.query_sparse_vector(["c", "a"], unsigned=True)))
    hits = store.search("unsigned", data=[query], anns_field="v", limit=5, search_params=milvus_search.SEARCH_PARAMS)[0]
    exact = {i: sum(w * vector.get(index, 0.0) for index, w in query.items()) for i, vector in vectors.items()}
    assert [hit["id"] for hit in hits] == sorted(exact, key=exact.get, reverse=True)
    for hit in hits:
        assert hit["distance"] == pytest.approx(exact[hit["id"]], rel=FLOAT32)


def test_stop_words_never_reach_the_store(store, indexed):
    model, vectors, jieba, stop_words = indexed
    weights, hits = milvus_search.search(store, "novel", model, jieba, stop_words, "的 了 。", 10)
    assert weights == {} and hits == []
    stopped = set(milvus_search.store_indices(model, {"的", "了", "。", "，", " "}))
    assert len(stopped) == 5 and not any(stopped & vector.keys() for vector in vectors.values())


@pytest.mark.parametrize("argv", [["--top", "0"], ["--top", "three"], ["--collection", ""], ["--collection", "a-b"],
                                  ["--collection", "1st"], ["--cppjieba", "/nonexistent"]])
def test_options_that_make_no_sense_are_refused(argv, capsys):
    with pytest.raises(SystemExit) as refused:
        milvus_search.build_parser().parse_args(argv)
    assert refused.value.code == 2 and argv[0] in capsys.readouterr().err


def collection_with_one_vector(client, collection):
    schema = client.create_schema(auto_id=False)
    schema.add_field("id", pymilvus.DataType.INT64, is_primary=True)
    schema.add_field(milvus_search.VECTOR, pymilvus.DataType.SPARSE_FLOAT_VECTOR)
    index = client.prepare_index_params()
    index.add_index(field_name=milvus_search.VECTOR, index_type="SPARSE_INVERTED_INDEX", metric_type="IP")
    client.create_collection(collection, schema=schema, index_params=index, consistency_level="Strong")
    client.insert(collection, [{"id": 1, milvus_search.VECTOR: {7: 1.0}}])


def count(client, collection):
    return client.query(collection, filter="", output_fields=["count(*)"])[0]["count(*)"]


def test_existing_collection_is_kept_unless_replace(store):
    collection_with_one_vector(store, "mine")
    with pytest.raises(ValueError, match="'mine' already exists.*--replace"):
        milvus_search.make_room(store, "mine")
    assert count(store, "mine") == 1
    milvus_search.make_room(store, "mine", replace=True)
    assert not store.has_collection("mine")


def test_script_leaves_an_existing_collection_alone(tmp_path):
    uri = str(tmp_path / "milvus.db")
    client = pymilvus.MilvusClient(uri, timeout=milvus_search.START_TIMEOUT)
    collection_with_one_vector(client, "weicheng")
    client.close()
    # The engine holds the file: stopped, so that the script's own engine can open it.
    server_manager_instance.release_server(uri)
    done = subprocess.run([sys.executable, milvus_search.__file__, "--uri", uri], capture_output=True, text=True,
                          timeout=180)
    assert done.returncode == 2 and "'weicheng' already exists" in done.stderr
    client = pymilvus.MilvusClient(uri, timeout=milvus_search.START_TIMEOUT)
    assert count(client, "weicheng") == 1
    client.close()
    server_manager_instance.release_server(uri)
