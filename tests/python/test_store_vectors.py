import pytest
from hypothesis import given, strategies as st

from pytarntext import BM25

from test_properties import trained

# Pinned with the mmh3 package: "w30181" and "w38066" share their MurmurHash3; "w90930" and
# "w122127" hash to opposite signed values, so only their absolute values collide; U\x07o\x83
# hashes to -2**31, whose absolute value only an unsigned index holds.
SAME_HASH = ["w30181", "w38066"]
OPPOSITE_HASHES = ["w90930", "w122127"]
LOWEST = b"U\x07o\x83"
PINNED = {"a": 1009084850, "围城": 1665008464, "": 0, "7": 602572328}


@pytest.fixture(scope="module")
def mmh3():
    return pytest.importorskip("mmh3")


@pytest.fixture(scope="module")
def model():
    return trained([["a", "b", "a"], ["b", "c"], [7, 12]])


def by_index(weights, index_of):
    """What a user's loop gives: the weights of a dict keyed by token, added up by index, in the
    dict's (token) order, then indices ascending."""
    grouped = {}
    for token, weight in weights.items():
        index = index_of(token)
        grouped[index] = grouped[index] + weight if index in grouped else weight
    indices = sorted(grouped)
    return indices, [grouped[index] for index in indices]


@pytest.fixture(scope="module")
def novel_words(jieba, novel_lines):
    return sorted({word for line in novel_lines for word in jieba.cut(line)})


@pytest.mark.parametrize("unsigned", [False, True])
def test_index_is_mmh3_of_every_word_of_the_novel(model, mmh3, novel_words, unsigned):
    def expected(word):
        return mmh3.hash(word, signed=False) if unsigned else abs(mmh3.hash(word))

    assert [model.query_sparse_vector([word], unsigned=unsigned)[0] for word in novel_words] == [
        [expected(word)] for word in novel_words
    ]
    # All of them in one vector: words that share an index add up, as a user's loop would.
    assert model.document_sparse_vector(novel_words, unsigned=unsigned) == by_index(
        model.encode_document(novel_words), expected
    )


@given(st.lists(st.binary(max_size=40), min_size=1, max_size=20))
def test_index_is_mmh3_of_any_bytes(mmh3, tokens):
    model = trained([["a"]])
    for unsigned, expected in ((False, lambda t: abs(mmh3.hash(t))), (True, lambda t: mmh3.hash(t, signed=False))):
        indices, values = model.document_sparse_vector(tokens, unsigned=unsigned)
        assert indices == sorted({expected(t) for t in tokens})  # no key is decoded: any bytes do
        assert len(values) == len(indices)


text_documents = st.lists(st.sampled_from(["a", "b", "c", "d", "é", ""] + SAME_HASH + OPPOSITE_HASHES), min_size=1)
id_documents = st.lists(st.sampled_from([7, 12, -3, 0, 2**63 - 1, -(2**63)]), min_size=1)


@given(st.one_of(text_documents, id_documents), st.booleans())
def test_weights_are_the_encodings_added_up_by_index(model, tokens, unsigned):
    def index_of(token):
        return model.query_sparse_vector([str(token)], unsigned=unsigned)[0][0]

    assert model.document_sparse_vector(tokens, unsigned=unsigned) == by_index(model.encode_document(tokens), index_of)
    assert model.query_sparse_vector(tokens, unsigned=unsigned) == by_index(model.encode_query(tokens), index_of)


@pytest.mark.parametrize("unsigned, collide", [(False, [SAME_HASH, OPPOSITE_HASHES]), (True, [SAME_HASH])])
def test_tokens_sharing_an_index_add_their_weights_but_keep_their_own_counts(unsigned, collide):
    model = trained([SAME_HASH[:1] * 3 + OPPOSITE_HASHES[:1] * 2, ["x"]])
    tokens = SAME_HASH + OPPOSITE_HASHES
    indices, values = model.query_sparse_vector(tokens, unsigned=unsigned)
    assert len(indices) == len(tokens) - len(collide)
    assert indices == sorted(set(indices))
    weights = model.encode_query(tokens)
    for pair in collide:
        assert values[indices.index(model.query_sparse_vector(pair[:1], unsigned=unsigned)[0][0])] == (
            weights[min(pair)] + weights[max(pair)]
        )
    # The statistics stay keyed by token: the trained one of each pair is the commoner.
    assert weights[SAME_HASH[0]] < weights[SAME_HASH[1]]
    assert weights[OPPOSITE_HASHES[0]] < weights[OPPOSITE_HASHES[1]]


@pytest.mark.parametrize("unsigned", [False, True])
def test_the_lowest_signed_hash_indexes_as_two_to_the_31(model, unsigned):
    assert model.document_sparse_vector([LOWEST], unsigned=unsigned) == ([2**31], list(model.encode_document(["z"]).values()))


def test_indices_are_pinned_and_integer_tokens_index_by_their_text(model):
    indices, _ = model.document_sparse_vector(list(PINNED))
    assert indices == sorted(PINNED.values())
    assert model.query_sparse_vector([7, 12]) == model.query_sparse_vector(["12", "7"])
    assert model.document_sparse_vector([7, -3, 7]) == model.document_sparse_vector(["7", "-3", "7"])


@pytest.mark.parametrize("method", ["document_sparse_vector", "query_sparse_vector"])
def test_results_are_two_new_lists_of_ints_and_floats(model, method):
    encode = getattr(model, method)
    first, second = encode(["a", "c"]), encode(["a", "c"])
    assert type(first) is tuple and first == second and first[0] is not second[0]
    indices, values = first
    assert type(indices) is list and type(values) is list
    assert all(type(i) is int for i in indices) and all(type(v) is float for v in values)
    assert encode([]) == encode([], unsigned=True) == ([], [])
    assert getattr(BM25(), method)([]) == ([], [])
    with pytest.raises(RuntimeError, match="^BM25 has not been initialized$"):
        getattr(BM25(), method)(["a"])
    with pytest.raises(TypeError, match=r"\(\): incompatible"):
        encode(["a", 1])
