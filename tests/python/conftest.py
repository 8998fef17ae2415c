import os
import pathlib

import pytest

ROOT = pathlib.Path(__file__).resolve().parents[2]


def cppjieba_dir():
    """The cppjieba tree the build used: the user's own, or the one the build fetched."""
    own = os.environ.get("PYTARNTEXT_CPPJIEBA_DIR")
    return pathlib.Path(own) if own else ROOT / ".cache/nodejieba-3.5.8/package/submodules/cppjieba"


@pytest.fixture(scope="session")
def dict_dir():
    directory = cppjieba_dir() / "dict"
    if not (directory / "jieba.dict.utf8").is_file():
        pytest.fail(f"no cppjieba dictionaries under {directory}: build the module first")
    return directory


@pytest.fixture(scope="session")
def jieba_paths(dict_dir):
    return {
        "dict_path": str(dict_dir / "jieba.dict.utf8"),
        "hmm_path": str(dict_dir / "hmm_model.utf8"),
        "user_dict_path": "",
        "idf_path": str(dict_dir / "idf.utf8"),
        "stop_word_path": str(dict_dir / "stop_words.utf8"),
    }


@pytest.fixture(scope="session")
def jieba(jieba_paths):
    from pytarntext import Jieba

    return Jieba(**jieba_paths)


@pytest.fixture(scope="session")
def novel_lines():
    text = (cppjieba_dir() / "test/testdata/weicheng.utf8").read_text(encoding="utf-8")
    return [line for line in text.splitlines() if line.strip()]
