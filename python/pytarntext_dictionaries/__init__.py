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
import functools
import importlib.resources
import os
import sys
import tempfile
import threading
from typing import Dict, List

# Jieba's arguments, in its order, and the file of each.
_FILES = {
    "dict_path": "jieba.dict.utf8",
    "hmm_path": "hmm_model.utf8",
    "user_dict_path": "user.dict.utf8",
    "idf_path": "idf.utf8",
    "stop_word_path": "stop_words.utf8",
}

# cppjieba reads paths, so a file inside an archive is copied out to a temporary file, which is
# kept (and a Jieba built on it can be pickled) until the process exits. Only the process that
# copied them removes them: a forked child inherits the exit hook, and its exit must not take the
# files its parent still reads; a child that asks for the paths makes copies of its own. One lock,
# so that threads share one copy of each.
_copies: List[str] = []
_copied_by = os.getpid()
_copying = threading.Lock()


@atexit.register
def _remove_copies() -> None:
    if os.getpid() != _copied_by:
        return
    for path in _copies:
        try:
            os.remove(path)
        except OSError:
            pass


def _forget_parents_copies() -> None:
    global _copies, _copied_by, _copying
    _copies, _copied_by = [], os.getpid()
    _copying = threading.Lock()  # another thread of the parent may have held it at the fork
    _real_file.cache_clear()


def jieba_paths() -> Dict[str, str]:
    """Jieba's five arguments, by name: the paths of the installed dictionaries, real files all.

    Raises FileNotFoundError, naming where it looked, when the package was installed (or bundled)
    without its data files.
    """
    with _copying:
        return {argument: _real_file(name) for argument, name in _FILES.items()}


@functools.lru_cache(maxsize=None)
def _real_file(name: str) -> str:
    beside = os.path.join(os.path.dirname(__file__), name)
    if os.path.isfile(beside):  # an install in a directory: the file itself
        return beside
    try:
        data = _read(name)
    except (KeyError, OSError):  # 3.9's zipfile.Path raises KeyError for a name it lacks
        raise FileNotFoundError(
            f"cppjieba's dictionary {name} is not in the package {__name__}, which was imported "
            f"from {os.path.dirname(__file__)}: install pytarntext's wheel again (pip install "
            f"--force-reinstall pytarntext), which carries the five files there; in an application "
            f"bundle, collect the package's data too (PyInstaller uses the hook that the package "
            f"ships, else --collect-data {__name__}); or pass Jieba the paths of a cppjieba dict/ "
            f"directory of your own") from None
    descriptor, path = tempfile.mkstemp(suffix=name)
    _copies.append(path)
    with os.fdopen(descriptor, "wb") as copy:
        copy.write(data)
    return path


if hasattr(os, "register_at_fork"):
    os.register_at_fork(after_in_child=_forget_parents_copies)


if sys.version_info >= (3, 9):

    def _read(name: str) -> bytes:
        return importlib.resources.files(__name__).joinpath(name).read_bytes()

else:  # 3.8 has no files(), but the older function does the same for a file

    def _read(name: str) -> bytes:
        return importlib.resources.read_binary(__name__, name)
