"""dump on every kind of path a user can give: it succeeds wherever opening the path for writing
would, refuses exactly where that would fail, and never leaves a temporary file behind."""

import errno
import os
import pathlib
import resource
import shutil
import signal
import stat
import subprocess
import sys
import tempfile
import textwrap

import pytest

from conftest import NOBODY
from pytarntext import BM25

UNABLE = "RuntimeError: Failed to dump: Unable to open file"
ROOT, OTHER = 0, 12345
as_root = pytest.mark.skipif(os.geteuid() != 0, reason="needs root to act as other users")


def model():
    encoder = BM25()
    encoder.train(["a", "b"])
    return encoder


@pytest.fixture(scope="module")
def expected(tmp_path_factory):
    """The text model() dumps to an ordinary new file."""
    path = tmp_path_factory.mktemp("example") / "model.json"
    model().dump(str(path))
    return path.read_text()


def dump(path):
    try:
        model().dump(path)
    except RuntimeError as error:
        return f"RuntimeError: {error}"
    return "ok"


@pytest.fixture
def shared_dir():
    """A directory that another user can reach: /tmp, not root's private pytest directory."""
    parent = tempfile.mkdtemp(prefix="pytarntext-")
    os.chmod(parent, 0o755)
    yield parent
    shutil.rmtree(parent)


# directory owner and mode, the file's owner and mode (None: no file), who dumps, what happens, and
# the file's owner, group and mode after it (None: as before)
ROUTES = {
    "read-only directory, writable file: written in place": (ROOT, 0o755, ROOT, 0o666, NOBODY, "in place", None),
    "sticky directory, another user's file: written in place": (ROOT, 0o1777, OTHER, 0o666, NOBODY, "in place", None),
    "own private file: replaced, mode kept": (NOBODY, 0o700, NOBODY, 0o600, NOBODY, "replaced", None),
    "root over a user's file: owner, group and mode kept": (ROOT, 0o755, NOBODY, 0o640, ROOT, "replaced", None),
    "another user's file: replaced, its group's access not passed on": (
        ROOT, 0o777, OTHER, 0o672, NOBODY, "replaced", (NOBODY, NOBODY, 0o622)),
    "read-only file: refused": (ROOT, 0o1777, ROOT, 0o644, NOBODY, "refused", None),
    "read-only directory, new file: refused": (ROOT, 0o755, None, None, NOBODY, "refused", None),
    "sticky directory, new file: created": (ROOT, 0o1777, None, None, NOBODY, "created", (NOBODY, NOBODY, 0o644)),
}


def lay_out(shared_dir, dir_owner, dir_mode, file_owner, file_mode):
    """A directory and, unless file_owner is None, a previous model file in it; returns its path."""
    directory = os.path.join(shared_dir, "d")
    os.mkdir(directory)
    os.chown(directory, dir_owner, dir_owner)
    os.chmod(directory, dir_mode)
    target = os.path.join(directory, "model.json")
    if file_owner is not None:
        with open(target, "w") as previous:
            previous.write("previous")
        os.chown(target, file_owner, file_owner)
        os.chmod(target, file_mode)
    return target


@as_root
@pytest.mark.parametrize("case", ROUTES, ids=list(ROUTES))
def test_dump_succeeds_where_a_plain_write_would(shared_dir, in_child, expected, case):
    dir_owner, dir_mode, file_owner, file_mode, dumper, outcome, attributes = ROUTES[case]
    target = lay_out(shared_dir, dir_owner, dir_mode, file_owner, file_mode)
    directory = os.path.dirname(target)
    before = os.stat(target) if file_owner is not None else None

    def act():
        os.umask(0o022)
        return dump(target)

    result = in_child(act, user=None if dumper == ROOT else dumper)
    assert result == (UNABLE if outcome == "refused" else "ok")
    if outcome == "refused":
        assert os.listdir(directory) == ([] if before is None else ["model.json"])
        if before is not None:
            assert open(target).read() == "previous"
        return
    assert os.listdir(directory) == ["model.json"]
    assert open(target).read() == expected
    after = os.stat(target)
    if attributes is None:
        attributes = (before.st_uid, before.st_gid, stat.S_IMODE(before.st_mode))
    assert (after.st_uid, after.st_gid, stat.S_IMODE(after.st_mode)) == attributes
    if before is not None:
        assert (after.st_ino == before.st_ino) == (outcome == "in place")


@as_root
@pytest.mark.parametrize("file_owner", [None, ROOT], ids=["new file", "read-only file"])
def test_a_refusal_for_want_of_permission_says_so_in_its_cause(shared_dir, in_child, file_owner):
    # A read-only directory for a new file, a read-only file in a sticky one: what open would say.
    target = lay_out(shared_dir, ROOT, 0o755 if file_owner is None else 0o1777, file_owner, 0o644)

    def act():
        try:
            model().dump(target)
        except RuntimeError as error:
            cause = error.__cause__
            return f"{error} from {type(cause).__name__} {cause.errno} {cause.filename == target}"
        return "ok"

    assert in_child(act, user=NOBODY) == (
        f"Failed to dump: Unable to open file from PermissionError {errno.EACCES} True")


@as_root
def test_a_failed_write_in_place_is_reported(shared_dir, in_child):
    target = lay_out(shared_dir, ROOT, 0o755, ROOT, 0o666)

    def act():
        signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
        resource.setrlimit(resource.RLIMIT_FSIZE, (16, 16))
        return dump(target)

    assert in_child(act, user=NOBODY) == "RuntimeError: Failed to dump: File too large"
    assert os.listdir(os.path.dirname(target)) == ["model.json"]


@pytest.mark.parametrize("length", [200, 255])
@pytest.mark.parametrize("existing", [False, True])
def test_every_name_the_filesystem_takes_can_be_dumped(tmp_path, expected, length, existing):
    target = tmp_path / ("n" * length)
    if existing:
        target.write_text("previous")
    assert dump(str(target)) == "ok"
    assert target.read_text() == expected
    assert os.listdir(tmp_path) == [target.name]


def test_empty_path_is_refused_and_creates_nothing(tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)
    assert dump("") == UNABLE
    assert os.listdir(tmp_path) == []


def chain(tmp_path, hops, end):
    """`hops` links, each naming the next by a relative path, the last naming `end`."""
    for hop in range(hops):
        os.symlink(f"link{hop + 1}" if hop + 1 < hops else end, tmp_path / f"link{hop}")
    return tmp_path / "link0"


def through_subdirectory(tmp_path):
    (tmp_path / "sub").mkdir()
    (tmp_path / "sub/inner").symlink_to("../model.json")  # relative to the link's own directory
    return chain(tmp_path, 1, "sub/inner")


# how the links are laid out, and whether the file they name is written (else refused)
LINKS = {
    "dangling link: creates the file it names": (lambda p: chain(p, 1, "model.json"), True),
    "relative links through a subdirectory": (through_subdirectory, True),
    "forty links, as many as the kernel follows": (lambda p: chain(p, 40, "model.json"), True),
    "forty-one links": (lambda p: chain(p, 41, "model.json"), False),
    "a loop": (lambda p: chain(p, 3, "link0"), False),
    "into a missing directory": (lambda p: chain(p, 1, "missing/model.json"), False),
}


@pytest.mark.parametrize("case", LINKS, ids=list(LINKS))
def test_links_are_followed_to_the_file_they_name(tmp_path, expected, case):
    build, written = LINKS[case]
    path = build(tmp_path)
    links = {p: os.readlink(p) for p in tmp_path.rglob("*") if p.is_symlink()}
    assert dump(str(path)) == ("ok" if written else UNABLE)
    assert {p: os.readlink(p) for p in tmp_path.rglob("*") if p.is_symlink()} == links
    regular = [p.name for p in tmp_path.rglob("*") if not p.is_symlink() and p.is_file()]
    assert regular == (["model.json"] if written else [])
    if written:
        assert (tmp_path / "model.json").read_text() == expected


def test_descriptor_links_write_the_open_file(tmp_path, expected):
    read, write = os.pipe()
    with os.fdopen(read, "rb") as pipe, os.fdopen(write, "wb") as sink:
        assert dump(f"/proc/self/fd/{sink.fileno()}") == "ok"
        sink.close()
        assert pipe.read().decode() == expected
    with open(tmp_path / "held.json", "w") as held:
        held.write("previous, longer than the model" * 10)
        held.flush()
        assert dump(f"/dev/fd/{held.fileno()}") == "ok"
        assert os.fstat(held.fileno()).st_ino == os.stat(tmp_path / "held.json").st_ino
    assert (tmp_path / "held.json").read_text() == expected


# A name that is not UTF-8, in each form Python's own file functions accept it.
@pytest.mark.parametrize(
    "as_argument", [os.fsencode, os.fsdecode, lambda name: pathlib.Path(os.fsdecode(name))]
)
def test_paths_in_every_form_open_accepts_name_the_same_file(tmp_path, expected, as_argument):
    name = os.fsencode(tmp_path) + b"/\xff model.json"
    assert dump(as_argument(name)) == "ok"
    assert open(name).read() == expected


FULL_DISK = """
    import errno, os, sys
    from pytarntext import BM25

    directory = sys.argv[1]
    target = os.path.join(directory, "model.json")
    small, large = BM25(), BM25()
    small.train([f"old token {i}" for i in range(2_000)])    # about 60 KB
    large.train([f"new token {i}" for i in range(20_000)])  # about 600 KB
    small.dump(target)
    old = open(target, "rb").read()
    # The third and last inode; every block but 100 KB.
    with open(os.path.join(directory, "filler"), "wb") as filler:
        try:
            while True:
                filler.write(b"\\0" * 65536)
                filler.flush()
        except OSError as error:
            assert error.errno == errno.ENOSPC
        filler.truncate(max(0, filler.tell() - 100_000))
    try:
        open(os.path.join(directory, "new"), "w")
    except OSError as error:
        assert error.errno == errno.ENOSPC  # no file can be made: dump writes in place
    inode = os.stat(target).st_ino
    try:
        large.dump(target)
    except RuntimeError as error:
        print(error)
        cause = error.__cause__
        print(type(cause).__name__, cause.errno == errno.ENOSPC, cause.filename == target)
    print("old file whole" if open(target, "rb").read() == old else "old file damaged")
    os.truncate(os.path.join(directory, "filler"), 0)  # room enough, still no inode
    large.dump(target)
    restored = BM25()
    restored.load(open(target, "rb").read())
    print("written in place" if os.stat(target).st_ino == inode else "replaced",
          restored.__getstate__() == large.__getstate__())
"""


def run_on_small_tmpfs(tmp_path, script, options):
    # A tmpfs of its own (mount options `options`), in a mount namespace of its own; the script
    # gets its directory as its argument. Returns its output lines.
    if shutil.which("unshare") is None:
        pytest.skip("no unshare(1) to make a private mount namespace")
    # Inside a chroot whose root is no mount point, unshare cannot make the new namespace private.
    probe = subprocess.run(["unshare", "-m", "true"], capture_output=True, text=True, timeout=60)
    if probe.returncode != 0:
        pytest.skip(f"no private mount namespace here: {probe.stderr.strip()}")
    script_file = tmp_path / "on_tmpfs.py"
    script_file.write_text(textwrap.dedent(script))
    mount_point = tmp_path / "disk"
    mount_point.mkdir()
    child = subprocess.run(
        ["unshare", "-m", "sh", "-c",
         f'mount -t tmpfs -o {options} tmpfs "$1" || exit 77; exec "$2" "$3" "$1"', "sh",
         str(mount_point), sys.executable, str(script_file)],
        capture_output=True, text=True, timeout=120)
    if child.returncode == 77:
        pytest.skip(f"mounting a tmpfs is not permitted here: {child.stderr.strip()}")
    assert child.returncode == 0, child.stderr
    return child.stdout.splitlines()


def test_a_disk_too_full_for_the_new_model_keeps_the_old_one_whole(tmp_path):
    # No inode left for a new file, and less free space than the new model needs. The in-place
    # route once truncated the old file first, then ran out of space, leaving a prefix that does
    # not parse.
    assert run_on_small_tmpfs(tmp_path, FULL_DISK, "size=2m,nr_inodes=3") == [
        "Failed to dump: No space left on device", "OSError True True", "old file whole",
        "written in place True"]


NO_ROOM_FOR_A_COPY = """
    import errno, os, sys
    from pytarntext import BM25

    directory = sys.argv[1]
    target = os.path.join(directory, "model.json")
    old, new = BM25(), BM25()
    old.train([f"old token {i}" for i in range(20_000)])  # about 600 KB
    new.train([f"new token {i}" for i in range(2_000)])   # about 60 KB
    old.dump(target)
    inode = os.stat(target).st_ino
    # Inodes to spare, but not a block: a new file can be made, not filled.
    with open(os.path.join(directory, "filler"), "wb", buffering=0) as filler:
        try:
            while True:
                filler.write(b"\\0" * 4096)
        except OSError as error:
            assert error.errno == errno.ENOSPC
    before = open(target, "rb").read()
    try:
        new.dump(target)
    except RuntimeError as error:
        print(error)
        cause = error.__cause__
        print(type(cause).__name__, cause.errno == errno.ENOSPC, cause.filename == target)
    print("old file whole" if open(target, "rb").read() == before else "old file damaged",
          os.stat(target).st_ino == inode, sorted(os.listdir(directory)))
"""


def test_a_disk_without_room_for_a_copy_fails_with_the_old_model_whole(tmp_path):
    # The copy is what keeps the old file whole: without room for it the dump fails, rather than
    # write over the old file in place, and leaves nothing beside it.
    assert run_on_small_tmpfs(tmp_path, NO_ROOM_FOR_A_COPY, "size=2m") == [
        "Failed to dump: No space left on device", "OSError True True",
        "old file whole True ['filler', 'model.json']"]
