"""Where cppjieba's data is, for the examples, tests and benchmarks: the five dictionaries that the
package installs (found as the README finds them, with pytarntext_dictionaries), else those of the
cppjieba tree that a checkout's build used; and that tree, whose test data holds the novel."""

import os
import pathlib

ROOT = pathlib.Path(__file__).resolve().parents[1]
NAMES = {
    "dict_path": "jieba.dict.utf8",
    "hmm_path": "hmm_model.utf8",
    "user_dict_path": "user.dict.utf8",
    "idf_path": "idf.utf8",
    "stop_word_path": "stop_words.utf8",
}


def tree():
    """The cppjieba tree of the build: PYTARNTEXT_CPPJIEBA_DIR, or the one it fetched into .cache/."""
    own = os.environ.get("PYTARNTEXT_CPPJIEBA_DIR")
    return pathlib.Path(own) if own else ROOT / ".cache/nodejieba-3.5.8/package/submodules/cppjieba"


def jieba_paths(user_dict=False, cppjieba=None):
    """Jieba's five arguments, by name, the user dictionary empty unless asked for: the dict/ of the
    cppjieba tree given, or of PYTARNTEXT_CPPJIEBA_DIR's; else the installed package's; else, in a
    checkout where no wheel is installed, the tree's that the build fetched."""
    paths = None
    if cppjieba is None and not os.environ.get("PYTARNTEXT_CPPJIEBA_DIR"):
        try:
            from pytarntext_dictionaries import jieba_paths as installed
        except ImportError:  # no wheel installed: a checkout's own build
            pass
        else:
            paths = installed()
    if paths is None:
        d = pathlib.Path(cppjieba or tree()) / "dict"
        paths = {argument: str(d / name) for argument, name in NAMES.items()}
    return {**paths, "user_dict_path": paths["user_dict_path"] if user_dict else ""}


def dictionaries():
    """The directory of the five files, for code that reads them by name (where they are files of
    their own there, not copies out of an archive)."""
    return pathlib.Path(jieba_paths(user_dict=True)["dict_path"]).parent
