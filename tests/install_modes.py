"""The README's first Python block, as written, against one wheel installed in each way people install
packages, each in a fresh temporary directory: a venv, --user, --target and --prefix (then
PYTHONPATH), system-wide, a venv with --system-site-packages over a base Python that holds it, a zipapp
that carries the dictionaries' package, and a PyInstaller bundle. Then the error where the package's
data files are missing, from a directory and from a zip. CI runs it as a step of its own.

    python3 tests/install_modes.py [--wheel WHEEL] [--without-pyinstaller]

Without --wheel it takes this interpreter's wheel from wheelhouse/ (the release check leaves one
there), else builds one. Nothing is installed into the interpreter that runs it: the installs that
need a Python without a venv (--user, --target, --prefix, system-wide, a venv's base) go into a copy of
it whose site-packages is empty (the standard library linked, not copied).
"""

import argparse
import glob
import os
import pathlib
import shutil
import subprocess
import sys
import sysconfig
import tempfile
import zipapp

ROOT = pathlib.Path(__file__).resolve().parents[1]
sys.path.insert(0, str(ROOT / "tests/python"))
from test_readme import first_python_block, with_shown_results_checked  # noqa: E402

VERSION = f"{sys.version_info[0]}.{sys.version_info[1]}"
TAG = f"cp{sys.version_info[0]}{sys.version_info[1]}"
DATA = ("jieba.dict.utf8", "hmm_model.utf8", "user.dict.utf8", "idf.utf8", "stop_words.utf8", "LICENSE")
# What the error must say: where it looked, and what to install or pass.
MISSING = ("FileNotFoundError: cppjieba's dictionary jieba.dict.utf8 is not in the package "
           "pytarntext_dictionaries, which was imported from {where}",
           "pip install --force-reinstall pytarntext", "--collect-data pytarntext_dictionaries",
           "pass Jieba the paths of a cppjieba dict/ directory of your own")


class Place:
    """One fresh directory of the run, with the tools that every mode uses."""

    def __init__(self, root, wheel, base_python, tools):
        self.root, self.wheel, self.base_python = root, wheel, base_python
        self.tools = tools  # a venv's python with pip, which installs into the others
        self.code = with_shown_results_checked(first_python_block())
        self.runs = 0
        root.mkdir()

    def path(self, name):
        path = self.root / name
        path.mkdir(parents=True)
        return path

    def env(self, **extra):
        """The environment of a run: no PYTHONPATH but the mode's, an empty user base but the mode's,
        and a temporary directory of its own, which must be empty once the run has ended."""
        self.runs += 1
        env = {key: value for key, value in os.environ.items() if not key.startswith("PYTHON")}
        env.update(PYTHONUSERBASE=str(self.path(f"user-base-{self.runs}")),
                   TMPDIR=str(self.path(f"tmp-{self.runs}")))
        env.update(extra)
        return env

    def venv(self, name, pip=False, python=None, system_site_packages=False):
        return make_venv(self.root / name, python or self.base_python, pip, system_site_packages)

    def install(self, python, *options):
        run([str(self.tools), "-m", "pip", "--python", str(python), "install", "--quiet", "--no-index",
             "--no-deps", *options, str(self.wheel)], env=self.env())

    def bare_python(self, name):
        """A copy of the interpreter that is no venv and holds no packages: its executable copied,
        so that it finds its prefix here, and its standard library linked entry by entry."""
        prefix = self.root / name
        stdlib = pathlib.Path(sysconfig.get_path("stdlib"))
        (prefix / "bin").mkdir(parents=True)
        (prefix / f"lib/python{VERSION}/site-packages").mkdir(parents=True)
        for entry in stdlib.iterdir():
            if entry.name != "site-packages":
                (prefix / f"lib/python{VERSION}" / entry.name).symlink_to(entry)
        python = prefix / f"bin/python{VERSION}"
        shutil.copy2(self.base_python, python)
        return python

    def readme_block(self, command, env, name="run"):
        """Runs the block from an empty directory; returns (passed, what it printed)."""
        cwd = self.path(name)
        done = subprocess.run(command, cwd=cwd, env=env, capture_output=True, text=True)
        left = os.listdir(env["TMPDIR"])
        if done.returncode == 0 and left:
            return False, [f"files left in the temporary directory: {left}"]
        if done.returncode == 0 and not (cwd / "model.json").is_file():
            return False, ["no model.json"]
        # The exception's line: the last, but for a bundle's own word that the script failed.
        said = [line for line in done.stderr.splitlines() if line.strip() and not line.startswith("[PYI-")]
        return done.returncode == 0, said[-1:] or ["(no output)"]


def run(command, **options):
    done = subprocess.run([str(part) for part in command], capture_output=True, text=True, **options)
    if done.returncode != 0:
        raise RuntimeError(f"{' '.join(map(str, command))} failed ({done.returncode}):\n{done.stdout}{done.stderr}")
    return done.stdout


def make_venv(where, python, pip=False, system_site_packages=False):
    command = [python, "-m", "venv", where]
    command += [] if pip else ["--without-pip"]
    command += ["--system-site-packages"] if system_site_packages else []
    run(command)
    return where / "bin/python"


def site_paths(prefix):
    """Where an install with --prefix puts pure and platform files, for PYTHONPATH."""
    paths = {sysconfig.get_path(kind, "posix_prefix", {"base": prefix, "platbase": prefix})
             for kind in ("purelib", "platlib")}
    return os.pathsep.join(sorted(paths))


def mode_venv(place):
    python = place.venv("venv")
    place.install(python)
    return place.readme_block([python, "-c", place.code], place.env())


def mode_user(place):
    python = place.bare_python("system")
    env = place.env()
    run([place.tools, "-m", "pip", "--python", python, "install", "--quiet", "--no-index", "--no-deps",
         "--user", place.wheel], env=env)
    return place.readme_block([python, "-c", place.code], env)


def mode_target(place):
    python, target = place.bare_python("system"), place.root / "target"
    place.install(python, "--target", target)
    return place.readme_block([python, "-c", place.code], place.env(PYTHONPATH=str(target)))


def mode_prefix(place):
    python, prefix = place.bare_python("system"), place.root / "prefix"
    place.install(python, "--prefix", prefix)
    return place.readme_block([python, "-c", place.code], place.env(PYTHONPATH=site_paths(prefix)))


def mode_system_wide(place):
    python = place.bare_python("system")
    place.install(python)
    return place.readme_block([python, "-c", place.code], place.env())


def mode_system_site_packages(place):
    base = place.bare_python("system")
    place.install(base)
    python = place.venv("venv", python=base, system_site_packages=True)
    return place.readme_block([python, "-c", place.code], place.env())


def zipapp_of(place, target, with_data):
    """An application archive of the README's block and the dictionaries' package, which leaves the
    target directory (the extension module cannot be imported from a zip, so it stays there)."""
    app = place.path("app")
    (app / "__main__.py").write_text(place.code, encoding="utf-8")
    shutil.move(str(target / "pytarntext_dictionaries"), str(app))
    if not with_data:
        for name in DATA:
            (app / "pytarntext_dictionaries" / name).unlink()
    archive = place.root / "app.pyz"
    zipapp.create_archive(app, archive)
    shutil.rmtree(app)
    return archive


def mode_zipapp(place):
    python, target = place.bare_python("system"), place.root / "target"
    place.install(python, "--target", target)
    archive = zipapp_of(place, target, with_data=True)
    return place.readme_block([python, archive], place.env(PYTHONPATH=str(target)))


def mode_pyinstaller(place):
    python = place.venv("bundler", pip=True)
    run([python, "-m", "pip", "install", "--quiet", "pyinstaller"], env=place.env())
    run([python, "-m", "pip", "install", "--quiet", "--no-index", "--no-deps", place.wheel], env=place.env())
    source = place.path("source") / "app.py"
    source.write_text(place.code, encoding="utf-8")
    work = place.root / "pyinstaller"
    run([python, "-m", "PyInstaller", "--onedir", "--noconfirm", "--log-level", "WARN",
         "--distpath", work / "dist", "--workpath", work / "build", "--specpath", work, source],
        env=place.env())
    return place.readme_block([work / "dist/app/app"], place.env())


def missing_data(place, zipped):
    """The block, where the package came without its data files: the error says where it looked."""
    python, target = place.bare_python("system"), place.root / "target"
    place.install(python, "--target", target)
    if zipped:
        where = zipapp_of(place, target, with_data=False) / "pytarntext_dictionaries"
        command = [python, where.parent]
    else:
        where = target / "pytarntext_dictionaries"
        for name in DATA:
            (where / name).unlink()
        command = [python, "-c", place.code]
    passed, said = place.readme_block(command, place.env(PYTHONPATH=str(target)))
    text = " ".join(said)
    wanted = [part.format(where=where) for part in MISSING]
    if passed or not all(part in text for part in wanted):
        return False, said
    return True, said


MODES = {
    "venv": mode_venv,
    "pip install --user (no venv)": mode_user,
    "pip install --target DIR, PYTHONPATH=DIR": mode_target,
    "pip install --prefix P, PYTHONPATH": mode_prefix,
    "system-wide (into a Python that is no venv)": mode_system_wide,
    "venv --system-site-packages over a base holding it": mode_system_site_packages,
    "zipapp carrying the dictionaries' package": mode_zipapp,
    "PyInstaller bundle (onedir)": mode_pyinstaller,
    "missing data in a directory: the error": lambda place: missing_data(place, zipped=False),
    "missing data in a zip: the error": lambda place: missing_data(place, zipped=True),
}


def wheel_to_use(given, scratch):
    if given:
        return pathlib.Path(given).resolve()
    found = sorted(glob.glob(str(ROOT / f"wheelhouse/pytarntext-*-{TAG}-{TAG}-*.whl")))
    if found:
        return pathlib.Path(found[-1])
    print(f"building a wheel for Python {VERSION} (about a minute and a half)", flush=True)
    builder = make_venv(scratch / "builder", sys.executable, pip=True)
    run([builder, "-m", "pip", "wheel", "--quiet", "--no-deps", "--wheel-dir",
         scratch / "wheel", ROOT])
    return next((scratch / "wheel").glob("pytarntext-*.whl"))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--wheel", help="the wheel to install (for this interpreter)")
    parser.add_argument("--without-pyinstaller", action="store_true", help="skip the bundle")
    arguments = parser.parse_args()
    base_python = os.path.realpath(getattr(sys, "_base_executable", sys.executable))
    failed = []
    with tempfile.TemporaryDirectory(prefix="install-modes-") as scratch:
        scratch = pathlib.Path(scratch)
        wheel = wheel_to_use(arguments.wheel, scratch)
        print(f"Python {VERSION} ({base_python}), {wheel.name}")
        tools = make_venv(scratch / "tools", base_python, pip=True)
        for number, (name, mode) in enumerate(MODES.items()):
            if arguments.without_pyinstaller and mode is mode_pyinstaller:
                continue
            place = Place(scratch / f"mode-{number}", wheel, base_python, tools)
            try:
                passed, said = mode(place)
            except (RuntimeError, OSError) as error:  # a step before the block failed
                passed, said = False, [f"{type(error).__name__}: {error}"]
            print(f"  {'ok    ' if passed else 'FAILED'} {name}" + ("" if passed else ": " + " ".join(said)),
                  flush=True)
            if not passed:
                failed.append(name)
            shutil.rmtree(place.root)
    if failed:
        sys.exit(f"FAIL: {len(failed)} of {len(MODES)} install modes: {', '.join(failed)}")


if __name__ == "__main__":
    main()
