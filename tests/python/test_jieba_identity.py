"""The module's words are pristine cppjieba v5.4.0's, through its own facade (Jieba::Cut and
CutForSearch with the HMM): on two real corpora, random text over every plane, random bytes, and
user dictionaries. The oracle is tests/oracle/jieba_oracle.cpp, built from the fetched headers."""

import os
import pathlib
import sys

import pytest
from hypothesis import HealthCheck, given, settings, strategies as st

from pytarntext import Jieba

ROOT = pathlib.Path(__file__).resolve().parents[2]
sys.path.insert(0, str(ROOT / "tests/oracle"))
import pristine  # noqa: E402
import songci_corpus  # noqa: E402  (examples/, on the path through pristine)
import cppjieba_data  # noqa: E402

METHODS = ["cut", "cut_for_search"]
SEPARATORS = " \t\n，。"


def first_difference(sentences, ours, theirs):
    """None when the lists agree, else the first sentence where they differ, with both words."""
    assert len(ours) == len(theirs)
    for sentence, mine, pristine_words in zip(sentences, ours, theirs):
        if mine != pristine_words:
            return sentence, mine, pristine_words
    return None


def expected_words(words):
    """What the module gives for the oracle's words: each decoded, or UnicodeDecodeError when one
    is not UTF-8 (possible only for bytes input)."""
    try:
        return [word.decode("utf-8") for word in words]
    except UnicodeDecodeError:
        return UnicodeDecodeError


def module_words(method, sentence):
    try:
        return method(sentence)
    except UnicodeDecodeError:
        return UnicodeDecodeError


@pytest.fixture(scope="module")
def oracle(jieba_paths):
    process = pristine.Oracle(**jieba_paths)
    yield process
    process.close()


@pytest.fixture(scope="session")
def songci_lines():
    try:
        return songci_corpus.lines()
    except songci_corpus.Unavailable as error:
        if os.environ.get("CI"):  # CI has npm and the registry: there a missing corpus is a fault
            pytest.fail(f"the second corpus could not be fetched: {error}")
        pytest.skip(f"the second corpus could not be fetched: {error}")


@pytest.fixture(scope="module")
def pristine_words(oracle):
    """The oracle's words of a corpus, asked once for both kinds of input."""
    answers = {}

    def words(corpus, method, lines):
        if (corpus, method) not in answers:
            answers[corpus, method] = [expected_words(w) for w in oracle.many(method, [s.encode() for s in lines])]
        return answers[corpus, method]

    return words


@pytest.mark.parametrize("method", METHODS)
@pytest.mark.parametrize("corpus", ["novel_lines", "songci_lines"])
@pytest.mark.parametrize("as_bytes", [False, True], ids=["str", "bytes"])
def test_corpus_words_are_pristine_words(request, jieba, pristine_words, corpus, method, as_bytes):
    lines = request.getfixturevalue(corpus)
    theirs = pristine_words(corpus, method, lines)
    if as_bytes:  # the same cut after the conversion: every fourth line, to keep the suite quick
        lines, theirs = lines[::4], theirs[::4]
    ours = [getattr(jieba, method)(line.encode() if as_bytes else line) for line in lines]
    assert first_difference(lines, ours, theirs) is None


# Text that reaches every part of the segmenter: dictionary words (the DAG and its routes), runs of
# characters the dictionary does not join (the HMM), separators, and any character of any plane.
DICTIONARY_WORDS = [line.split(" ")[0] for line in
                    (cppjieba_data.dictionaries() / "jieba.dict.utf8").read_text(encoding="utf-8").splitlines()[::97]]
any_character = st.characters(blacklist_categories=("Cs",))  # a lone surrogate is no str for the module
planes = st.integers(0, 16).flatmap(
    lambda plane: st.characters(min_codepoint=plane << 16, max_codepoint=(plane << 16) | 0xFFFF,
                                blacklist_categories=("Cs",)))
pieces = st.one_of(st.sampled_from(DICTIONARY_WORDS), st.sampled_from(SEPARATORS), any_character, planes,
                   st.characters(min_codepoint=0x4E00, max_codepoint=0x9FFF), st.text("ab1.-", max_size=4))
texts = st.lists(pieces, max_size=40).map("".join)
# Bytes: mostly UTF-8, with what is not: stray bytes, truncated sequences, overlong forms, encoded
# surrogates and code points past U+10FFFF, which a decoder may read as a character or refuse.
odd_bytes = st.sampled_from([b"\xff", b"\x80", b"\xc3", b"\xe4\xb8", b"\xc0\xaf", b"\xe0\x80\xaf",
                             b"\xed\xa0\x80", b"\xf4\x90\x80\x80", b"\xf8\x88\x80\x80\x80", b"\x00"])
byte_strings = st.one_of(
    st.binary(max_size=40),
    st.lists(st.one_of(texts.map(str.encode), odd_bytes, st.binary(max_size=3)), max_size=12).map(b"".join),
)
examples = settings(max_examples=300, deadline=None, derandomize=True,
                    suppress_health_check=[HealthCheck.function_scoped_fixture, HealthCheck.too_slow])


@examples
@given(text=texts)
def test_random_text_gives_pristine_words(jieba, oracle, text):
    for method in METHODS:
        theirs = expected_words(oracle.words(method, text.encode()))
        assert getattr(jieba, method)(text) == theirs
        assert getattr(jieba, method)(text.encode()) == theirs


@examples
@given(sentence=byte_strings)
def test_random_bytes_give_pristine_words(jieba, oracle, sentence):
    for method in METHODS:
        assert module_words(getattr(jieba, method), sentence) == expected_words(oracle.words(method, sentence))


# Each a list of user dictionary files. The rules the library applies to a word of the main
# dictionary met again with another weight or tag, to a line repeated, and to files read in turn
# must all come out the same. Few sets, each mixing several rules: every set costs two loads.
USER_DICTIONARIES = {
    "new words, main words reweighed, repeats": [
        "方鸿渐 100 nr\n苏小姐 nr\n赵辛楣\n鲍小姐 3 n\n龘 5 n\n东风夜放花千树 2 i\niPhone手机 n\n"
        "小姐 1 n\n先生 10000000 x\n清华大学 2 nt\n东风 99999 v\n相思 1\n明月 x\n的 1 uj\n不知 500000 d\n"
        "方鸿渐 100 nr\n方鸿渐 3 x\n小姐 90000 n\n赵辛楣 nr\n\n\n来到北 100000000 x\n来到北 1 x\n"
        "华大 1 x\n华大 900000000 x\n"],
    "several files, the same words again": ["方鸿渐 5 nr\n孙柔嘉\n来到北 1 x\n北京清 100000000 x\n",
                                            "方鸿渐 50000 nr\n唐晓芙 nr\n小姐 2 n\n来到北 100000000 x\n",
                                            "孙柔嘉 1 nr\n春风 1 n\n北京清 1 x\n"],
    "the library's own user dictionary": None,
}
USER_SENTENCES = ["方鸿渐和苏小姐、鲍小姐、赵辛楣先生到清华大学", "东风夜放花千树，明月相思不知",
                  "我的iPhone手机 龘龘龘", "孙柔嘉唐晓芙春风小姐的", "我来到北京清华大学"]


@pytest.mark.parametrize("name", USER_DICTIONARIES)
def test_user_dictionaries_give_pristine_words(tmp_path, jieba_paths, dict_dir, novel_lines, name):
    files = USER_DICTIONARIES[name]
    if files is None:
        user = str(dict_dir / "user.dict.utf8")
    else:
        paths = []
        for index, text in enumerate(files):
            paths.append(tmp_path / f"user{index}.utf8")
            paths[-1].write_text(text, encoding="utf-8")
        user = "|".join(map(str, paths[:2])) + "".join(f";{path}" for path in paths[2:])
    arguments = {**jieba_paths, "user_dict_path": user}
    jieba, oracle = Jieba(**arguments), pristine.Oracle(**arguments)
    try:
        sentences = USER_SENTENCES + novel_lines[::4]
        for method in METHODS:
            theirs = [expected_words(words) for words in oracle.many(method, [s.encode() for s in sentences])]
            assert first_difference(sentences, list(map(getattr(jieba, method), sentences)), theirs) is None
    finally:
        oracle.close()
