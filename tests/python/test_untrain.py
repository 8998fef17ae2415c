import pickle

import pytest
from hypothesis import given, strategies as st

from pytarntext import BM25

from test_pickling import run_child
from test_properties import documents, trained

NEVER_HELD = "^BM25 cannot untrain a document it never held: "


def as_held(data, document):
    """The document as untrain may be given it: its tokens in any order, integers maybe as text."""
    tokens = data.draw(st.permutations(document))
    if all(type(t) is int for t in tokens) and data.draw(st.booleans()):
        tokens = [str(t) for t in tokens]
    return tokens


@given(documents, st.data())
def test_any_interleaving_of_trains_and_untrains_equals_training_what_remains(docs, data):
    model, held = BM25(0.5, 1.5), []
    for document in docs:
        model.train(document)
        held.append(document)
        while held and data.draw(st.booleans()):
            gone = held.pop(data.draw(st.integers(0, len(held) - 1)))
            model.untrain(as_held(data, gone))
    # The state holds every field exactly: b, k1, count, length total, average, every token count.
    assert model.__getstate__() == trained(held, 0.5, 1.5).__getstate__()


@given(documents, documents, st.data())
def test_merge_and_untrain_commute(left, right, data):
    gone = data.draw(st.sampled_from(right))
    merged_first = trained(left)
    merged_first.merge(trained(right))
    merged_first.untrain(gone)
    untrained_first = trained(right)
    untrained_first.untrain(gone)
    merged = trained(left)
    merged.merge(untrained_first)
    rest = list(right)
    rest.remove(gone)
    assert merged_first.__getstate__() == merged.__getstate__() == trained(left + rest).__getstate__()


@pytest.mark.parametrize("before", [[], [["a", "b", "a"]], [["a"], [7, -3], ["a-token-long-enough-for-the-arena"]]])
@pytest.mark.parametrize("document", [["a", "b"], [7, 7, 12], ["a-token-long-enough-for-the-arena", "a"], ["\x00", ""]])
def test_train_then_untrain_gives_back_the_same_pickle_and_model_file(tmp_path, before, document):
    model = trained(before)
    model.dump(str(tmp_path / "before.json"))
    pickled = pickle.dumps(model)
    model.train(document)
    model.untrain(list(reversed(document)))
    model.dump(str(tmp_path / "after.json"))
    assert pickle.dumps(model) == pickled
    assert (tmp_path / "after.json").read_bytes() == (tmp_path / "before.json").read_bytes()


def test_untraining_the_last_document_leaves_an_untrained_encoder():
    model = trained([["a", "b"]])
    model.untrain(["b", "a"])
    assert model.__getstate__() == BM25().__getstate__()
    assert model.encode_query([]) == {}
    with pytest.raises(RuntimeError, match="^BM25 has not been initialized$"):
        model.encode_query(["a"])


def loaded(count, average, frequencies):
    model = BM25()
    entries = ", ".join(f'"{key}": {value}' for key, value in frequencies.items())
    model.load(f'{{"_doc_token_frequency": {{{entries}}}, "_doc_count": {count}, '
               f'"_doc_length_average": {average:.6f}, "_b": 0.75, "_k1": 1.2}}')
    return model


def test_untrain_after_load_continues_the_loaded_corpus():
    model = loaded(3, 2.0, {"a": 4, "b": 2})  # a length total of 6
    model.untrain(["a", "b"])
    assert model.__getstate__() == loaded(2, 2.0, {"a": 3, "b": 1}).__getstate__()


@pytest.mark.parametrize(
    "model, document, error, message",
    [
        (lambda: trained([["a", "b", "a"], ["b", "c"]]), ["a", "z"], ValueError, NEVER_HELD + "a token has no count$"),
        (lambda: trained([["a", "b", "a"], ["b", "c"]]), [1], ValueError, NEVER_HELD + "a token has no count$"),
        (lambda: trained([["a", "b", "a"], ["b", "c"]]), ["b", "c", "c"], ValueError,
         NEVER_HELD + "a token occurs more often than its count$"),
        (lambda: trained([[7, 7, -3]]), [7, 7, 7], ValueError, NEVER_HELD + "a token occurs more often than its count$"),
        (lambda: BM25(), ["a"], ValueError, NEVER_HELD + "it holds no document$"),
        (lambda: loaded(-1, 1.0, {"a": 1}), ["a"], ValueError, NEVER_HELD + "it holds no document$"),
        (lambda: loaded(2, 0.5, {"a": 1, "b": 1}), ["a", "b"], ValueError,
         NEVER_HELD + "the length total is less than the document's length$"),
        (lambda: loaded(2, 1.0, {"a": 0}), ["a"], ValueError, NEVER_HELD + "a token occurs more often than its count$"),
        (lambda: loaded(2, 1.0, {"a": -3}), ["a"], ValueError, NEVER_HELD + "a token occurs more often than its count$"),
        # As train refuses it.
        (lambda: trained([["a"]]), [], RuntimeError, "^trainning tokens_vec should not be empty$"),
    ],
)
def test_refused_untrain_changes_nothing(tmp_path, model, document, error, message):
    model = model()
    before = model.__getstate__()
    model.dump(str(tmp_path / "before.json"))
    with pytest.raises(error, match=message):
        model.untrain(document)  # "a" or "b" is held: a partial untrain would have changed it
    assert model.__getstate__() == before
    model.dump(str(tmp_path / "after.json"))
    assert (tmp_path / "after.json").read_bytes() == (tmp_path / "before.json").read_bytes()


@pytest.mark.parametrize("document", ["ab", ["a", 1], [1.5], [2**63], None])
def test_untrain_takes_the_token_lists_train_takes(document):
    model = trained([["a", "b"], [1]])
    with pytest.raises(TypeError, match=r"^untrain\(\): incompatible"):
        model.untrain(document)
    assert model.__getstate__() == trained([["a", "b"], [1]]).__getstate__()


def test_new_methods_keep_plain_signatures():
    assert "1. untrain(self: pytarntext.BM25, arg0: list[str]) -> None" in BM25.untrain.__doc__
    assert "2. untrain(self: pytarntext.BM25, arg0: list[int]) -> None" in BM25.untrain.__doc__
    signature = "(self: pytarntext.BM25, tokens: list[str], /, unsigned: bool = False) -> tuple[list[int], list[float]]"
    assert "1. query_sparse_vector" + signature in BM25.query_sparse_vector.__doc__
    assert "1. document_sparse_vector" + signature in BM25.document_sparse_vector.__doc__


def test_an_instance_never_filled_is_refused_by_the_new_methods():
    output = run_child("""
        from pytarntext import BM25

        bare = BM25.__new__(BM25)
        for call in (lambda: bare.untrain(["a"]), lambda: bare.document_sparse_vector(["a"]),
                     lambda: bare.query_sparse_vector([1], unsigned=True)):
            try:
                call()
            except TypeError:
                print("TypeError")
    """)
    assert output.split() == ["TypeError"] * 3
