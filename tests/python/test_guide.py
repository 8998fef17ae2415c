"""The guide's Python examples run as printed, and give the values their comments show.

A comment that begins with a Python literal, ending the comment or followed by ":" or ";", shows
the value of the expression on its line; any other comment is prose. The blocks run in order in one
namespace, in a directory where `dict/` holds the test suite's dictionaries.
"""

import ast
import io
import re
import tokenize

import pytest
from conftest import ROOT

from pytarntext import BM25

GUIDE = (ROOT / "docs/guide.md").read_text(encoding="utf-8")


def python_blocks(text):
    return re.findall(r"^```python\n(.*?)^```$", text, flags=re.M | re.S)


def comments(source):
    """Line number to the text of the comment on that line."""
    found = {}
    for token in tokenize.generate_tokens(io.StringIO(source).readline):
        if token.type == tokenize.COMMENT:
            found[token.start[0]] = token.string[1:].strip()
    return found


def shown_value(comment):
    """(True, value) when the comment begins with a literal, else (False, None)."""
    for end in range(len(comment), 0, -1):
        rest = comment[end:].lstrip()
        if rest and rest[0] not in ":;":
            continue
        try:
            return True, ast.literal_eval(comment[:end])
        except (ValueError, SyntaxError, TypeError):
            continue
    return False, None


@pytest.mark.parametrize(
    "comment, shown",
    [
        ("(0.75, 1.2)", (True, (0.75, 1.2))),
        ("{'a': 0.5}: sums to 1", (True, {"a": 0.5})),
        ("['我', '来到']; then more", (True, ["我", "来到"])),
        ("setters: no range check; later encodings use it", (False, None)),
        ("...or integer ids (signed 64-bit); 7 and \"7\" share one entry", (False, None)),
    ],
)
def test_shown_values_are_told_from_prose(comment, shown):
    assert shown_value(comment) == shown


def test_guide_examples_give_the_values_they_show(tmp_path, monkeypatch, dict_dir):
    (tmp_path / "dict").symlink_to(dict_dir)
    monkeypatch.chdir(tmp_path)
    namespace = {}
    checked = []
    blocks = python_blocks(GUIDE)
    assert len(blocks) >= 3
    for block in blocks:
        notes = comments(block)
        for statement in ast.parse(block).body:
            is_shown, expected = shown_value(notes.get(statement.end_lineno, ""))
            source = ast.get_source_segment(block, statement)
            if not is_shown:
                exec(compile(source, "guide", "exec"), namespace)
                continue
            assert isinstance(statement, ast.Expr), f"a value shown for a statement: {source}"
            assert eval(compile(source, "guide", "eval"), namespace) == expected, source
            checked.append(source)
    assert len(checked) >= 8 and any("encode_query" in line for line in checked)


def test_guide_model_file_is_what_dump_writes(tmp_path):
    section = GUIDE[GUIDE.index("## The model file"):]
    documents = re.search(r"trained on (.*?) is:", section).group(1)
    shown = re.search(r"```text\n(.*?)\n```", section, flags=re.S).group(1)
    model = BM25()
    for document in re.findall(r"`(\[.*?\])`", documents):
        model.train(ast.literal_eval(document))
    model.dump(str(tmp_path / "model.json"))
    assert (tmp_path / "model.json").read_text(encoding="utf-8") == shown
