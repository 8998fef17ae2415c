import errno
import json
import locale
import math
import os
import subprocess
import sys
import tempfile
import textwrap

import pytest

from pytarntext import BM25

EXAMPLE = """{
  "_b" : 0.750000,
  "_doc_count" : 2,
  "_doc_length_average" : 2.500000,
  "_doc_token_frequency" : {
    "a" : 1,
    "b" : 2,
    "c" : 2
  },
  "_k1" : 1.200000
}"""

EMPTY = (
    '{\n  "_b" : 0.750000,\n  "_doc_count" : 0,\n  "_doc_length_average" : 0.000000,\n'
    '  "_doc_token_frequency" : {\n\n  },\n  "_k1" : 1.200000\n}'
)

VALID = '{"_doc_count": 3, "_doc_length_average": 2.0, "_b": 0.5, "_k1": 2.0}'


def example_model():
    model = BM25()
    model.train(["a", "b", "c"])
    model.train(["b", "c"])
    return model


def state(model):
    """What an encoder holds, as far as Python can see."""
    return model.b(), model.k1(), model.encode_document(["a", "b"]), model.encode_query(["a", "b", "c", "z"])


def test_dump_writes_the_example_byte_for_byte(tmp_path):
    example_model().dump(str(tmp_path / "model.json"))
    assert (tmp_path / "model.json").read_bytes() == EXAMPLE.encode()
    BM25().dump(str(tmp_path / "empty.json"))
    assert (tmp_path / "empty.json").read_text() == EMPTY


@pytest.mark.parametrize("transform", [str, str.encode, lambda t: t.replace("\n", "\r\n"), lambda t: t + "  trailing words"])
def test_load_restores_what_dump_wrote(tmp_path, transform):
    original = example_model()
    original.dump(str(tmp_path / "model.json"))
    restored = BM25(0.1, 0.1)
    assert restored.load(transform((tmp_path / "model.json").read_text())) is None
    assert state(restored) == state(original)


def test_dump_replaces_the_whole_file(tmp_path):
    target = tmp_path / "model.json"
    target.write_text("x" * 10_000)
    BM25().dump(str(target))
    assert target.read_text() == EMPTY
    assert os.listdir(tmp_path) == ["model.json"]


@pytest.mark.parametrize(
    "text, error, message",
    [
        ("", RuntimeError, "json data should not be empty"),
        ("   ", RuntimeError, "load doc_count failed"),
        ('{"_doc_token_frequency": {"a": 1.5}}', RuntimeError, "load doc_token_frequency failed"),
        ('{"_doc_count": 2.0}', RuntimeError, "load doc_count failed"),
        ('{"_doc_count": 2, "_doc_length_average": 2}', RuntimeError, "load doc_length_average failed"),
        ('{"_doc_count": 3, "_doc_length_average": 2.0, "_b": 1, "_k1": 1.0}', RuntimeError, "load b failed"),
        ('{"_doc_count": 3, "_doc_length_average": 2.0, "_b": 1.0}', RuntimeError, "load k1 failed"),
        ('{"_doc_count": 2147483648}', IndexError, "stol argument out of range"),
        ('{"_doc_length_average": 1' + "0" * 400 + ".0}", IndexError, "stod argument out of range"),
        ('{"_doc_count": -}', ValueError, "invalid stol argument"),
        ('{"_b": -.}', ValueError, "invalid stod argument"),
    ],
)
def test_failed_load_raises_and_changes_nothing(text, error, message):
    model = example_model()
    before = state(model)
    with pytest.raises(error) as raised:
        model.load(text)
    assert str(raised.value) == message
    assert state(model) == before


CUT_SHORT = "json data is cut short: it ends before its object's closing brace"


# The example's file as dump writes it, and as Python's json.dumps writes it with the counts last
# (non-ASCII tokens as \\u escapes, and a key load ignores): cut short there, a lenient reading once
# took the scalars whole and as many counts as it met.
@pytest.mark.parametrize("text", [
    EXAMPLE,
    json.dumps({"_b": 0.75, "_doc_count": 2, "_doc_length_average": 2.5, "_k1": 1.2,
                "extra": [True, False, None], "_doc_token_frequency": {"a": 1, "b": 2, "中文": 2}}),
], ids=["dump order", "json.dumps, counts last"])
def test_a_model_file_cut_short_anywhere_is_refused_and_changes_nothing(text, capfd):
    text += "\n"  # as an editor leaves it: cutting only that leaves the whole document
    model = BM25(0.5, 2.0)
    model.train(["x", "a"])
    before = model.__getstate__()
    whole = []
    for end in range(1, len(text) + 1):
        try:
            model.load(text[:end])
        except RuntimeError as error:
            assert str(error) == CUT_SHORT, text[:end]
            assert model.__getstate__() == before, text[:end]
            errors = capfd.readouterr().err.splitlines()  # the parser's lines, as before
            assert errors and all(line.startswith(("ERROR: ", "Error: ")) for line in errors)
        else:
            whole.append(end)
            model = BM25(0.5, 2.0)
            model.train(["x", "a"])
    assert whole == [len(text) - 1, len(text)]
    restored, reference = BM25(), BM25()
    restored.load(text[:-1])
    reference.load(text)
    assert restored.__getstate__() == reference.__getstate__()


# A fault that stops the object on a character of the text is not a cut: read as before.
@pytest.mark.parametrize("text, message", [
    ('{"_doc_count": 3 "_b": 0.5}', "load doc_length_average failed"),  # a comma missing
    ('{"_doc_token_frequency": {"a": 1,}, ' + VALID[1:], "load doc_count failed"),
    ("[" + VALID, "load doc_count failed"),  # no object at the top
    (VALID[:-1] + " x", None),  # stopped at the x, every entry read: loads
])
def test_other_syntax_faults_load_as_before(text, message):
    model = BM25()
    if message is None:
        model.load(text)
        assert model.b() == 0.5
    else:
        with pytest.raises(RuntimeError, match=f"^{message}$"):
            model.load(text)


def test_syntax_faults_are_reported_on_standard_error():
    script = "from pytarntext import BM25\ntry:\n    BM25().load('   ')\nexcept RuntimeError as e:\n    print(e)"
    run = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, check=True)
    assert run.stderr == "ERROR: Parse: Unknown starting character '\0'\n"
    assert run.stdout == "load doc_count failed\n"


def test_load_merges_token_counts():
    model = BM25()
    model.train(["kept", "a"])
    model.load('{"_doc_token_frequency": {"a": 5, "b": 1}, ' + VALID[1:])
    assert model.b() == 0.5 and model.k1() == 2.0
    idf = {t: max(math.log(4 / (f + 0.5)), 1e-6) for t, f in {"kept": 1, "a": 5, "b": 1}.items()}
    total = 0.0 + idf["a"] + idf["b"] + idf["kept"]
    assert model.encode_query(["kept", "a", "b"]) == {t: v / total for t, v in sorted(idf.items())}


def test_training_after_load_continues_the_loaded_corpus():
    model = BM25()
    model.load(VALID)  # 3 documents of average length 2
    model.train(["a", "b", "c", "d", "e", "f"])
    # average (6 + 6) / 4 = 3: a 3-token document weighs like one of average length
    assert model.encode_document(["x", "y", "z"]) == {t: 1 / (1 + 2.0) for t in "xyz"}


def test_loaded_zero_count_refuses_to_encode():
    model = BM25()
    model.load('{"_doc_count": 0, "_doc_length_average": 0.0, "_b": 0.75, "_k1": 1.2}')
    with pytest.raises(RuntimeError, match="^BM25 has not been initialized$"):
        model.encode_query(["a"])


@pytest.mark.parametrize(
    "tokens",
    [
        ['q"uote', "back\\slash", "\\u0001", "\\ud83d\\ude00", "\x01", "\t\n\r\b\f", "\\", '"', "", "\x7f", "é", "a/b"],
        [b"\xff", b"\\u0041", b"A", b"\x00", "\x00"],
        [-(2**63), 2**63 - 1, 0, -1],
    ],
)
def test_every_token_survives_dump_and_load(tmp_path, tokens):
    original = BM25()
    original.train(tokens)
    original.train(tokens[:2])
    original.dump(str(tmp_path / "model.json"))
    restored = BM25()
    restored.load((tmp_path / "model.json").read_bytes())
    restored.dump(str(tmp_path / "again.json"))
    assert (tmp_path / "again.json").read_bytes() == (tmp_path / "model.json").read_bytes()
    probe = [t for t in tokens if not isinstance(t, bytes) or t.isascii()]
    assert restored.encode_query(probe) == original.encode_query(probe)


@pytest.mark.parametrize("ensure_ascii", [True, False])
def test_unicode_escaped_keys_load_as_the_tokens_they_name(tmp_path, ensure_ascii):
    counts = {"中国": 2, "😀": 1, "é": 3, "\x01": 1, '"': 1, "\\": 1, "\\u4e2d": 4, "\\ud83d\\ude00": 5}
    document = {"_doc_token_frequency": counts, "_doc_count": 3, "_doc_length_average": 1.5, "_b": 0.75, "_k1": 1.2}
    model = BM25()
    model.load(json.dumps(document, ensure_ascii=ensure_ascii))
    model.dump(str(tmp_path / "model.json"))
    assert json.loads((tmp_path / "model.json").read_text(), strict=False)["_doc_token_frequency"] == counts


def test_a_lone_surrogate_escape_stays_apart_from_an_escaped_backslash(tmp_path):
    model = BM25()
    model.load(json.dumps({"_doc_token_frequency": {"\ud800": 1, "\\ud800": 5}, "_doc_count": 3,
                           "_doc_length_average": 2.0, "_b": 0.75, "_k1": 1.2}))
    model.dump(str(tmp_path / "model.json"))
    text = (tmp_path / "model.json").read_bytes()
    assert b'"\xed\xa0\x80" : 1' in text and b'"\\\\ud800" : 5' in text


@pytest.mark.parametrize("path", ["missing/model.json", "."])
def test_dump_to_an_unusable_path_creates_nothing(tmp_path, path):
    with pytest.raises(RuntimeError, match="^Failed to dump: Unable to open file$"):
        BM25().dump(str(tmp_path / path))
    assert os.listdir(tmp_path) == []


# The fixed text stays; its cause is what open(path, "w") would have raised, for the traceback.
@pytest.mark.parametrize("path, kind, code", [
    ("{tmp}/missing/model.json", FileNotFoundError, errno.ENOENT),
    ("{tmp}/.", IsADirectoryError, errno.EISDIR),
    ("{tmp}/file/model.json", NotADirectoryError, errno.ENOTDIR),
    ("", FileNotFoundError, errno.ENOENT),
    ("{tmp}/nul\0byte", OSError, errno.EINVAL),
    (b"{tmp}/missing/\xff.json", FileNotFoundError, errno.ENOENT),
])
def test_dump_refused_says_why_in_its_cause(tmp_path, path, kind, code):
    (tmp_path / "file").write_text("")
    if isinstance(path, bytes):
        path = path.replace(b"{tmp}", os.fsencode(tmp_path))
    else:
        path = path.replace("{tmp}", str(tmp_path))
    with pytest.raises(RuntimeError, match="^Failed to dump: Unable to open file$") as raised:
        BM25().dump(path)
    cause = raised.value.__cause__
    assert type(cause) is kind and raised.value.__suppress_context__
    assert (cause.errno, cause.strerror, cause.filename) == (code, os.strerror(code), os.fsdecode(path))
    assert sorted(os.listdir(tmp_path)) == ["file"]


@pytest.mark.parametrize("field, arguments", [("_b", (math.inf, 1.2)), ("_k1", (0.75, math.nan))])
def test_dump_refuses_values_json_cannot_hold(tmp_path, field, arguments):
    with pytest.raises(RuntimeError, match=f"^Failed to dump: {field} is not a finite number"):
        BM25(*arguments).dump(str(tmp_path / "model.json"))
    assert os.listdir(tmp_path) == []


def test_failed_write_is_reported_and_keeps_the_previous_file(tmp_path):
    target = tmp_path / "model.json"
    target.write_text("previous model")
    script = textwrap.dedent(
        f"""
        import resource, signal
        from pytarntext import BM25
        model = BM25()
        model.train([f"token{{i}}" for i in range(10_000)])
        signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
        resource.setrlimit(resource.RLIMIT_FSIZE, (4096, 4096))
        try:
            model.dump({str(target)!r})
        except RuntimeError as error:
            print(error)
            cause = error.__cause__
            print(type(cause).__name__, cause.errno, cause.strerror, cause.filename)
        """
    )
    run = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True)
    assert run.returncode == 0, run.stderr
    assert run.stdout == f"Failed to dump: File too large\nOSError 27 File too large {target}\n"
    assert target.read_text() == "previous model"
    assert os.listdir(tmp_path) == ["model.json"]


def test_model_file_ignores_the_process_locale(tmp_path):
    try:
        locale.setlocale(locale.LC_NUMERIC, "de_DE.UTF-8")
    except locale.Error:
        pytest.skip("no de_DE.UTF-8 locale")
    try:
        example_model().dump(str(tmp_path / "model.json"))
        restored = BM25()
        restored.load((tmp_path / "model.json").read_text())
    finally:
        locale.setlocale(locale.LC_NUMERIC, "C")
    assert (tmp_path / "model.json").read_text() == EXAMPLE
    assert state(restored) == state(example_model())


def test_load_and_dump_take_no_keywords(tmp_path):
    with pytest.raises(TypeError):
        BM25().load(text=VALID)
    with pytest.raises(TypeError):
        BM25().dump(path=str(tmp_path / "m.json"))


def frequency_after_load(text):
    """The token counts of an encoder trained on ["kept"] after load(text), or what load raised."""
    model = BM25()
    model.train(["kept"])
    try:
        model.load(text)
    except (RuntimeError, ValueError, IndexError) as error:
        return f"{type(error).__name__}: {error}"
    with tempfile.TemporaryDirectory() as directory:
        model.dump(os.path.join(directory, "model.json"))
        with open(os.path.join(directory, "model.json"), "rb") as written:
            return json.loads(written.read())["_doc_token_frequency"]


# load builds only what it reads (the token counts, the four numbers): what it skips must not change
# what it gives.
@pytest.mark.parametrize("text, expected", [
    ('{"_doc_token_frequency": {"a": 1}, "_doc_token_frequency": {"b": 2}, ' + VALID[1:], {"b": 2, "kept": 1}),
    ('{"_doc_token_frequency": {"a": 1}, "_doc_token_frequency": 5, ' + VALID[1:], {"kept": 1}),
    ('{"_doc_token_frequency": {"a": "x", "a": 3}, ' + VALID[1:], {"a": 3, "kept": 1}),
    ('{"_doc_token_frequency": {"a": 3, "a": []}, ' + VALID[1:], "RuntimeError: load doc_token_frequency failed"),
    ('{"_doc_token_frequency": {"a": 3, "b": {"c": 1}}, ' + VALID[1:], "RuntimeError: load doc_token_frequency failed"),
    ('{"extra": [[], {"_doc_token_frequency": {"z": 1}}], "_doc_token_frequency": {"a\\tb": 2, "\\u4e2d": 1}, '
     + VALID[1:], {"a\tb": 2, "kept": 1, "中": 1}),
    ('[{"_doc_token_frequency": {"a": 1}, ' + VALID[1:] + "]", "RuntimeError: load doc_count failed"),
    ('{"extra": [[1, 2147483648]], ' + VALID[1:], "IndexError: stol argument out of range"),
    ('{"extra": {"deeper": [{"x": -.}]}, ' + VALID[1:], "ValueError: invalid stod argument"),
    ('{"_doc_token_frequency": {"a": 1}, "_b": [0.5], "_doc_count": 3, "_doc_length_average": 2.0}',
     "RuntimeError: load b failed"),
])
def test_load_gives_the_same_results_however_little_it_builds(text, expected):
    assert frequency_after_load(text) == expected


def test_faults_under_keys_load_ignores_are_reported_in_order():
    text = ('{"extra": [1, 2,], "more": {"a": {"b": 1,}, "c": [3, "\\u00g0"]}, '
            '"_doc_token_frequency": {"t": 1, "u": [,]}, "_doc_count": 3}')
    script = f"from pytarntext import BM25\ntry:\n    BM25().load({text!r})\nexcept RuntimeError as e:\n    print(e)"
    run = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, check=True)
    assert run.stderr.splitlines() == [
        "ERROR: Parse: Unknown starting character ']'",
        "ERROR: Parse: Unknown starting character '}'",
        "Error: Object: Expected colon, found '}'",
        "ERROR: String: Expected hex character in unicode escape, found 'g'",
        "ERROR: Array: Expected ',' or ']', found 'u'",
        "ERROR: Object: Expected comma, found 'u'",
    ]
    assert run.stdout == "load doc_count failed\n"


@pytest.mark.skipif("libasan" in os.environ.get("LD_PRELOAD", ""),
                    reason="AddressSanitizer holds freed memory back, so resident memory grows")
@pytest.mark.parametrize("items", ["[],", "[" * 988 + "]" * 988 + ","], ids=["empty arrays", "nests 988 deep"])
def test_values_under_a_key_load_ignores_cost_no_memory(items):
    # Two megabytes of them once took 460 MB (empty arrays) and 670 MB (nests) at the peak.
    text = '{"extra": [' + items * (2_000_000 // len(items)) + "0], " + VALID[1:]
    script = """if True:
        import sys
        from pytarntext import BM25

        def status_kib(field):
            with open("/proc/self/status") as status:
                return next(int(line.split()[1]) for line in status if line.startswith(field + ":"))

        text = sys.stdin.buffer.read()
        before = status_kib("VmRSS")
        BM25().load(text)
        print(status_kib("VmHWM") - before)
    """
    run = subprocess.run([sys.executable, "-c", script], input=text.encode(), capture_output=True, check=True)
    assert int(run.stdout) < 16 * 1024
