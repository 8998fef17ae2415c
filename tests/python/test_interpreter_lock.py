"""What runs without the interpreter lock: other Python threads go on meanwhile."""

import subprocess
import sys
import textwrap
import threading
import time

from pytarntext import Jieba


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


def test_ctrl_c_interrupts_a_dump_blocked_on_a_full_pipe():
    # Nobody reads the pipe, so the dump blocks in write() for good; Ctrl-C (SIGINT) must end it
    # with KeyboardInterrupt, as it ends Python's own os.write. A child, so that a dump that
    # retries past the signal fails the test instead of hanging it.
    code = textwrap.dedent("""
        import os, signal, threading
        from pytarntext import BM25

        model = BM25()
        model.train([f"token {i}" for i in range(20_000)])  # more than a pipe holds
        read, write = os.pipe()
        threading.Timer(0.5, os.kill, (os.getpid(), signal.SIGINT)).start()
        try:
            model.dump(f"/dev/fd/{write}")
        except KeyboardInterrupt:
            print("interrupted")
    """)
    child = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=60)
    assert child.returncode == 0, child.stderr
    assert child.stdout == "interrupted\n"
