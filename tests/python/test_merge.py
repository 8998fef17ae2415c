import pytest
from hypothesis import given, strategies as st

from pytarntext import BM25

from test_properties import documents, trained


def merged_in_tree(models, rng):
    """Merges the models in a random order and grouping, as a tree reduction would."""
    models = list(models)
    while len(models) > 1:
        left = models.pop(rng.randrange(len(models)))
        right = models.pop(rng.randrange(len(models)))
        left.merge(right)
        models.append(left)
    return models[0]


@given(documents, st.integers(1, 5), st.randoms(use_true_random=False))
def test_shards_merged_in_any_order_equal_the_whole_corpus(docs, shard_count, rng):
    shards = [[] for _ in range(shard_count)]
    for document in docs:
        shards[rng.randrange(shard_count)].append(document)
    merged = merged_in_tree([trained(shard, 0.5, 1.5) for shard in shards], rng)
    whole = trained(docs, 0.5, 1.5)
    # The state holds every field exactly: b, k1, count, length total, average, every token count.
    assert merged.__getstate__() == whole.__getstate__()


def test_merge_leaves_the_other_encoder_unchanged_and_may_merge_itself():
    model = trained([["a", "b", "a"], [7]])
    other = trained([["b", "c"]])
    before = other.__getstate__()
    model.merge(other)
    assert other.__getstate__() == before
    assert model.__getstate__() == trained([["a", "b", "a"], [7], ["b", "c"]]).__getstate__()

    model.merge(model)
    twice = [["a", "b", "a"], [7], ["b", "c"]] * 2
    assert model.__getstate__() == trained(twice).__getstate__()


def test_merged_untrained_encoders_stay_untrained():
    model = BM25()
    model.merge(BM25())
    with pytest.raises(RuntimeError, match="BM25 has not been initialized"):
        model.encode_query(["a"])


def loaded(count, frequencies):
    model = BM25()
    entries = ", ".join(f'"{key}": {value}' for key, value in frequencies.items())
    model.load(f'{{"_doc_token_frequency": {{{entries}}}, "_doc_count": {count}, '
               '"_doc_length_average": 1.0, "_b": 0.75, "_k1": 1.2}')
    return model


MAX, MIN = 2**31 - 1, -(2**31)


@pytest.mark.parametrize(
    "model, other, error, message",
    [
        (trained([["a"]], b=0.5), trained([["z"]]), ValueError, "BM25 merge needs equal b and k1"),
        (trained([["a"]], k1=1.0), trained([["z"]]), ValueError, "BM25 merge needs equal b and k1"),
        (loaded(MAX, {"a": 1}), loaded(1, {"z": 1}), RuntimeError, "document count would exceed 2147483647"),
        (loaded(1, {"a": MAX}), loaded(1, {"z": 1, "a": 1}), RuntimeError, "token frequency would exceed 2147483647"),
        (loaded(1, {"a": MIN}), loaded(1, {"z": 1, "a": -1}), RuntimeError,
         "token frequency would fall below -2147483648"),
    ],
)
def test_refused_merge_changes_neither_encoder(model, other, error, message):
    before, other_before = model.__getstate__(), other.__getstate__()
    with pytest.raises(error, match=message):
        model.merge(other)  # "z" is new to the model: a partial merge would have added it
    assert model.__getstate__() == before
    assert other.__getstate__() == other_before


def test_merge_refuses_nan_against_a_number_but_not_the_same_nan():
    nan = float("nan")
    model = BM25(nan)
    model.merge(BM25(nan))
    with pytest.raises(ValueError):
        model.merge(BM25())
