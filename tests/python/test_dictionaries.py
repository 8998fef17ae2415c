"""pytarntext_dictionaries finds its data files where the package itself was imported from: a
directory or a zip archive (whose files it copies out for the process's lifetime), and names where it
looked when they are missing. Each case runs in a fresh process, with a copy of the installed package
first on its path. tests/install_modes.py runs the README's block in every install mode."""

import os
import pathlib
import shutil
import subprocess
import sys
import zipfile

import pytest

import pytarntext_dictionaries

DATA = ("jieba.dict.utf8", "hmm_model.utf8", "user.dict.utf8", "idf.utf8", "stop_words.utf8", "LICENSE")

CUTS = """
import os, sys
sys.path.insert(0, sys.argv[1])
import pytarntext_dictionaries
from pytarntext import Jieba
assert pytarntext_dictionaries.__file__.startswith(sys.argv[1]), pytarntext_dictionaries.__file__
paths = pytarntext_dictionaries.jieba_paths()
assert all(os.path.isfile(path) for path in paths.values()), paths
assert pytarntext_dictionaries.jieba_paths() == paths, "copied out once"
print(Jieba(**paths).cut("他来到北京研究云计算")[-1])  # a word of the user dictionary alone
"""


def package_copy(tmp_path, zipped, with_data):
    """A copy of the installed package (without the PyInstaller hook), in a directory or a zip;
    returns the entry for sys.path and where the package's files are."""
    source = pathlib.Path(pytarntext_dictionaries.__file__).parent
    directory = tmp_path / "copy"
    shutil.copytree(source, directory / source.name,
                    ignore=shutil.ignore_patterns("__pycache__", "_pyinstaller", *(() if with_data else DATA)))
    if not zipped:
        return directory, directory / source.name
    archive = tmp_path / "dictionaries.zip"
    with zipfile.ZipFile(archive, "w") as zipped_file:
        for path in sorted(directory.rglob("*")):
            zipped_file.write(path, path.relative_to(directory).as_posix())
    shutil.rmtree(directory)
    return archive, archive / source.name


def run(tmp_path, entry):
    temporary = tmp_path / "tmp"
    temporary.mkdir()
    env = {**os.environ, "TMPDIR": str(temporary)}
    done = subprocess.run([sys.executable, "-c", CUTS, str(entry)], capture_output=True, text=True,
                          env=env, cwd=tmp_path)
    return done, sorted(os.listdir(temporary))


@pytest.mark.parametrize("zipped", [False, True], ids=["directory", "zip"])
def test_the_five_paths_are_real_files_wherever_the_package_is(tmp_path, zipped):
    entry, _ = package_copy(tmp_path, zipped, with_data=True)
    done, left = run(tmp_path, entry)
    assert (done.returncode, done.stdout) == (0, "云计算\n"), done.stderr
    assert left == [], "files copied out of an archive are removed at exit"


@pytest.mark.parametrize("zipped", [False, True], ids=["directory", "zip"])
def test_missing_data_names_where_it_looked_and_what_to_do(tmp_path, zipped):
    entry, where = package_copy(tmp_path, zipped, with_data=False)
    done, _ = run(tmp_path, entry)
    assert done.returncode == 1, done.stderr
    message = done.stderr.strip().splitlines()[-1]
    assert message.startswith(
        "FileNotFoundError: cppjieba's dictionary jieba.dict.utf8 is not in the package "
        f"pytarntext_dictionaries, which was imported from {where}: "), message
    for remedy in ("pip install --force-reinstall pytarntext", "--collect-data pytarntext_dictionaries",
                   "pass Jieba the paths of a cppjieba dict/ directory of your own"):
        assert remedy in message


FORKS = """
import os, sys
sys.path.insert(0, sys.argv[1])
import pytarntext_dictionaries
paths = pytarntext_dictionaries.jieba_paths()
if os.fork() == 0:
    child = pytarntext_dictionaries.jieba_paths()  # copies of its own, which its exit removes
    sys.exit(0 if child != paths and all(map(os.path.isfile, child.values())) else 3)
_, status = os.wait()
print(os.waitstatus_to_exitcode(status) if hasattr(os, "waitstatus_to_exitcode") else status >> 8,
      all(os.path.isfile(path) for path in paths.values()))
"""


def test_a_forked_childs_exit_leaves_the_parents_copies(tmp_path):
    entry, _ = package_copy(tmp_path, zipped=True, with_data=True)
    temporary = tmp_path / "tmp"
    temporary.mkdir()
    done = subprocess.run([sys.executable, "-c", FORKS, str(entry)], capture_output=True, text=True,
                          env={**os.environ, "TMPDIR": str(temporary)})
    assert (done.returncode, done.stdout) == (0, "0 True\n"), done.stderr
    assert os.listdir(temporary) == [], "each process removes the copies it made, at its exit"
