import os
import struct
import subprocess
import sys

import pytest

pytest.importorskip("pyspark")
import spark_pipeline  # noqa: E402

# The Qdrant example's queries, and some that meet the novel's commonest words.
QUERIES = ["方鸿渐 留学 博士", "苏小姐 爱情", "三闾大学 校长", "赵辛楣", "结婚 离婚 围城", "柔嘉 结婚", "鸿渐 出去"]


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

    # The merged model's queries score the written vectors below 1 (the number of query words is
    # at least 1): positive query weights adding up to 1, document weights below 1.
    jieba, stop_words = spark_pipeline.load_segmenter(cppjieba)
    for query in QUERIES:
        weights = model.encode_query(spark_pipeline.keywords(jieba, stop_words, query))
        assert all(weight > 0 for weight in weights.values()) and sum(weights.values()) == pytest.approx(1)
        scores = [sum(weight * vector.get(word, 0.0) for word, weight in weights.items()) for vector in written]
        assert 0 < max(scores) < 1, query


@pytest.mark.parametrize("argv", [["--partitions", "0"], ["--partitions", "-2"], ["--repeat", "0"],
                                  ["--partitions", "two"], ["--cppjieba", "/nonexistent"]])
def test_options_that_make_no_sense_are_refused(argv, capsys):
    with pytest.raises(SystemExit) as refused:
        spark_pipeline.build_parser().parse_args(argv)
    assert refused.value.code == 2 and argv[0] in capsys.readouterr().err


def test_missing_out_is_created(tmp_path):
    out = tmp_path / "new" / "out"
    spark_pipeline.prepare_out(str(out))
    assert out.is_dir()


def files(directory):
    return {path: path.read_bytes() for path in directory.rglob("*") if path.is_file()}


@pytest.mark.parametrize("earlier", spark_pipeline.OUTPUTS)
def test_earlier_output_is_refused_untouched_or_replaced(tmp_path, earlier):
    if earlier == "vectors":
        (tmp_path / earlier).mkdir()
        (tmp_path / earlier / "part-00000").write_text("old")
    else:
        (tmp_path / earlier).write_text("old")
    before = files(tmp_path)
    with pytest.raises(ValueError, match=f"{tmp_path} already holds {earlier} .*--replace"):
        spark_pipeline.prepare_out(str(tmp_path))
    assert files(tmp_path) == before

    (tmp_path / "unrelated.txt").write_text("kept")
    spark_pipeline.prepare_out(str(tmp_path), replace=True)
    assert [path.name for path in tmp_path.iterdir()] == ["unrelated.txt"]


def test_out_that_is_a_file_is_refused(tmp_path):
    (tmp_path / "out").write_text("data")
    with pytest.raises(ValueError, match="not a directory"):
        spark_pipeline.prepare_out(str(tmp_path / "out"))


def test_a_run_that_cannot_start_replaces_nothing(tmp_path):
    (tmp_path / "model.json").write_text("earlier")
    run = subprocess.run([sys.executable, str(spark_pipeline.__file__), "--out", str(tmp_path), "--replace",
                          "--cppjieba", str(tmp_path)], capture_output=True, text=True)
    assert run.returncode == 2 and "is not a cppjieba tree" in run.stderr
    assert (tmp_path / "model.json").read_text() == "earlier"


def test_script_refuses_earlier_output_before_the_job(tmp_path):
    (tmp_path / "model.json").write_text("earlier model")
    script = spark_pipeline.__file__
    done = subprocess.run([sys.executable, str(script), "--out", str(tmp_path)], capture_output=True, text=True,
                          timeout=120)
    assert done.returncode == 2 and str(tmp_path) in done.stderr
    assert (tmp_path / "model.json").read_text() == "earlier model"
    assert sorted(path.name for path in tmp_path.iterdir()) == ["model.json"]
