"""Where cppjieba's data is, for the examples, tests and benchmarks: the five dictionaries that the
package installs (else those of the cppjieba tree that a checkout's build used), and that tree,
whose test data holds the novel."""

import os
import pathlib
import sysconfig

ROOT = pathlib.Path(__file__).resolve().parents[1]


def tree():
    """The cppjieba tree of the build: PYTARNTEXT_CPPJIEBA_DIR, or the one it fetched into .cache/."""
    own = os.environ.get("PYTARNTEXT_CPPJIEBA_DIR")
    return pathlib.Path(own) if own else ROOT / ".cache/nodejieba-3.5.8/package/submodules/cppjieba"


def dictionaries():
    """The directory of the five dictionaries: the tree's, when PYTARNTEXT_CPPJIEBA_DIR names one;
    else those installed with the package, in the data directory of the environment (a venv's, or
    the system's) or of the user (pip install --user); else the checkout's."""
    if not os.environ.get("PYTARNTEXT_CPPJIEBA_DIR"):
        for data in (sysconfig.get_path("data"), sysconfig.get_path("data", f"{os.name}_user")):
            installed = pathlib.Path(data, "share/pytarntext/cppjieba")
            if (installed / "jieba.dict.utf8").is_file():
                return installed
    return tree() / "dict"


def jieba_paths(user_dict=False):
    """Jieba's five arguments, by name; the user dictionary empty unless asked for."""
    d = dictionaries()
    return {
        "dict_path": str(d / "jieba.dict.utf8"),
        "hmm_path": str(d / "hmm_model.utf8"),
        "user_dict_path": str(d / "user.dict.utf8") if user_dict else "",
        "idf_path": str(d / "idf.utf8"),
        "stop_word_path": str(d / "stop_words.utf8"),
    }
