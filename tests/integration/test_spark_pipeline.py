import os
import struct
import sys

import pytest

pytest.importorskip("pyspark")
import spark_pipeline  # noqa: E402


def state_fields(model):
    """A pickled encoder's state, decoded: parameters, totals, and every token's count."""
    state = model.__getstate__()
    magic, version, b, k1, average, count, total, entries = struct.unpack_from("<4sIdddiqQ", state)
    assert (magic, version) == (b"BM25", 1)
    offset, tokens = struct.calcsize("<4sIdddiqQ"), {}
    for _ in range(entries):
        (size,) = struct.unpack_from("<I", state, offset)
        token = state[offset + 4:offset + 4 + size]
        (tokens[token],) = struct.unpack_from("<i", state, offset + 4 + size)
        offset += 4 + size + 4
    assert offset == len(state)
    return {"b": b.hex(), "k1": k1.hex(), "average": average.hex(), "count": count, "total": total,
            "tokens": tokens}


@pytest.fixture(scope="module")
def spark():
    os.environ["PYSPARK_PYTHON"] = sys.executable
    from pyspark.sql import SparkSession

    session = SparkSession.builder.master("local[2]").appName("pytarntext test").getOrCreate()
    yield session
    session.stop()


def test_spark_job_gives_exactly_the_one_process_model_and_vectors(spark, cppjieba, tmp_path):
    corpus = spark_pipeline.novel_corpus(cppjieba, repeat=3)
    model = spark_pipeline.run(spark, corpus, cppjieba, partitions=7, out=str(tmp_path))
    whole, vectors = spark_pipeline.run_in_one_process(corpus, cppjieba)

    whole.dump(str(tmp_path / "whole.json"))
    assert (tmp_path / "model.json").read_bytes() == (tmp_path / "whole.json").read_bytes()
    assert state_fields(model) == state_fields(whole)

    def bits(vector):
        return [(word, weight.hex()) for word, weight in vector.items()]

    written = spark_pipeline.read_vectors(str(tmp_path))
    assert len(written) == len(corpus)
    assert [bits(vector) for vector in written] == [bits(vector) for vector in vectors]
