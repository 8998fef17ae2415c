"""cppjieba's five dictionaries, as the data of a package of their own (cppjieba's LICENSE, MIT, is
beside them), for pytarntext's Jieba:

    from pytarntext import Jieba
    from pytarntext_dictionaries import jieba_paths

    jieba = Jieba(**jieba_paths())

The files are found with importlib.resources, where the package itself was imported from, so they
are found in any install (a venv, --user, --target, --prefix, a system-wide one), a zip archive and
an application bundle alike.
"""

from __future__ import annotations

import atexit
import contextlib
import functools
import importlib.resources
import os
import pathlib
import sys
from typing import ContextManager, Dict

# Jieba's arguments, in its order, and the file of each.
_FILES = {
    "dict_path": "jieba.dict.utf8",
    "hmm_path": "hmm_model.utf8",
    "user_dict_path": "user.dict.utf8",
    "idf_path": "idf.utf8",
    "stop_word_path": "stop_words.utf8",
}

# cppjieba reads paths, so a file inside an archive is copied out to a temporary file, which is
# kept (and a Jieba built on it can be pickled) until the interpreter exits.
_copied_out = contextlib.ExitStack()
atexit.register(_copied_out.close)


def jieba_paths() -> Dict[str, str]:
    """Jieba's five arguments, by name: the paths of the installed dictionaries, real files all.

    Raises FileNotFoundError, naming where it looked, when the package was installed (or bundled)
    without its data files.
    """
    return {argument: _real_file(name) for argument, name in _FILES.items()}


@functools.lru_cache(maxsize=None)
def _real_file(name: str) -> str:
    if not _holds(name):
        raise FileNotFoundError(
            f"cppjieba's dictionary {name} is not in the package {__name__}, which was imported "
            f"from {os.path.dirname(__file__)}: install pytarntext's wheel again (pip install "
            f"--force-reinstall pytarntext), which carries the five files there; in an application "
            f"bundle, collect the package's data too (PyInstaller uses the hook that the package "
            f"ships, else --collect-data {__name__}); or pass Jieba the paths of a cppjieba dict/ "
            f"directory of your own")
    return str(_copied_out.enter_context(_as_file(name)))


if sys.version_info >= (3, 9):

    def _holds(name: str) -> bool:
        return importlib.resources.files(__name__).joinpath(name).is_file()

    def _as_file(name: str) -> ContextManager[pathlib.Path]:
        return importlib.resources.as_file(importlib.resources.files(__name__).joinpath(name))

else:  # 3.8 has neither files() nor as_file(), but the older functions do the same for a file

    def _holds(name: str) -> bool:
        return importlib.resources.is_resource(__name__, name)

    def _as_file(name: str) -> ContextManager[pathlib.Path]:
        return importlib.resources.path(__name__, name)
