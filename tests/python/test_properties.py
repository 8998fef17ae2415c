import json
import math

from hypothesis import given, settings, strategies as st

from pytarntext import BM25

settings.register_profile("project", max_examples=150, deadline=None, derandomize=True)
settings.load_profile("project")

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
    expected_query = {t: v / norm for t, v in idf.items()} if norm != 0 else None
    if expected_query is not None and all(math.isfinite(v) for v in expected_query.values()):
        assert list(query_weights.items()) == list(expected_query.items())


@given(st.text(st.characters(blacklist_categories=("Cs",))))
def test_cut_words_join_back_into_any_sentence(jieba, sentence):
    assert "".join(jieba.cut(sentence)) == sentence
    assert set(jieba.cut(sentence)) <= set(jieba.cut_for_search(sentence))
