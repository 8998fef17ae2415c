import json
import math
from collections import Counter

import pytest
from hypothesis import given, settings, strategies as st

from pytarntext import BM25

settings.register_profile("project", max_examples=150, deadline=None, derandomize=True)
settings.load_profile("project")

IDF_FLOOR = 1e-6  # encode_query's least idf

text_tokens = st.text(st.characters(blacklist_categories=("Cs",)), max_size=12)
# Each document holds one kind of token; a model may mix kinds across documents.
document = st.one_of(
    st.lists(text_tokens, min_size=1, max_size=12),
    st.lists(st.binary(max_size=12), min_size=1, max_size=12),
    st.lists(st.integers(-(2**63), 2**63 - 1), min_size=1, max_size=12),
)
documents = st.lists(document, min_size=1, max_size=6)


def trained(docs, b=0.75, k1=1.2):
    model = BM25(b, k1)
    for document in docs:
        model.train(document)
    return model


@given(documents)
def test_dump_then_load_restores_any_model(tmp_path_factory, docs):
    directory = tmp_path_factory.mktemp("round_trip")
    original = trained(docs)
    original.dump(str(directory / "first.json"))
    restored = BM25(0.1, 0.1)
    restored.load((directory / "first.json").read_bytes())
    restored.dump(str(directory / "second.json"))
    assert (directory / "second.json").read_bytes() == (directory / "first.json").read_bytes()
    for kind in (str, int):
        probe = sorted({t for d in docs for t in d if type(t) is kind})
        assert restored.encode_query(probe) == original.encode_query(probe)


@given(st.lists(st.lists(text_tokens, min_size=1, max_size=10), min_size=1, max_size=6))
def test_training_keeps_the_average_and_counts(tmp_path_factory, docs):
    path = tmp_path_factory.mktemp("invariants") / "model.json"
    trained(docs).dump(str(path))
    document = json.loads(path.read_text(encoding="utf-8"), strict=False)  # raw control bytes
    lengths = [len(d) for d in docs]
    assert document["_doc_count"] == len(docs)
    assert document["_doc_length_average"] == float(f"{sum(lengths) / len(docs):.6f}")
    counts = {}
    for d in docs:
        for token in d:
            counts[token] = counts.get(token, 0) + 1
    assert document["_doc_token_frequency"] == counts


@given(
    st.lists(st.lists(st.integers(-50, 50), min_size=1, max_size=10), min_size=1, max_size=8),
    st.lists(st.integers(-60, 60), max_size=10),
    st.floats(0, 1),
    st.floats(0, 3),
)
def test_encodings_follow_the_formulas(docs, tokens, b, k1):
    model = trained(docs, b, k1)
    count, total = len(docs), sum(map(len, docs))
    average = total / count
    frequency = {}
    for d in docs:
        for t in d:
            frequency[t] = frequency.get(t, 0) + 1
    if not tokens:
        assert model.encode_document(tokens) == model.encode_query(tokens) == {}
        return
    saturation = ((len(tokens) / average) * b + (1.0 - b)) * k1
    tf = {t: tokens.count(t) for t in sorted(set(tokens))}
    expected_document = {t: 0.0 + f / (f + saturation) for t, f in tf.items()}
    idf = {t: math.log((count + 1) / (frequency[t] + 0.5 if t in frequency else 1.5)) for t in tf}
    norm = 0.0
    for t in sorted(idf):
        norm += idf[t]
    document_weights, query_weights = model.encode_document(tokens), model.encode_query(tokens)
    assert list(document_weights.items()) == list(expected_document.items())
    if all(v >= IDF_FLOOR for v in idf.values()):  # else the floor applies: see below
        assert list(query_weights.items()) == [(t, v / norm) for t, v in idf.items()]


# Few distinct tokens, so that many occur more often than there are documents.
few_texts = st.lists(st.lists(st.sampled_from("abcd"), min_size=1, max_size=8), min_size=1, max_size=5)
few_ids = st.lists(st.lists(st.integers(-2, 2), min_size=1, max_size=8), min_size=1, max_size=5)


@given(st.one_of(few_texts.map(lambda docs: (docs, "abcde")), few_ids.map(lambda docs: (docs, range(-2, 4)))),
       st.data())
def test_query_weights_are_positive_sum_to_one_and_above_the_floor_are_as_before(corpus, data):
    docs, alphabet = corpus
    query = data.draw(st.lists(st.sampled_from(list(alphabet)), min_size=1, max_size=6))
    model = trained(docs)
    frequency = Counter(str(t) for d in docs for t in d)
    idf = {t: math.log((len(docs) + 1) / (frequency[str(t)] + 0.5 if str(t) in frequency else 1.5))
           for t in sorted(set(query))}
    weights = model.encode_query(query)
    assert list(weights) == list(idf)
    assert all(w > 0 for w in weights.values())
    assert math.fsum(weights.values()) == pytest.approx(1.0, rel=1e-12)
    # A commoner token never weighs more.
    for s in idf:
        for t in idf:
            if frequency.get(str(s), 1) <= frequency.get(str(t), 1):
                assert weights[s] >= weights[t]
    if all(v >= IDF_FLOOR for v in idf.values()):
        # Today's formula, written out: idf over their sum, summed in key order. Bit for bit.
        total = 0.0
        for t in idf:
            total += idf[t]
        assert list(weights.items()) == [(t, v / total) for t, v in idf.items()]
    elif all(v < IDF_FLOOR for v in idf.values()):
        assert len(set(weights.values())) == 1


@given(st.text(st.characters(blacklist_categories=("Cs",))))
def test_cut_words_join_back_into_any_sentence(jieba, sentence):
    assert "".join(jieba.cut(sentence)) == sentence
    assert set(jieba.cut(sentence)) <= set(jieba.cut_for_search(sentence))


# Random bytes are seldom UTF-8 or an encoded surrogate: mix in some that are.
json_tokens = st.one_of(st.binary(max_size=6), st.sampled_from(["é".encode(), b"\xed\xa0\x80", b"\x01\x1f\x7f", b"\xff"]))


@given(st.lists(st.lists(json_tokens, min_size=1, max_size=5), min_size=1, max_size=4))
def test_python_json_reads_the_models_whose_tokens_are_utf8(tmp_path_factory, docs):
    path = tmp_path_factory.mktemp("json") / "model.json"
    trained(docs).dump(str(path))
    tokens = {t for d in docs for t in d}
    try:
        expected = {t.decode("utf-8", "surrogatepass") for t in tokens}
    except UnicodeDecodeError:
        with pytest.raises(UnicodeDecodeError):
            json.loads(path.read_bytes(), strict=False)
        return
    assert set(json.loads(path.read_bytes(), strict=False)["_doc_token_frequency"]) == expected
    if any(0xD800 <= ord(c) <= 0xDFFF for t in expected for c in t):
        with pytest.raises(UnicodeDecodeError):
            path.read_text(encoding="utf-8")
