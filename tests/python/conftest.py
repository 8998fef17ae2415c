import os
import pathlib
import sys
import threading

import pytest

ROOT = pathlib.Path(__file__).resolve().parents[2]
sys.path.insert(0, str(ROOT / "examples"))
import cppjieba_data  # noqa: E402  (where the dictionaries and the novel are)


@pytest.fixture(scope="session")
def dict_dir():
    directory = cppjieba_data.dictionaries()
    if not (directory / "jieba.dict.utf8").is_file():
        pytest.fail(f"no cppjieba dictionaries under {directory}: build the module first")
    return directory


@pytest.fixture(scope="session")
def jieba_paths(dict_dir):
    return cppjieba_data.jieba_paths()


@pytest.fixture(scope="session")
def jieba(jieba_paths):
    from pytarntext import Jieba

    return Jieba(**jieba_paths)


@pytest.fixture(scope="session")
def novel_lines():
    text = (cppjieba_data.tree() / "test/testdata/weicheng.utf8").read_text(encoding="utf-8")
    return [line for line in text.splitlines() if line.strip()]


NOBODY = 65534


@pytest.fixture
def in_child():
    """Runs a function in a forked child, optionally chrooted and as another user, and returns the
    text it returned or "<exception class>: <message>". The module is imported before the fork: a
    user without access to root's site-packages could not import it."""

    def run(action, user=None, new_root=None):
        read, write = os.pipe()
        pid = os.fork()
        if pid == 0:
            os.close(read)
            text = ""
            try:
                if new_root is not None:
                    os.chroot(new_root)
                    os.chdir("/")
                if user is not None:
                    os.setgroups([])
                    os.setgid(user)
                    os.setuid(user)
                text = str(action())
            except BaseException as error:
                text = f"{type(error).__name__}: {error}"
            finally:
                os.write(write, text.encode())
                os._exit(0)
        os.close(write)
        with os.fdopen(read, "rb") as pipe:
            text = pipe.read().decode()
        _, status = os.waitpid(pid, 0)
        assert status == 0, f"the child ended with status {status:#x}"
        return text

    return run


@pytest.fixture
def run_in_threads():
    """run(work, count): calls work(index) on `count` threads at once and returns what they raised,
    as (index, exception) pairs."""

    def run(work, count):
        errors = []

        def guarded(index):
            try:
                work(index)
            except Exception as error:  # reported to the caller, with the thread's index
                errors.append((index, error))

        threads = [threading.Thread(target=guarded, args=(index,)) for index in range(count)]
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join()
        return errors

    return run

