"""Every call works where no module can be imported any more (after os.chroot, or once the standard
library cannot be read): what a call needs is imported when the module is. dump once imported
threading on every call, and the pickling methods copyreg and copy."""

import os
import subprocess
import sys
import textwrap

import pytest

import pytarntext

# Runs with -S, so that nothing but what the script imports is loaded (site may import threading).
CALLS = """
    import copy, encodings.latin_1, os, pickle, sys  # latin1: what pickle itself needs for bytes
    {before}
    from pytarntext import BM25

    class Slotted(BM25):
        __slots__ = ("__private", "public")

    model = Slotted()
    model.train(["a", "b"])
    model.public = 1
    {cut_off}
    model.dump(sys.argv[1])
    copied = copy.deepcopy(model), copy.copy(model)
    pickled = [pickle.loads(pickle.dumps(model, protocol)) for protocol in range(2, 6)]
    reduced = model.__reduce_ex__(2), model.__reduce__(), model.__getstate__()
    print(all(c.__getstate__() == model.__getstate__() for c in (*copied, *pickled)),
          reduced[2] == reduced[1][2])
"""


def run_calls(path, before="", cut_off=""):
    script = textwrap.dedent(CALLS).format(before=before, cut_off=cut_off)
    env = dict(os.environ, PYTHONPATH=os.path.dirname(pytarntext.__file__))
    return subprocess.run([sys.executable, "-S", "-c", script, path], capture_output=True,
                          text=True, env=env, timeout=60)


def test_calls_import_nothing_once_no_module_can_be_imported(tmp_path):
    # No module found any more, as after a chroot: the import system is asked afresh for each.
    cut_off = """
    class NoModules:
        def find_spec(self, name, path=None, target=None):
            raise ModuleNotFoundError(f"No module named {name!r}", name=name)

    sys.meta_path.insert(0, NoModules())
    for name in ("threading", "copy", "copyreg"):
        sys.modules.pop(name, None)
    """
    run = run_calls(str(tmp_path / "model.json"), cut_off=textwrap.dedent(cut_off).strip())
    assert run.returncode == 0, run.stderr
    assert run.stdout == "True True\n"
    assert (tmp_path / "model.json").read_text().startswith('{\n  "_b" : 0.750000,')


@pytest.mark.skipif(os.geteuid() != 0, reason="os.chroot needs root")
def test_calls_work_after_chroot_into_an_empty_directory(tmp_path):
    root = tmp_path / "root"
    root.mkdir()
    run = run_calls(str(root) + "/model.json", before='assert "threading" not in sys.modules',
                    cut_off='os.chroot(os.path.dirname(sys.argv[1])); os.chdir("/"); '
                            'sys.argv[1] = "/model.json"')
    if "PermissionError" in run.stderr:
        pytest.skip(f"os.chroot is not permitted here: {run.stderr.strip().splitlines()[-1]}")
    assert run.returncode == 0, run.stderr
    assert run.stdout == "True True\n"
    assert os.listdir(root) == ["model.json"]
