"""What runs without the interpreter lock: other Python threads go on meanwhile."""

import os
import subprocess
import sys
import textwrap
import threading
import time

import pytest

from pytarntext import BM25, Jieba


def test_dump_into_a_pipe_that_a_thread_of_the_same_process_reads():
    # A pipe holds 64 KiB: a dump that wrote holding the lock blocked in write() while the reader,
    # waiting for the lock, never emptied the pipe. A child, so that a deadlock fails the test.
    code = textwrap.dedent("""
        import os, threading
        from pytarntext import BM25

        model = BM25()
        model.train([f"token {i}" for i in range(20_000)])  # a model file of about 390 KB
        read, write = os.pipe()
        received = []

        def drain():
            with os.fdopen(read, "rb") as pipe:
                received.append(pipe.read())

        reader = threading.Thread(target=drain)
        reader.start()
        model.dump(f"/dev/fd/{write}")
        os.close(write)
        reader.join()
        print(len(received[0]))
    """)
    child = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=60)
    assert child.returncode == 0, child.stderr
    assert int(child.stdout) > 380_000


def test_other_threads_run_while_a_segmenter_reads_its_files(jieba_paths):
    constructing = threading.Event()
    done = threading.Event()
    wakeups = []

    def tick():
        while not done.is_set():
            time.sleep(0.001)  # each return from sleep needs the lock
            if constructing.is_set():
                wakeups.append(1)

    ticker = threading.Thread(target=tick)
    ticker.start()
    constructing.set()
    Jieba(**jieba_paths)  # reads the full dictionaries: a second or more
    constructing.clear()
    done.set()
    ticker.join()
    # Holding the lock throughout, it let the ticker wake once or twice at most.
    assert len(wakeups) >= 20


BLOCKED_DUMPS = {
    # Nobody reads the pipe: the dump blocks in write() once it holds 64 KiB.
    "on a full pipe": "read, write = os.pipe()\ntarget = f'/dev/fd/{write}'",
    # Nobody opens the FIFO to read: the dump waits in open(), as Python's open does.
    "for a FIFO's reader": "target = os.path.join(tempfile.mkdtemp(), 'fifo')\nos.mkfifo(target)",
}


@pytest.mark.parametrize("setup", BLOCKED_DUMPS.values(), ids=BLOCKED_DUMPS.keys())
def test_ctrl_c_interrupts_a_blocked_dump(setup):
    # Ctrl-C (SIGINT) must end it with KeyboardInterrupt, as it ends Python's own os.write. A
    # child, so that a dump that retries past the signal fails the test instead of hanging it.
    code = "import os, signal, tempfile, threading\nfrom pytarntext import BM25\n" + setup
    code += textwrap.dedent("""
        model = BM25()
        model.train([f"token {i}" for i in range(20_000)])  # more than a pipe holds
        threading.Timer(0.5, os.kill, (os.getpid(), signal.SIGINT)).start()
        try:
            model.dump(target)
        except KeyboardInterrupt:
            print("interrupted")
    """)
    child = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=60)
    assert child.returncode == 0, child.stderr
    assert child.stdout == "interrupted\n"


def test_a_dump_into_a_fifo_waits_for_its_reader(tmp_path):
    # A reader that comes after the dump began: dump once refused the FIFO at once, where opening
    # it waits.
    fifo = tmp_path / "fifo"
    os.mkfifo(fifo)
    model = BM25()
    model.train(["a", "b"])
    received = []
    reader = threading.Timer(0.3, lambda: received.append(fifo.read_bytes()))
    reader.daemon = True  # so that a failed dump cannot leave it waiting at exit
    reader.start()
    model.dump(str(fifo))
    reader.join(timeout=30)
    restored = BM25()
    restored.load(received[0])
    assert restored.__getstate__() == model.__getstate__()
