"""A bad data file makes the constructor raise; it never ends the process.

The segmentation library logs FATAL and aborts (or fails an assert) on each of these files, so every
case runs in a subprocess, which must report a Python exception and exit normally.
"""

import os
import shutil
import subprocess
import sys

import pytest

VALID_DICT = "北京 100 ns\n清华 50 n\n大学 80 n\n"
VALID_IDF = "北京 2.5\n大学 1.5\n"
VALID_STOP = "的\n了\n"

# (file to replace, its content or a marker, the exception class the constructor must raise)
CASES = {
    # main dictionary
    "dict missing": ("dict_path", None, "FileNotFoundError"),
    "dict directory": ("dict_path", "<dir>", "IsADirectoryError"),
    "dict fifo": ("dict_path", "<fifo>", "OSError"),
    "dict empty": ("dict_path", "", "ValueError"),
    "dict two fields": ("dict_path", "北京 100\n", "ValueError"),
    "dict four fields": ("dict_path", "北京 100 ns x\n", "ValueError"),
    "dict double space": ("dict_path", "北京  100 ns\n", "ValueError"),
    "dict blank line": ("dict_path", "北京 100 ns\n\n清华 50 n\n", "ValueError"),
    "dict zero frequency": ("dict_path", "北京 0 ns\n", "ValueError"),
    "dict negative frequency": ("dict_path", "北京 100 ns\n清华 -5 n\n", "ValueError"),
    "dict text frequency": ("dict_path", "北京 many ns\n", "ValueError"),
    "dict nan frequency": ("dict_path", "北京 nan ns\n", "ValueError"),
    "dict undecodable word": ("dict_path", b"\xff\xfe 100 ns\n", "ValueError"),
    "dict nul in path": ("dict_path", "<nul>", "ValueError"),
    # HMM model
    "hmm missing": ("hmm_path", None, "FileNotFoundError"),
    "hmm directory": ("hmm_path", "<dir>", "IsADirectoryError"),
    "hmm empty": ("hmm_path", "", "ValueError"),
    "hmm comments only": ("hmm_path", "# start\n\n#trans\n", "ValueError"),
    "hmm short": ("hmm_path", "<hmm:7>", "ValueError"),
    "hmm start line of three": ("hmm_path", "<hmm-start:-1 -2 -3>", "ValueError"),
    "hmm transition line of five": ("hmm_path", "<hmm-trans:-1 -2 -3 -4 -5>", "ValueError"),
    "hmm emission without colon": ("hmm_path", "<hmm-emit:一-8.1,二:-9>", "ValueError"),
    "hmm emission key of two characters": ("hmm_path", "<hmm-emit:一二:-8.1>", "ValueError"),
    "hmm emission key undecodable": ("hmm_path", "<hmm-emit:\udcff:-8.1>", "ValueError"),
    "hmm emission leading comma": ("hmm_path", "<hmm-emit:,一:-8.1>", "ValueError"),
    # user dictionaries
    "user missing": ("user_dict_path", None, "FileNotFoundError"),
    "user second missing": ("user_dict_path", "<user|missing>", "FileNotFoundError"),
    "user empty name": ("user_dict_path", "<user||user>", "FileNotFoundError"),
    "user directory": ("user_dict_path", "<dir>", "IsADirectoryError"),
    "user four fields": ("user_dict_path", "清华大学 5 n x\n", "ValueError"),
    # ...and lines the library would take silently but never cut the word of
    "user zero frequency": ("user_dict_path", "清华大学 0 n\n", "ValueError"),
    "user negative frequency": ("user_dict_path", "云计算\n清华大学 -2 n\n", "ValueError"),
    "user text frequency": ("user_dict_path", "清华大学 many n\n", "ValueError"),
    "user empty frequency": ("user_dict_path", "清华大学  n\n", "ValueError"),
    "user frequency past 32 bits": ("user_dict_path", "清华大学 2147483648 n\n", "ValueError"),
    "user tabs between fields": ("user_dict_path", "清华大学\t5\tn\n", "ValueError"),
    "user tab after the word": ("user_dict_path", "清华大学\t5 n\n", "ValueError"),
    "user byte-order mark": ("user_dict_path", "\ufeff云计算 5 n\n清华大学\n", "ValueError"),
    "user undecodable word": ("user_dict_path", b"\xff\xfe 3 n\n", "ValueError"),
    "user word in GBK": ("user_dict_path", "云计算\n".encode("gbk"), "ValueError"),
    "user lone surrogate": ("user_dict_path", b"\xed\xa0\x80 3 n\n", "ValueError"),
    # IDF table
    "idf missing": ("idf_path", None, "FileNotFoundError"),
    "idf empty": ("idf_path", "", "ValueError"),
    "idf zero average": ("idf_path", "北京 0\n大学 0\n", "ValueError"),
    "idf negative average": ("idf_path", "北京 2\n大学 -3\n", "ValueError"),
    "idf no usable line": ("idf_path", "北京\n\n大学 1 2\n", "ValueError"),
    # stop words
    "stop missing": ("stop_word_path", None, "FileNotFoundError"),
    "stop empty": ("stop_word_path", "", "ValueError"),
    "stop directory": ("stop_word_path", "<dir>", "IsADirectoryError"),
}


def hmm_model(real, replace_line=None, text=None, keep=None):
    """The real model with one of its nine probability lines replaced, or cut to `keep` lines."""
    lines = real.splitlines()
    probability = [i for i, line in enumerate(lines) if line.strip() and not line.startswith("#")]
    if keep is not None:
        return "\n".join(lines[: probability[keep]]) + "\n"
    lines[probability[replace_line]] = text
    return "\n".join(lines) + "\n"


def materialise(tmp_path, dict_dir, field, content):
    """The path argument for `field` that holds `content`."""
    target = tmp_path / f"{field}.utf8"
    real_hmm = (dict_dir / "hmm_model.utf8").read_text(encoding="utf-8")
    if content is None:
        return str(tmp_path / "missing.utf8")
    if isinstance(content, bytes):
        target.write_bytes(content)
        return str(target)
    if content == "<dir>":
        return str(tmp_path)
    if content == "<fifo>":
        os.mkfifo(target)
        return str(target)
    if content == "<nul>":
        return str(target) + "\0x"
    if content in ("<user|missing>", "<user||user>"):
        user = tmp_path / "user.utf8"
        user.write_text("清华大学\n", encoding="utf-8")
        return content[1:-1].replace("user", str(user)).replace("missing", str(tmp_path / "missing.utf8"))
    if content.startswith("<hmm"):
        kind, _, value = content[1:-1].partition(":")
        if kind == "hmm":
            content = hmm_model(real_hmm, keep=int(value))
        else:
            line = {"hmm-start": 0, "hmm-trans": 2, "hmm-emit": 7}[kind]
            content = hmm_model(real_hmm, line, value)
        target.write_bytes(content.encode("utf-8", "surrogateescape"))
        return str(target)
    target.write_text(content, encoding="utf-8")
    return str(target)


@pytest.mark.parametrize("case", CASES, ids=list(CASES))
def test_bad_data_file_raises_and_the_process_lives(tmp_path, dict_dir, case):
    field, content, expected = CASES[case]
    paths = {
        "dict_path": str(tmp_path / "dict.utf8"),
        "hmm_path": str(dict_dir / "hmm_model.utf8"),
        "user_dict_path": "",
        "idf_path": str(tmp_path / "idf.utf8"),
        "stop_word_path": str(tmp_path / "stop.utf8"),
    }
    (tmp_path / "dict.utf8").write_text(VALID_DICT, encoding="utf-8")
    (tmp_path / "idf.utf8").write_text(VALID_IDF, encoding="utf-8")
    (tmp_path / "stop.utf8").write_text(VALID_STOP, encoding="utf-8")
    paths[field] = materialise(tmp_path, dict_dir, field, content)
    script = (
        "import sys\nfrom pytarntext import Jieba\n"
        "try:\n    Jieba(**{paths!r})\nexcept Exception as error:\n"
        "    print(type(error).__name__, error)\nelse:\n    print('constructed')\n"
    ).format(paths=paths)
    run = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, timeout=60)
    assert run.returncode == 0, f"the process ended: {run.returncode}\n{run.stderr}"
    assert run.stdout.split(" ", 1)[0] == expected, run.stdout
    if expected == "ValueError" and content != "<nul>":
        assert "line" in run.stdout or ": the" in run.stdout  # names where the fault is


def test_the_valid_small_files_construct(tmp_path, dict_dir):
    from pytarntext import Jieba

    for name, text in [("dict", VALID_DICT), ("idf", VALID_IDF), ("stop", VALID_STOP), ("user", "清华大学 3\n")]:
        (tmp_path / f"{name}.utf8").write_text(text, encoding="utf-8")
    jieba = Jieba(
        str(tmp_path / "dict.utf8"),
        str(dict_dir / "hmm_model.utf8"),
        f"{tmp_path / 'user.utf8'};{tmp_path / 'user.utf8'}",
        str(tmp_path / "idf.utf8"),
        str(tmp_path / "stop.utf8"),
    )
    assert jieba.cut("我来到北京清华大学")[-1] == "清华大学"


def test_unreadable_file_raises_permission_error(tmp_path, jieba_paths):
    if os.geteuid() == 0:
        pytest.skip("root reads every file")
    from pytarntext import Jieba

    locked = tmp_path / "locked.utf8"
    locked.write_text("的\n")
    locked.chmod(0)
    with pytest.raises(PermissionError):
        Jieba(**{**jieba_paths, "stop_word_path": str(locked)})


@pytest.mark.skipif(os.geteuid() != 0, reason="chroot needs root")
@pytest.mark.parametrize(
    "root_mode, expected", [(0o755, "constructed"), (0o311, "PermissionError")], ids=["readable root", "unreadable root"]
)
def test_no_user_dictionary_needs_no_device_file(tmp_path, dict_dir, in_child, root_mode, expected):
    """In a root without /dev the segmenter still builds; where what stands for "no user dictionary"
    cannot be opened, the constructor raises instead of letting the library abort."""
    from conftest import NOBODY
    from pytarntext import Jieba

    for name, text in [("dict", VALID_DICT), ("idf", VALID_IDF), ("stop", VALID_STOP)]:
        (tmp_path / f"{name}.utf8").write_text(text, encoding="utf-8")
    shutil.copy(dict_dir / "hmm_model.utf8", tmp_path / "hmm.utf8")
    for path in tmp_path.iterdir():
        path.chmod(0o644)
    tmp_path.chmod(root_mode)

    def construct():
        Jieba("/dict.utf8", "/hmm.utf8", "", "/idf.utf8", "/stop.utf8")
        return "constructed"

    assert in_child(construct, user=NOBODY, new_root=str(tmp_path)).split(":")[0] == expected


def run_script(script, timeout=300):
    run = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, timeout=timeout)
    assert run.returncode == 0, f"the process ended: {run.returncode}\n{run.stderr[-2000:]}"
    return run.stdout


def test_files_rewritten_while_constructing_give_what_was_read(tmp_path, dict_dir):
    """A writer deletes and writes the user dictionary anew, and rewrites the main dictionary in place
    in 1 MB chunks, while Jieba is constructed again and again: each construction builds from what
    it read or raises for it, and the process never aborts (the library read each file a second
    time, and aborted on a half-written one)."""
    main = (dict_dir / "jieba.dict.utf8").read_bytes()
    user, dictionary = tmp_path / "user.utf8", tmp_path / "dict.utf8"
    dictionary.write_bytes(main)
    user.write_text("云计算 5 n\n", encoding="utf-8")
    paths = {
        "dict_path": str(dictionary), "hmm_path": str(dict_dir / "hmm_model.utf8"),
        "user_dict_path": str(user), "idf_path": str(dict_dir / "idf.utf8"),
        "stop_word_path": str(dict_dir / "stop_words.utf8"),
    }
    script = f"""
import os, threading
from pytarntext import Jieba
paths, main, done = {paths!r}, open({str(dictionary)!r}, "rb").read(), threading.Event()

def rewrite():
    while not done.is_set():
        os.unlink(paths["user_dict_path"])
        with open(paths["user_dict_path"], "w", encoding="utf-8") as file:
            file.write("云计算 5 n\\n")
        with open(paths["dict_path"], "r+b") as file:
            for start in range(0, len(main), 1 << 20):
                file.write(main[start:start + (1 << 20)])
                file.flush()

writer = threading.Thread(target=rewrite)
writer.start()
outcomes = []
try:
    for _ in range(12):
        try:
            outcomes.append(Jieba(**paths).cut("云计算和北京")[0])
        except (OSError, ValueError) as error:
            outcomes.append(type(error).__name__)
finally:
    done.set()
    writer.join()
print(outcomes)
"""
    outcomes = eval(run_script(script))
    assert len(outcomes) == 12
    # 云 alone: the user dictionary was read between its creation and its write, empty.
    assert set(outcomes) <= {"云计算", "云", "FileNotFoundError", "ValueError"}, outcomes


def test_a_word_of_a_million_characters_builds_cuts_and_frees(tmp_path, dict_dir):
    """In the main and the user dictionary, on the main thread and on one with a 256 KB stack: the
    library's trie freed its nodes by recursion, once per character, and overflowed the stack."""
    word = "中" * 1_000_000
    (tmp_path / "dict.utf8").write_bytes((dict_dir / "jieba.dict.utf8").read_bytes() + f"{word} 5 n\n".encode())
    (tmp_path / "user.utf8").write_text(f"{word[:-1]}国 3 n\n", encoding="utf-8")
    paths = {
        "dict_path": str(tmp_path / "dict.utf8"), "hmm_path": str(dict_dir / "hmm_model.utf8"),
        "user_dict_path": str(tmp_path / "user.utf8"), "idf_path": str(dict_dir / "idf.utf8"),
        "stop_word_path": str(dict_dir / "stop_words.utf8"),
    }
    script = f"""
import gc, threading
from pytarntext import Jieba
paths, results = {paths!r}, []

def work():
    jieba = Jieba(**paths)
    results.append([len(word) for word in jieba.cut("中" * 1500 + "北京")])
    del jieba
    gc.collect()

work()
threading.stack_size(256 * 1024)
thread = threading.Thread(target=work)
thread.start()
thread.join()
kept = Jieba(**paths)  # freed at interpreter exit
print(results)
"""
    results = eval(run_script(script))
    assert len(results) == 2 and results[0] == results[1]
    assert sum(results[0]) == 1502


def test_idf_lines_the_library_skips_are_still_logged(tmp_path, dict_dir):
    """The IDF table is only checked now, but the library's ERROR lines for what it skips remain."""
    (tmp_path / "idf.utf8").write_text("北京 2.5\n\n大学\n清华 1 2\n", encoding="utf-8")
    paths = {
        "dict_path": str(dict_dir / "jieba.dict.utf8"), "hmm_path": str(dict_dir / "hmm_model.utf8"),
        "user_dict_path": "", "idf_path": str(tmp_path / "idf.utf8"),
        "stop_word_path": str(dict_dir / "stop_words.utf8"),
    }
    run = subprocess.run([sys.executable, "-c", f"from pytarntext import Jieba\nJieba(**{paths!r})"],
                         capture_output=True, text=True, timeout=60, check=True)
    messages = [line.split(" ERROR ", 1)[1] for line in run.stderr.splitlines()]
    assert messages == [
        "lineno: 1 empty. skipped.",
        "line: 大学, lineno: 2 empty. skipped.",
        "line: 清华 1 2, lineno: 3 empty. skipped.",
    ]
