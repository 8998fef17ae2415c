import os
import pathlib
import pickle
import re
import shutil
import subprocess
import sys
import threading
import time

import pytest

from pytarntext import Jieba

SENTENCES = [
    "我来到北京清华大学",
    "小明硕士毕业于中国科学院计算所，后在日本京都大学深造",
    "He said: 'hello world' 123 4.5%",
    "emoji 😀 and 𠀀 and café\tand\nnew lines。",
    " 　 ",
    "，。，。",
    "a",
    # Repeated words of every str width, and long words alike in their first and last bytes.
    "café café 北京北京 😀😀 abcdefghij abcdXXghij abcdefghij 北京北京",
]


def write(path, text):
    path.write_text(text, encoding="utf-8")
    return str(path)


@pytest.fixture
def tiny_paths(tmp_path, dict_dir):
    """A dictionary of a few words over the real HMM model, and small IDF and stop-word files."""
    return {
        "dict_path": write(tmp_path / "dict.utf8", "甲乙丙丁 1000 n\n甲乙 1 n\n丙丁 1 n\n甲乙丙 1 n\n北京 10 ns\n"),
        "hmm_path": str(dict_dir / "hmm_model.utf8"),
        "user_dict_path": "",
        "idf_path": write(tmp_path / "idf.utf8", "甲乙 2.5\n北京 1.5\n"),
        "stop_word_path": write(tmp_path / "stop.utf8", "的\n"),
    }


@pytest.mark.parametrize("method", ["cut", "cut_for_search"])
def test_empty_sentence_gives_no_words(jieba, method):
    assert getattr(jieba, method)("") == []


@pytest.mark.parametrize("sentence", SENTENCES)
def test_cut_words_join_back_into_the_sentence(jieba, sentence):
    words = jieba.cut(sentence)
    assert "".join(words) == sentence
    for word in words:  # each built as the interpreter would build it: same value, same hash
        decoded = word.encode().decode()
        assert type(word) is str and word and word == decoded and hash(word) == hash(decoded)


@pytest.mark.parametrize("method", ["cut", "cut_for_search"])
@pytest.mark.parametrize("separator", [" ", "\t", "\n", "，", "。"])
def test_separators_are_words_of_their_own(jieba, method, separator):
    words = getattr(jieba, method)(f"我们{separator}的{separator}{separator}北京")
    assert words.count(separator) == 3
    assert "的" in words  # a stop word is a word like any other


def test_search_mode_adds_dictionary_subwords_before_each_long_word(jieba):
    assert jieba.cut("我来到北京清华大学") == ["我", "来到", "北京", "清华大学"]
    assert jieba.cut_for_search("我来到北京清华大学") == ["我", "来到", "北京", "清华", "华大", "大学", "清华大学"]
    short = "我来到北京"
    assert jieba.cut_for_search(short) == jieba.cut(short)


def test_search_mode_subword_windows_in_order(tiny_paths):
    jieba = Jieba(**tiny_paths)
    assert jieba.cut("甲乙丙丁") == ["甲乙丙丁"]
    assert jieba.cut_for_search("甲乙丙丁") == ["甲乙", "丙丁", "甲乙丙", "甲乙丙丁"]


@pytest.mark.parametrize("joiner", ["|", ";"])
def test_user_dictionaries_join_with_bar_or_semicolon(tmp_path, tiny_paths, joiner):
    sentence = "戊己庚辛壬癸子丑"
    assert Jieba(**tiny_paths).cut(sentence) != ["戊己庚辛", "壬癸子丑"]
    first = write(tmp_path / "user1.utf8", "戊己庚辛\n")
    second = write(tmp_path / "user2.utf8", "壬癸子丑 5 n\n\n")
    with_users = Jieba(**{**tiny_paths, "user_dict_path": first + joiner + second})
    assert with_users.cut(sentence) == ["戊己庚辛", "壬癸子丑"]


@pytest.mark.parametrize("line", ["戊己庚辛 2.5 n", "戊己庚辛 3\tn", "戊己庚辛 \t3 n", "戊己庚辛 3 n\r"])
def test_user_lines_read_loosely_still_add_their_word(tmp_path, tiny_paths, line):
    """The library reads a frequency's leading integer, after any tab, and keeps a tab or a carriage
    return after the first space in the field it stands in: such lines are accepted and used."""
    user = write(tmp_path / "user.utf8", line + "\n")
    assert Jieba(**{**tiny_paths, "user_dict_path": user}).cut("戊己庚辛") == ["戊己庚辛"]


def test_refused_user_line_is_named_by_file_and_line(tmp_path, tiny_paths):
    user = write(tmp_path / "user.utf8", "戊己庚辛 3 n\n\n壬癸 0 n\n")
    with pytest.raises(ValueError, match=f"^{re.escape(user)}, line 3: the frequency is not a positive integer$"):
        Jieba(**{**tiny_paths, "user_dict_path": user})


def test_empty_user_dictionary_path_adds_no_word(jieba_paths, dict_dir, tmp_path):
    # The library's own default user dictionary must not sneak in for an empty path.
    default_words = [line.split()[0] for line in (dict_dir / "user.dict.utf8").read_text().splitlines() if line]
    with_defaults = Jieba(**{**jieba_paths, "user_dict_path": str(dict_dir / "user.dict.utf8")})
    without = Jieba(**jieba_paths)
    differs = [word for word in default_words if without.cut(word) != with_defaults.cut(word)]
    assert differs, "the default user dictionary should change some cut"


def test_keyword_arguments_and_required_arguments(jieba_paths, jieba):
    assert Jieba(**jieba_paths).cut(sentence="北京") == ["北京"]
    assert jieba.cut_for_search(sentence="北京") == ["北京"]
    partial = dict(jieba_paths)
    del partial["stop_word_path"]
    with pytest.raises(TypeError):
        Jieba(**partial)
    with pytest.raises(TypeError):
        jieba.cut(text="北京")
    with pytest.raises(TypeError):
        jieba.cut(42)
    with pytest.raises(TypeError):
        jieba.cut("\ud800")


def test_bytes_sentences(jieba):
    sentence = "我来到北京清华大学"
    assert jieba.cut(sentence.encode()) == jieba.cut(sentence)
    assert jieba.cut_for_search(bytearray(sentence.encode())) == jieba.cut_for_search(sentence)
    with pytest.raises(UnicodeDecodeError):
        jieba.cut(b"ab\xc3\x28")  # the library takes \xc3\x28 as one character
    with pytest.raises(UnicodeDecodeError):  # after some words' str objects are made
        jieba.cut("北京 北京 ab ".encode() + b"\xc3\x28")


def test_undecodable_bytes_give_no_words_and_one_error_line(jieba_paths):
    script = f"from pytarntext import Jieba\nprint(Jieba(**{jieba_paths!r}).cut(b'\\xff\\xfeabc'))"
    run = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, check=True)
    assert run.stdout == "[]\n"
    assert len(run.stderr.splitlines()) == 1 and " ERROR " in run.stderr


def test_threads_sharing_one_segmenter_get_the_single_thread_words(jieba, novel_lines, run_in_threads):
    lines = novel_lines[:40]
    expected = [(jieba.cut(line), jieba.cut_for_search(line)) for line in lines]
    results = {}

    def work(index):
        order = lines if index % 2 else lines[::-1]
        for line in order:
            results.setdefault(index, {})[line] = (jieba.cut(line), jieba.cut_for_search(line))

    assert run_in_threads(work, 6) == []
    for index in range(6):
        assert [results[index][line] for line in lines] == expected


def test_other_threads_run_while_a_long_sentence_is_segmented(jieba, novel_lines):
    sentence = "".join(novel_lines) * 3
    ticks, done = [0], threading.Event()

    def count():
        while not done.is_set():
            ticks[0] += 1
            time.sleep(0.001)

    counter = threading.Thread(target=count)
    counter.start()
    start = time.perf_counter()
    jieba.cut(sentence)
    ticks_during, elapsed = ticks[0], time.perf_counter() - start
    done.set()
    counter.join()
    assert elapsed > 0.05, "the sentence should take a while to segment"
    assert ticks_during >= 10


def test_the_interpreter_exits_cleanly_with_threads_in_the_middle_of_a_cut(jieba_paths, novel_lines):
    # Daemon threads are ended when they take the lock back after the interpreter has begun to exit.
    text = "".join(novel_lines[:60])
    script = f"""
import os, sys, threading, time
from pytarntext import Jieba
jieba = Jieba(**{jieba_paths!r})
text = {text!r}
codes = []
for attempt in range(8):
    pid = os.fork()
    if pid == 0:
        def work():
            while True:
                jieba.cut(text)
        for _ in range(3):
            threading.Thread(target=work, daemon=True).start()
        time.sleep(0.02 + 0.01 * attempt)
        sys.exit(0)
    codes.append(os.waitpid(pid, 0)[1])  # the wait status: 0 is exit code 0
print(codes)
"""
    run = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True)
    assert (run.returncode, run.stdout) == (0, "[0, 0, 0, 0, 0, 0, 0, 0]\n"), run.stderr


def test_paths_may_be_path_objects_or_undecodable_names(tmp_path, jieba_paths, jieba):
    folder = os.fsencode(tmp_path) + b"/\xff"
    os.mkdir(folder)
    paths = {}
    for key, path in jieba_paths.items():
        if path:
            paths[key] = folder + b"/" + os.path.basename(path).encode()
            shutil.copy(path, paths[key])
    as_path = {key: pathlib.Path(os.fsdecode(path)) for key, path in paths.items()}
    segmenter = Jieba(user_dict_path="", **as_path)
    assert segmenter.cut("我来到北京清华大学") == jieba.cut("我来到北京清华大学")
    assert pickle.loads(pickle.dumps(segmenter)).__getstate__()[1] == paths["dict_path"]
