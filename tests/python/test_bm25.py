import gc
import math
import pickle

import pytest

import pytarntext
from pytarntext import BM25


def trained(*documents, **parameters):
    model = BM25(**parameters)
    for document in documents:
        model.train(document)
    return model


@pytest.fixture
def text_model():
    return trained(["a", "b", "a"], ["b", "c"])


@pytest.fixture
def id_model():
    return trained([7, 7, -3], [7])


def test_module_offers_only_its_classes():
    public = {name for name in dir(pytarntext) if not name.startswith("_")}
    assert public <= {"BM25", "Jieba"} and "BM25" in public
    assert BM25.__module__ == "pytarntext"
    assert BM25.__qualname__ == "BM25"


@pytest.mark.parametrize(
    "args, kwargs, b, k1",
    [
        ((), {}, 0.75, 1.2),
        ((0.5,), {}, 0.5, 1.2),
        ((), {"k1": 2.0}, 0.75, 2.0),
        ((1, 2), {}, 1.0, 2.0),
        ((), {"b": -1.0, "k1": 0.0}, -1.0, 0.0),
    ],
)
def test_constructor_sets_parameters(args, kwargs, b, k1):
    model = BM25(*args, **kwargs)
    assert (model.b(), model.k1()) == (b, k1)
    assert type(model.b()) is float


def test_setters_change_parameters_and_return_none(text_model):
    assert text_model.b(0.3) is None
    assert text_model.k1(2) is None
    assert (text_model.b(), text_model.k1()) == (0.3, 2.0)


@pytest.mark.parametrize("attribute", ["b", "extra"])
def test_instances_take_no_attributes(attribute):
    model = BM25()
    with pytest.raises(AttributeError):
        setattr(model, attribute, 0.3)
    assert model.b() == 0.75


def test_signatures_are_generated_from_types():
    assert BM25.__init__.__doc__.startswith(
        "__init__(self: pytarntext.BM25, b: float = 0.75, k1: float = 1.2) -> None"
    )
    doc = BM25.encode_document.__doc__
    assert "1. encode_document(self: pytarntext.BM25, arg0: list[str]) -> dict[str, float]" in doc
    assert "2. encode_document(self: pytarntext.BM25, arg0: list[int]) -> dict[int, float]" in doc


def test_empty_document_is_refused_and_changes_nothing():
    model = BM25()
    with pytest.raises(RuntimeError, match="^trainning tokens_vec should not be empty$"):
        model.train([])
    with pytest.raises(RuntimeError, match="^BM25 has not been initialized$"):
        model.encode_query(["a"])


@pytest.mark.parametrize(
    "call",
    [
        lambda m: m.train("ab"),
        lambda m: m.train(b"ab"),
        lambda m: m.train(["a", 1]),
        lambda m: m.train([1.5]),
        lambda m: m.train([2**63]),
        lambda m: m.train([-(2**63) - 1]),
        lambda m: m.train(["\ud800"]),
        lambda m: m.train(["中", "文\udc80"]),
        lambda m: m.train(["é", "😀\udfff", "a"]),
        lambda m: m.train({"a": 1}),
        lambda m: m.train(tokens=["a"]),
        lambda m: m.encode_query(["a", None]),
        lambda m: m.b("0.5"),
    ],
)
def test_bad_arguments_raise_type_error_and_change_nothing(call):
    model = trained(["x"])
    with pytest.raises(TypeError, match=r"\(\): incompatible"):
        call(model)
    assert model.encode_query(["x", "y"]) == trained(["x"]).encode_query(["x", "y"])


@pytest.mark.parametrize(
    "document",
    [("a", "b"), ["a", b"b"], [bytearray(b"a"), "b"], range(2), [True, 5]],
)
def test_any_sequence_of_one_token_kind_trains(document):
    model = BM25()
    model.train(document)
    assert model.encode_document(["z"]) == {"z": 1 / (1 + 1.2 * (0.25 + 0.75 / 2))}


# Text and binary data are sequences too, of characters or of byte values: each is one token at
# most, never a token list (a bytearray once trained its bytes as the integer tokens 97, 98, 99).
@pytest.mark.parametrize("tokens", ["abc", b"abc", bytearray(b"abc"), memoryview(b"abc")])
@pytest.mark.parametrize(
    "method",
    ["train", "untrain", "encode_document", "encode_query", "document_sparse_vector",
     "query_sparse_vector"],
)
def test_text_and_binary_data_are_refused_as_token_lists(method, tokens):
    model = trained(["x"], [97, 98, 99])
    before = model.__getstate__()
    with pytest.raises(TypeError, match=rf"^{method}\(\): incompatible function arguments"):
        getattr(model, method)(tokens)
    assert model.__getstate__() == before


def test_document_weights_match_worked_examples(text_model, id_model):
    assert text_model.encode_document(["a", "a", "c"]) == {
        "a": 0.591715976331361,
        "c": 0.42016806722689076,
    }
    assert list(id_model.encode_document([7, 12, 7]).items()) == [
        (7, 0.547945205479452),
        (12, 0.37735849056603776),
    ]


def test_query_weights_match_worked_examples(text_model, id_model):
    assert text_model.encode_query(["a", "d", "a"]) == {
        "a": 0.2082559308114424,
        "d": 0.7917440691885577,
    }
    # 7 and x occur more often than there are documents: their idf is floored at 1e-6.
    assert list(id_model.encode_query([7, 12]).items()) == [
        (7, 1.4426929595229852e-06),
        (12, 0.9999985573070405),
    ]
    assert trained(["x", "x"]).encode_query(["x", "y"]) == {
        "x": 3.476047413834584e-06,
        "y": 0.9999965239525863,
    }


@pytest.mark.parametrize("query", [["x", "y"], [3, 4], ["y", "x", "3", "y"]])
def test_query_tokens_all_below_the_floor_weigh_alike(query):
    model = trained(["x", "x", "x", "y", "y", "y", "y", "3", "3", "3"], [4, 4, 4])
    assert len(set(model.encode_query(query).values())) == 1
    assert sum(model.encode_query(query).values()) == pytest.approx(1.0, abs=1e-15)


@pytest.mark.parametrize("method", ["encode_document", "encode_query"])
@pytest.mark.parametrize(
    "tokens, order",
    [
        (["b", "a", "c"], ["a", "b", "c"]),
        (["b", "a", "B"], ["B", "a", "b"]),
        (["é", "z", "ab", "a", ""], ["", "a", "ab", "z", "é"]),
        ([30, -1, 2], [-1, 2, 30]),
        ([2**63 - 1, -(2**63), 0], [-(2**63), 0, 2**63 - 1]),
    ],
)
def test_result_keys_come_in_ascending_order(text_model, method, tokens, order):
    assert list(getattr(text_model, method)(tokens)) == order


@pytest.mark.parametrize("method", ["encode_document", "encode_query"])
def test_empty_input_encodes_without_training(method):
    assert getattr(BM25(), method)([]) == {}


def test_integer_and_text_tokens_share_entries(id_model):
    as_ids = id_model.encode_query([7, 12])
    as_text = id_model.encode_query(["7", "12"])
    assert list(as_text) == ["12", "7"]
    assert as_text == {str(key): weight for key, weight in as_ids.items()}
    mixed = trained([42], ["42"], ["-42"])
    assert list(mixed.encode_query([42, -42]).values()) == list(
        mixed.encode_query(["42", "-42"]).values()
    )
    assert trained(["042"]).encode_query([42, 1]) == {42: 0.5, 1: 0.5}


def test_repeated_query_tokens_add_nothing(text_model):
    assert text_model.encode_query(["a", "d", "a", "d"]) == text_model.encode_query(["d", "a"])
    assert text_model.encode_query(["b", "b"]) == {"b": 1.0}
    assert trained(["x", "x"]).encode_query(["x"]) == {"x": 1.0}


def test_unseen_query_token_gets_the_frequency_of_one(text_model):
    weights = text_model.encode_query(["a", "zzz"])
    idf_a, idf_unseen = math.log(3 / 2.5), math.log(3 / 1.5)
    assert weights["zzz"] == idf_unseen / (0.0 + idf_a + idf_unseen)


def test_document_of_average_length_weighs_by_k1():
    model = trained(["a", "b"], ["c", "d"])
    assert model.encode_document(["p", "q"]) == {"p": 0.45454545454545453, "q": 0.45454545454545453}
    model.k1(0)
    assert model.encode_document(["p", "p", "q"]) == {"p": 1.0, "q": 1.0}
    model.k1(1.2)
    model.b(0)
    assert model.encode_document(["p"] * 9) == {"p": 9 / (9 + 1.2)}


def test_results_are_new_dicts_with_plain_keys(text_model):
    class Token(str):
        pass

    first = text_model.encode_query([Token("a")])
    assert type(next(iter(first))) is str
    assert first is not text_model.encode_query([Token("a")])
    assert list(text_model.encode_document([True, 3])) == [1, 3]
    assert type(next(iter(text_model.encode_document([True])))) is int


def test_bytes_tokens_share_entries_with_their_utf8_text(text_model):
    model = trained(["é", "é"])
    assert model.encode_query([b"\xc3\xa9", "q"]) == model.encode_query(["é", "q"])
    assert model.encode_document([bytearray(b"\xc3\xa9")]) == model.encode_document(["é"])


@pytest.mark.parametrize(
    "words",
    [["é", "ÿx"], ["中文", "a", "ﬀ"], ["😀", "a😀中", "é"], ["x" * 40 + "中", "中" * 20, "é" * 9]],
)
def test_str_tokens_of_every_width_count_as_their_utf8(words, tmp_path):
    class Token(str):  # result keys made from the tokens' UTF-8, not the caller's objects
        pass

    document = words + ["ascii", b"raw"] + words[::-1]
    as_bytes = [word if isinstance(word, bytes) else word.encode() for word in document]
    text, raw = trained(document), trained(as_bytes)
    text.dump(str(tmp_path / "text.json"))
    raw.dump(str(tmp_path / "raw.json"))
    assert (tmp_path / "text.json").read_bytes() == (tmp_path / "raw.json").read_bytes()
    subclassed = [Token(word) if isinstance(word, str) else word for word in document]
    assert text.encode_document(subclassed) == raw.encode_document(as_bytes)
    assert text.encode_query(subclassed) == raw.encode_query(as_bytes)


def test_result_key_that_is_not_utf8_raises_unicode_error():
    model = BM25()
    model.train([b"\xff"])  # training never decodes
    with pytest.raises(UnicodeDecodeError):
        model.encode_document([b"\xff"])


def test_token_list_changed_during_conversion_is_safe():
    tokens = [1, None, 3]

    class Shrinking:
        def __index__(self):
            tokens.clear()
            gc.collect()
            return 2

    tokens[1] = Shrinking()
    model = BM25()
    model.train(tokens)
    assert tokens == []
    assert list(model.encode_document([1, Shrinking(), 3])) == [1, 2, 3]


def test_counts_that_would_pass_32_bits_are_refused_and_change_nothing():
    model = BM25()
    model.load(
        '{"_doc_token_frequency": {"full": 2147483647}, "_doc_count": 2147483646,'
        ' "_doc_length_average": 1.0, "_b": 0.75, "_k1": 1.2}'
    )
    before = model.encode_query(["full", "new"])
    with pytest.raises(RuntimeError, match="^BM25 token frequency would exceed 2147483647$"):
        model.train(["new", "full"])
    assert model.encode_query(["full", "new"]) == before
    model.train(["new"])
    with pytest.raises(RuntimeError, match="^BM25 document count would exceed 2147483647$"):
        model.train([1])


@pytest.mark.parametrize(
    "document",
    [
        ["a", "b", "a", "new", "full"],
        ["full", "a", "new"],
        ["new", "a", "a", "b", "full", "a"],
        ["a", "new", "new", "full", "newer"],
    ],
)
def test_a_refused_document_takes_back_the_counts_it_had_added(document):
    model = BM25()
    model.load(
        '{"_doc_token_frequency": {"full": 2147483647, "a": 5, "b": -3}, "_doc_count": 3,'
        ' "_doc_length_average": 2.0, "_b": 0.75, "_k1": 1.2}'
    )
    before = pickle.dumps(model)
    with pytest.raises(RuntimeError, match="^BM25 token frequency would exceed 2147483647$"):
        model.train(document)
    assert pickle.dumps(model) == before

