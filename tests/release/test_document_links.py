"""The documents link to what exists: every relative link in the README,
CONTRIBUTING.md and the pages of docs/ names a file of the tree, and every
#anchor a heading of its target, by the rules GitHub gives headings their
anchors (lower case, spaces to '-', other punctuation than '-' and '_'
dropped, '-1', '-2' … after a repeated heading)."""
import re
from urllib.parse import unquote

import pytest

from conftest import REPO

DOCUMENTS = [REPO / "README.md", REPO / "CONTRIBUTING.md", *sorted((REPO / "docs").glob("*.md"))]

FENCE = re.compile(r"^ {0,3}(`{3,}|~{3,})(.*)$")
CODE_SPAN = re.compile(r"(`+)(.+?)\1")
INLINE_LINK = re.compile(r"\[((?:[^\[\]]|\[[^\[\]]*\])*)\]\(\s*<?([^()\s<>]*)>?(?:\s+\"[^\"]*\")?\s*\)")
REFERENCE_DEFINITION = re.compile(r"^ {0,3}\[[^\]]+\]:\s*<?([^\s>]+)>?")
HEADING = re.compile(r"^ {0,3}#{1,6}(?:\s+(.*?))?(?:\s+#+)?\s*$")
HTML_TAG = re.compile(r"<[^>]*>")
SCHEME = re.compile(r"^[A-Za-z][A-Za-z0-9+.-]*:")


def prose_lines(text):
    """The lines outside fenced code blocks."""
    fence = None
    for line in text.splitlines():
        match = FENCE.match(line)
        if fence:
            if match and match.group(1)[0] == fence[0] and len(match.group(1)) >= len(fence) \
                    and not match.group(2).strip():
                fence = None
        elif match:
            fence = match.group(1)
        else:
            yield line


def without_code_spans(line):
    return CODE_SPAN.sub("", line)


def link_targets(text):
    """The targets of the inline links and link definitions outside code."""
    for line in prose_lines(text):
        line = without_code_spans(line)
        yield from (match.group(2) for match in INLINE_LINK.finditer(line))
        definition = REFERENCE_DEFINITION.match(line)
        if definition:
            yield definition.group(1)


def heading_anchors(text):
    """The anchors GitHub gives the headings of a Markdown text."""
    anchors, seen = set(), {}
    for line in prose_lines(text):
        heading = HEADING.match(line)
        if not heading:
            continue
        words = CODE_SPAN.sub(lambda span: span.group(2), heading.group(1) or "")
        words = INLINE_LINK.sub(lambda link: link.group(1), words)
        words = HTML_TAG.sub("", words)
        slug = re.sub(r"[^\w\- ]", "", words.strip().lower()).replace(" ", "-")
        count = seen.get(slug, 0)
        seen[slug] = count + 1
        anchors.add(slug if count == 0 else f"{slug}-{count}")
    return anchors


def relative_links(document):
    """(target path, anchor or None) of each relative link of a document."""
    for target in link_targets(document.read_text(encoding="utf-8")):
        if not target or SCHEME.match(target):
            continue
        path, _, anchor = target.partition("#")
        resolved = (document.parent / unquote(path)).resolve() if path else document
        yield target, resolved, (unquote(anchor) if "#" in target else None)


def name(document):
    return document.relative_to(REPO).as_posix()


def test_anchors_follow_githubs_rules():
    text = "\n".join([
        "# The launcher's protocol",
        "## Signing (`scripts/sign.sh`)",
        "## Windows Installer (MSI) sample (`samples/msi/`)",
        '## The README\'s "On Windows" points',
        "### Exit codes",
        "### Exit codes",
        "## A [linked](other.md#x) heading_with_underscores ##",
        "```sh",
        "# a comment, not a heading",
        "```",
        "#not-a-heading",
    ])
    assert heading_anchors(text) == {
        "the-launchers-protocol",
        "signing-scriptssignsh",
        "windows-installer-msi-sample-samplesmsi",
        "the-readmes-on-windows-points",
        "exit-codes",
        "exit-codes-1",
        "a-linked-heading_with_underscores",
    }


@pytest.mark.parametrize("document", DOCUMENTS, ids=name)
def test_relative_links_name_existing_files(document):
    missing = [target for target, path, _ in relative_links(document) if not path.exists()]
    assert missing == [], f"{name(document)} links to files that do not exist"


@pytest.mark.parametrize("document", DOCUMENTS, ids=name)
def test_anchors_name_headings_of_their_target(document):
    unmatched = [target for target, path, anchor in relative_links(document)
                 if anchor is not None and path.suffix == ".md" and path.is_file()
                 and anchor not in heading_anchors(path.read_text(encoding="utf-8"))]
    assert unmatched == [], f"{name(document)} links to headings that do not exist"


def test_every_page_of_docs_is_reached_from_the_readme():
    reached, to_visit = set(), [(REPO / "README.md").resolve()]
    while to_visit:
        document = to_visit.pop()
        if document in reached or document.suffix != ".md" or not document.is_file():
            continue
        reached.add(document)
        to_visit.extend(path for _, path, _ in relative_links(document))
    pages = {page.resolve() for page in (REPO / "docs").glob("*.md")}
    assert sorted(name(page) for page in pages - reached) == []
