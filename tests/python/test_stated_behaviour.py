"""What the guide states where a plain reading would expect otherwise: how load reads numbers, the
order of the model file's keys, which arguments take keywords, and what a store score can reach."""

import json

import pytest

from pytarntext import BM25, Jieba

from test_store_vectors import SAME_HASH

VALID = {"_doc_count": 3, "_doc_length_average": 2.0, "_b": 0.5, "_k1": 2.0}


def with_b(text):
    """A model file whose _b is written as `text`."""
    return json.dumps(VALID).replace('"_b": 0.5', f'"_b": {text}')


# A number is read from its longest valid prefix, and the rest of it is dropped without a word.
@pytest.mark.parametrize("text, value", [("1.5.5", 1.5), ("01.5", 1.5), ("0.5-3", 0.5), ("0.5--", 0.5)])
def test_malformed_numbers_load_their_prefix_in_silence(capfd, text, value):
    model = BM25()
    model.load(with_b(text))
    assert model.b() == value
    assert capfd.readouterr().err == ""


@pytest.mark.parametrize("text, outcome", [
    ("1e400", "RuntimeError: load b failed"),  # infinity, which a parameter may not be
    ("-1e400", "RuntimeError: load b failed"),
    ("1e-400", 0.0),  # below the smallest double: 0
    ("1" + "0" * 400 + ".0", "IndexError: stod argument out of range"),  # written out past the range
    ("0." + "0" * 400 + "1", "IndexError: stod argument out of range"),
    ("1e3000000000", "IndexError: stol argument out of range"),  # an exponent past 32 bits
])
def test_floats_outside_the_double_range(text, outcome):
    model = BM25()
    try:
        model.load(with_b(text))
    except (RuntimeError, IndexError) as error:
        assert f"{type(error).__name__}: {error}" == outcome
    else:
        assert model.b() == outcome


def test_model_file_keys_are_sorted_by_their_escaped_text(tmp_path):
    # By bytes, "a\n" (0x0a) would come before "aA" (0x41); escaped, its "\" (0x5c) comes after.
    model = BM25()
    model.train(["a\n", "aA", "a\x01"])
    model.dump(tmp_path / "model.json")
    text = (tmp_path / "model.json").read_bytes()
    assert text.index(b'"a\x01"') < text.index(b'"aA"') < text.index(b'"a\\n"')


def test_only_unsigned_and_the_constructors_and_cuts_take_keywords(jieba_paths):
    model = BM25(b=0.75, k1=1.2)
    model.train(["a", "b"])
    assert model.document_sparse_vector(["a"], unsigned=True) == model.document_sparse_vector(["a"], True)
    assert model.query_sparse_vector(["a"], unsigned=True) == model.query_sparse_vector(["a"], True)
    for call in (lambda: model.train(tokens=["a"]), lambda: model.encode_query(tokens=["a"]),
                 lambda: model.document_sparse_vector(tokens=["a"]), lambda: model.b(value=0.5),
                 lambda: model.merge(other=BM25())):
        with pytest.raises(TypeError):
            call()
    jieba = Jieba(**jieba_paths)
    assert jieba.cut(sentence="我来到北京") == jieba.cut("我来到北京")
    assert jieba.cut_for_search(sentence="我来到北京") == jieba.cut_for_search("我来到北京")


def test_words_sharing_an_index_can_take_a_store_score_past_1():
    model = BM25()
    document = SAME_HASH * 50
    model.train(document)
    indices, values = model.document_sparse_vector(document)
    query = dict(zip(*model.query_sparse_vector(SAME_HASH[:1])))
    score = sum(weight * dict(zip(indices, values)).get(index, 0.0) for index, weight in query.items())
    assert len(indices) == 1 and sum(query.values()) == pytest.approx(1)
    assert 1 < score < 2
