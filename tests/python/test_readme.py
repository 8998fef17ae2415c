"""The README's first code block runs as written, against the installed package and the
dictionaries installed with it, and gives the results that its comments show."""

import ast
import pathlib
import subprocess
import sys

README = pathlib.Path(__file__).resolve().parents[2] / "README.md"


def first_python_block():
    text = README.read_text(encoding="utf-8")
    start = text.index("```python\n") + len("```python\n")
    return text[start:text.index("```", start)]


def with_shown_results_checked(code):
    """The code, with an assert after each line whose comment is a Python literal: what it shows."""
    lines = []
    for line in code.splitlines():
        lines.append(line)
        expression, _, comment = line.partition("  # ")
        try:
            shown = ast.literal_eval(comment.strip())
        except (ValueError, SyntaxError):
            continue
        lines.append(f"assert ({expression.strip()}) == {shown!r}, {expression.strip()!r}")
    return "\n".join(lines)


def test_readme_first_block_runs_and_gives_what_it_shows(tmp_path):
    code = with_shown_results_checked(first_python_block())
    assert code.count("\nassert ") >= 2, "the block shows the two cuts' results"
    # A fresh process in an empty directory, as a user would run it; the dump lands there.
    run = subprocess.run([sys.executable, "-c", code], cwd=tmp_path, capture_output=True, text=True)
    assert run.returncode == 0, run.stderr
    assert (tmp_path / "model.json").is_file()
