"""What the Spark and Qdrant examples share: the cppjieba tree that holds the novel and the
dictionaries, the segmenter with its stop words, the words worth counting, and argparse types."""

import argparse
import pathlib

import cppjieba_data
from pytarntext import Jieba


def load_segmenter(cppjieba):
    """The segmenter and the stop words that ship with cppjieba's data: the dictionaries installed
    with the package, or the tree's where it is another than the build's."""
    named = None if pathlib.Path(cppjieba) == cppjieba_data.tree() else cppjieba
    paths = cppjieba_data.jieba_paths(cppjieba=named)
    jieba = Jieba(**paths)
    stop_words = frozenset(pathlib.Path(paths["stop_word_path"]).read_text(encoding="utf-8").splitlines())
    return jieba, stop_words


def novel_paragraphs(cppjieba):
    """The novel's non-empty paragraphs."""
    text = (pathlib.Path(cppjieba) / "test/testdata/weicheng.utf8").read_text(encoding="utf-8")
    return [line.strip() for line in text.splitlines() if line.strip()]


def keywords(jieba, stop_words, text):
    """The words of a text worth counting and matching: no stop words, no blanks.

    Stop words tell no paragraph from another and would only lengthen every vector.
    """
    return [word for word in jieba.cut_for_search(text) if word not in stop_words and not word.isspace()]


def cppjieba_tree(text):
    """An argparse type: a cppjieba tree holding the dictionaries and the novel the examples read."""
    for needed in ("dict/jieba.dict.utf8", "dict/stop_words.utf8", "test/testdata/weicheng.utf8"):
        if not (pathlib.Path(text) / needed).is_file():
            raise argparse.ArgumentTypeError(f"{text!r} is not a cppjieba tree: it has no {needed}")
    return text


def positive_int(text):
    """An argparse type: an integer of 1 or more, refused with a plain message otherwise."""
    try:
        value = int(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"{text!r} is not an integer") from None
    if value < 1:
        raise argparse.ArgumentTypeError(f"{value} is not a positive integer")
    return value


def add_cppjieba_option(parser):
    """--cppjieba: the tree to read, checked when the arguments are parsed."""
    parser.add_argument("--cppjieba", type=cppjieba_tree, default=str(cppjieba_data.tree()),
                        help="cppjieba tree with dict/ and test/")
