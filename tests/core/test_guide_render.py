"""The guide and the README as a CommonMark viewer shows them: every example in
a closed code fence, every heading a heading; and every exported name shown in
an example of the guide."""
import re
from pathlib import Path

import pytest
from markdown_it import MarkdownIt

import qel_kernel as qk

ROOT = Path(__file__).resolve().parents[2]
GUIDE, README = ROOT / "docs" / "guide.md", ROOT / "README.md"
HEADING = re.compile(r"^ {0,3}#{1,6}(\s|$)")


def fence_lines(text):
    """Index of every line inside (or opening/closing) a backtick fence, by a
    plain scan that, unlike a viewer, does not let an open fence run on."""
    inside, lines, marker = set(), text.split("\n"), None
    for i, line in enumerate(lines):
        stripped = line.lstrip(" ")
        if marker is None and stripped.startswith("```"):
            marker = stripped[: len(stripped) - len(stripped.lstrip("`"))]
            inside.add(i)
        elif marker is not None:
            inside.add(i)
            if stripped.rstrip() == marker or (stripped.startswith(marker) and not stripped.strip("`")):
                marker = None
    return inside


def render_problems(text, fence_infos=None):
    """What goes wrong when a CommonMark viewer renders `text`, one line each."""
    lines = text.split("\n")
    tokens = MarkdownIt("commonmark").parse(text)
    problems, code, headings = [], set(), set()
    for t in tokens:
        if t.type in ("fence", "code_block"):
            code.update(range(*t.map))
        if t.type == "fence":
            last = lines[t.map[1] - 1].strip()
            if t.map[1] - t.map[0] < 2 or not (last.startswith(t.markup) and not last.strip("`~")):
                problems.append(f"line {t.map[0] + 1}: fence never closed")
            # A fence with an info string cannot close one: met inside a fence,
            # it is the next example's opener, and the fence before it lacks
            # its closer (the blocks and headings between are swallowed).
            for k in range(t.map[0] + 1, t.map[1] - 1):
                if re.match(r" {0,3}(```+|~~~+)\s*\S", lines[k]):
                    problems.append(f"line {t.map[0] + 1}: fence never closed before line {k + 1}")
            if fence_infos is not None and t.info.strip() not in fence_infos:
                problems.append(f"line {t.map[0] + 1}: fence info {t.info.strip()!r}")
            body = t.content.split("\n")[:-1]  # the content ends with a newline
            if ">>>" in t.content and body[-1].strip():
                problems.append(f"line {t.map[1]}: no blank line before the closing fence")
        if t.type == "heading_open":
            headings.add(t.map[0])
        if t.type == "blockquote_open":
            problems.append(f"line {t.map[0] + 1}: quote block")
    for i, line in enumerate(lines):
        if line.lstrip().startswith(">>>") and i not in code:
            problems.append(f"line {i + 1}: example outside a code block")
    plain = fence_lines(text)
    for i, line in enumerate(lines):
        if HEADING.match(line) and i not in plain and i not in headings:
            problems.append(f"line {i + 1}: heading not rendered as a heading")
    return problems


@pytest.mark.parametrize("path, infos", [(GUIDE, {"", "python"}), (README, None)], ids=["guide", "readme"])
def test_documents_render(path, infos):
    assert render_problems(path.read_text(encoding="utf-8"), infos) == []


@pytest.mark.parametrize("text, problem", [
    ("# A\n\n```python\n>>> 1\n1\n\n## B\n", "fence never closed"),
    ("# A\n\n```python\n>>> 1\n1\n\n## B\n\n```python\n>>> 2\n2\n\n```\n", "fence never closed before line 9"),
    ("# A\n\n>>> 1\n1\n", "example outside a code block"),
    ("# A\n\n```python\n>>> 1\n1\n```\n", "no blank line before the closing fence"),
    ("# A\n\n```pycon\n>>> 1\n1\n\n```\n", "fence info 'pycon'"),
    ("# A\n\n    >>> 1\n\n```python\n>>> 2\n2\n\n```\n\n## B\n", None),
])
def test_render_problems_are_found(text, problem):
    found = render_problems(text, {"", "python"})
    assert found == [] if problem is None else any(problem in p for p in found), found


def test_every_exported_name_has_an_example():
    tokens = MarkdownIt("commonmark").parse(GUIDE.read_text(encoding="utf-8"))
    examples = "\n".join(
        line for t in tokens if t.type == "fence" for line in t.content.split("\n")
        if line.startswith((">>> ", "... ")))
    missing = [name for name in qk.__all__ if not re.search(rf"\b{re.escape(name)}\b", examples)]
    assert missing == []
