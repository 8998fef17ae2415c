import pathlib
import sys

import pytest

ROOT = pathlib.Path(__file__).resolve().parents[2]
sys.path.insert(0, str(ROOT / "examples"))  # the tests run the examples' own functions


@pytest.fixture(scope="session")
def cppjieba():
    """The cppjieba tree the build used: the user's own, or the one the build fetched."""
    import cppjieba_data

    tree = cppjieba_data.tree()
    if not (tree / "dict/jieba.dict.utf8").is_file():
        pytest.fail(f"no cppjieba data under {tree}: build the module first")
    return tree
