import copy
import json
import os
import pickle
import struct
import subprocess
import sys
import textwrap

import pytest

from pytarntext import BM25, Jieba

from test_jieba import tiny_paths  # noqa: F401 (a fixture)


def run_child(code, *args):
    """Runs `code` in a fresh interpreter: a fault that ends the process fails only this test."""
    child = subprocess.run([sys.executable, "-c", textwrap.dedent(code), *args], capture_output=True, text=True)
    assert child.returncode == 0, child.stderr
    return child.stdout


def test_encoders_pickle_under_every_protocol():
    output = run_child("""
        import pickle
        from pytarntext import BM25

        class Tagged(BM25):
            pass

        class Slotted(BM25):
            __slots__ = ("tag", "__hidden", "unset")

        plain = BM25(float("nan"), -0.0)
        plain.train(["a", "b", "a"]); plain.train([b"\\xff\\x00", b"long key of many bytes"])
        plain.train([7, -(2**63)])
        tagged = Tagged(); tagged.tag = ["kept"]
        slotted = Slotted(); slotted.tag = ["kept"]; slotted._Slotted__hidden = 1
        plain.__reduce__()  # the inherited one would end the process
        for protocol in range(6):
            for model in (plain, tagged, slotted, BM25()):
                restored = pickle.loads(pickle.dumps(model, protocol=protocol))
                assert type(restored) is type(model)
                assert restored.__getstate__() == model.__getstate__(), protocol
                assert getattr(restored, "__dict__", None) == getattr(model, "__dict__", None)
                names = ("tag", "_Slotted__hidden", "unset")
                assert [getattr(restored, n, None) for n in names] == [getattr(model, n, None) for n in names]
            print(protocol)
    """)
    assert output.split() == ["0", "1", "2", "3", "4", "5"]


def test_pickle_keeps_what_the_model_file_rounds():
    model = BM25(0.1 + 0.2, 1 / 3)
    model.train(["a", "b", "c"])
    model.train(["a"] * 3)
    model.train(["d"])  # average 7/3, which the model file writes as 2.333333
    restored = pickle.loads(pickle.dumps(model))
    assert (restored.b(), restored.k1()) == (0.1 + 0.2, 1 / 3)
    assert restored.encode_document(["a", "e"]) == model.encode_document(["a", "e"])
    # The length total came along: training goes on exactly as on the original.
    for encoder in (model, restored):
        encoder.train(["a", "z"])
    assert restored.encode_document(["a", "e"]) == model.encode_document(["a", "e"])


class Tagged(BM25):
    pass


class Slotted(BM25):
    __slots__ = ("tags",)


@pytest.mark.parametrize("cls", [Tagged, Slotted])
@pytest.mark.parametrize("copier", [copy.copy, copy.deepcopy])
def test_copies_are_independent_encoders_of_the_same_class(copier, cls):
    model = cls(0.5)
    model.train(["a", "b"])
    model.tags = ["x"]
    before = model.__getstate__()
    duplicate = copier(model)
    model.train(["a"])
    model.b(0.9)
    assert type(duplicate) is cls
    assert duplicate.__getstate__() == before
    assert getattr(duplicate, "__dict__", None) is None or duplicate.__dict__ is not model.__dict__
    assert duplicate.tags == ["x"]
    assert (duplicate.tags is model.tags) == (copier is copy.copy)


def trained_state(document):
    model = BM25()
    model.train(document)
    return model.__getstate__()


GOOD = trained_state(["a", "b"])
HEADER = 4 + 4 + 3 * 8 + 4 + 8  # up to the entry count


def with_entry_count(state, count):
    return state[:HEADER] + struct.pack("<Q", count) + state[HEADER + 8:]


def entry(key, count):
    return struct.pack("<I", len(key)) + key + struct.pack("<i", count)


@pytest.mark.parametrize(
    "state, error",
    [
        ("state", TypeError),
        (bytearray(GOOD), TypeError),
        (None, TypeError),
        ((GOOD, ["not a dict"]), TypeError),
        ((GOOD, {"attribute": 1}), TypeError),  # BM25 instances take no attributes
        (b"", ValueError),
        (b"JSON" + GOOD[4:], ValueError),
        (GOOD[:4] + struct.pack("<I", 2) + GOOD[8:], ValueError),
        (GOOD + b"\0", ValueError),
        (with_entry_count(GOOD, 2**64 - 1), ValueError),
        (with_entry_count(GOOD, 3), ValueError),
        (with_entry_count(GOOD, 1), ValueError),
        (with_entry_count(GOOD[: HEADER + 8], 2) + entry(b"b", 1) + entry(b"a", 1), ValueError),
        (with_entry_count(GOOD[: HEADER + 8], 2) + entry(b"a", 1) + entry(b"a", 1), ValueError),
        (with_entry_count(GOOD[: HEADER + 8], 1) + struct.pack("<I", 2**32 - 1) + b"a", ValueError),
    ]
    + [(GOOD[:size], ValueError) for size in range(1, len(GOOD), 3)],
)
def test_unpickling_a_wrong_state_raises(state, error):
    with pytest.raises(error):
        BM25.__new__(BM25).__setstate__(state)


@pytest.mark.parametrize(
    "cls, attributes, expected",
    [(BM25, ({},), None), (BM25, ({}, None), None), (Tagged, ({"tags": 1}, None), 1), (Slotted, (None, {"tags": 2}), 2)],
)
def test_states_in_the_shapes_python_objects_use_restore(cls, attributes, expected):
    restored = cls.__new__(cls)
    restored.__setstate__((GOOD, *attributes))
    state = restored.__getstate__()
    assert (state if isinstance(state, bytes) else state[0]) == GOOD
    assert getattr(restored, "tags", None) == expected


def test_equal_encoders_pickle_to_equal_bytes():
    # Different insertion histories, one table layout each: the state is sorted.
    tokens = [f"token{i}" for i in range(100)]
    forward, backward = BM25(), BM25()
    forward.train(tokens)
    backward.train(tokens[::-1])
    assert pickle.dumps(forward) == pickle.dumps(backward)


def test_segmenters_pickle_under_every_protocol(tiny_paths):
    output = run_child("""
        import json, pickle, sys
        from pytarntext import Jieba

        class Tagged(Jieba):
            pass

        paths = json.loads(sys.argv[1])
        plain, tagged = Jieba(**paths), Tagged(**paths)
        tagged.tag = ["kept"]
        plain.__reduce__()
        for protocol in range(6):
            for segmenter in (plain, tagged):
                restored = pickle.loads(pickle.dumps(segmenter, protocol=protocol))
                assert type(restored) is type(segmenter)
                assert restored.__getstate__() == segmenter.__getstate__()
                assert getattr(restored, "__dict__", None) == getattr(segmenter, "__dict__", None)
                assert restored.cut_for_search("甲乙丙丁北京") == segmenter.cut_for_search("甲乙丙丁北京")
            print(protocol)
    """, json.dumps(tiny_paths))
    assert output.split() == ["0", "1", "2", "3", "4", "5"]


def test_unpickling_reads_the_files_again_and_copies_do_not(tiny_paths):
    segmenter = Jieba(**tiny_paths)
    pickled = pickle.dumps(segmenter)
    os.remove(tiny_paths["dict_path"])
    with pytest.raises(FileNotFoundError):
        pickle.loads(pickled)
    with open(tiny_paths["dict_path"], "w", encoding="utf-8") as dictionary:
        dictionary.write("甲乙 one n\n")
    with pytest.raises(ValueError):
        pickle.loads(pickled)
    # The copies share the segmenter that was read before the files changed.
    for duplicate in (copy.copy(segmenter), copy.deepcopy(segmenter)):
        assert duplicate.cut("甲乙丙丁") == ["甲乙丙丁"]


@pytest.mark.parametrize(
    "state, error",
    [
        (None, TypeError),
        ((1, "a", "b", "c", "d"), TypeError),
        (("1", "a", "b", "c", "d", "e"), TypeError),
        ((1, "a", "b", 3, "d", "e"), TypeError),
        ((1, "a", "b", "\ud800", "d", "e"), UnicodeEncodeError),
        ((2, "a", "b", "c", "d", "e"), ValueError),
        # A path is never cut short at a NUL, which would open another file.
        ((1, "a\0b", "b", "c", "d", "e"), ValueError),
        ((1, b"a\0b", "b", "c", "d", "e"), ValueError),
    ],
)
def test_unpickling_a_wrong_segmenter_state_raises(state, error):
    with pytest.raises(error):
        Jieba.__new__(Jieba).__setstate__(state)


def test_an_instance_never_filled_is_refused_not_read():
    # What cls.__new__ makes before __setstate__ (which may fail) has no native object yet.
    output = run_child("""
        from pytarntext import BM25, Jieba

        bare_encoder, bare_segmenter = BM25.__new__(BM25), Jieba.__new__(Jieba)
        calls = [
            lambda: bare_encoder.b(), lambda: bare_encoder.train(["a"]),
            lambda: bare_encoder.encode_query(["a"]), lambda: bare_encoder.dump("/nonexistent/x"),
            lambda: BM25().merge(bare_encoder), lambda: bare_segmenter.cut("a"),
        ]
        for call in calls:
            try:
                call()
            except TypeError:
                print("TypeError")
    """)
    assert output.split() == ["TypeError"] * 6


ODD_COPY = """
    import copy, json, sys
    from pytarntext import BM25, Jieba

    base = {"BM25": BM25, "Jieba": Jieba}[sys.argv[1]]
    case = sys.argv[2]
    arguments = json.loads(sys.argv[3])

    class Other:
        pass

    class Odd(base):
        # What __new__ gives once the instances below exist; before that, a fresh instance.
        returns = None

        def __new__(cls, *args, **kwargs):
            return super().__new__(cls) if Odd.returns is None else Odd.returns()

    model, spare = Odd(**arguments), Odd(**arguments)
    if base is BM25:
        model.train(["a", "b"])
    Odd.returns = {
        "itself": lambda: model,  # a singleton
        "another filled instance": lambda: spare,
        "an object of another class": Other,
        "an instance of a bound base class, fresh": lambda: base.__new__(base),
    }[case]
    for copier in (copy.copy, copy.deepcopy):
        try:
            duplicate = copier(model)
        except TypeError as error:
            print("TypeError:", error)
        else:
            print(type(duplicate).__name__, duplicate.__getstate__() == model.__getstate__())
"""


FILLED = "TypeError: expected a new instance of <class 'pytarntext.{}'>, got one already filled"
ODD_OUTCOMES = {
    "itself": FILLED,
    "another filled instance": FILLED,
    "an object of another class":
        "TypeError: expected a new instance of <class 'pytarntext.{}'>, got <class '__main__.Other'>",
    "an instance of a bound base class, fresh": "{} True",
}


@pytest.mark.parametrize("base", ["BM25", "Jieba"])
@pytest.mark.parametrize("case", ODD_OUTCOMES)
def test_copies_check_what_a_subclass_new_returns_as_unpickling_does(tiny_paths, base, case):
    # The old copy gave whatever __new__ returned the native object: a live instance was filled a
    # second time (its native object leaked, and the process aborted at exit), another object
    # was written into (a segmentation fault).
    arguments = {} if base == "BM25" else tiny_paths
    output = run_child(ODD_COPY, base, case, json.dumps(arguments))
    assert output.splitlines() == [ODD_OUTCOMES[case].format(base)] * 2


@pytest.mark.skipif("libasan" in os.environ.get("LD_PRELOAD", ""),
                    reason="AddressSanitizer holds freed memory back, so resident memory grows")
def test_refused_copies_keep_no_memory():
    # Every refused copy of a model of 100,000 tokens (about 5 MB) once leaked it.
    output = run_child("""
        import copy, os

        from pytarntext import BM25

        def resident_bytes():
            with open("/proc/self/statm") as statm:
                return int(statm.read().split()[1]) * 4096

        class Singleton(BM25):
            one = None

            def __new__(cls, *args):
                if Singleton.one is None:
                    Singleton.one = super().__new__(cls)
                return Singleton.one

        model = Singleton()
        model.train([f"token {i}" for i in range(100_000)])
        before = resident_bytes()
        for _ in range(50):
            try:
                copy.copy(model)
            except TypeError:
                pass
        print(resident_bytes() - before, flush=True)
        os._exit(0)  # the old copies also ended the process at exit
    """)
    assert int(output) < 4 * 2**20
