#!/usr/bin/env python3
"""Prints this host's apt sources for some suites of one component, as one deb822
file for mmdebstrap, so that the image is built from wherever this host's apt gets
its packages (its mirror, its proxy's address, its keyrings).

    host_sources.py SOURCES_LIST SOURCES_PARTS COMPONENT SUITE [SUITE...]

SOURCES_LIST is apt's one-line-style file and SOURCES_PARTS its folder of *.list
(one-line style) and *.sources (deb822) files, read in apt's order; a missing one
is skipped, as apt skips it. Every enabled deb entry that carries COMPONENT of one
of the SUITEs is kept, narrowed to those suites and that component, with its URIs
and options (Signed-By, Architectures...) as they are. When no entry carries the
first SUITE, the script says what it looked for and exits with 1.
"""

import re
import sys
from pathlib import Path

# One-line options whose deb822 field is not the option's own name.
ONE_LINE_FIELDS = {"arch": "Architectures", "lang": "Languages", "target": "Targets"}
ONE_LINE = re.compile(r"(deb|deb-src)\s+(?:\[([^\]]*)\]\s*)?(\S+)\s+(\S+)(?:\s+(.*))?")


def one_line_entries(text):
    """(fields, where) of each entry of a one-line-style file; fields are
    (name, value) pairs, deb822's names."""
    for number, line in enumerate(text.splitlines(), 1):
        line = line.partition("#")[0].strip()
        match = ONE_LINE.fullmatch(line)
        if not match:
            continue
        kind, options, uri, suite, components = match.groups()
        fields = [("Types", kind), ("URIs", uri), ("Suites", suite), ("Components", components or "")]
        for option in (options or "").split():
            parsed = re.fullmatch(r"([A-Za-z0-9-]+?)([+-]?=)(.*)", option)
            if not parsed:
                continue
            key, operator, value = parsed.groups()
            name = ONE_LINE_FIELDS.get(key.lower(), "-".join(p.capitalize() for p in key.split("-")))
            name += {"=": "", "+=": "-Add", "-=": "-Remove"}[operator]
            fields.append((name, value.replace(",", " ")))
        yield fields, number


def deb822_entries(text):
    """(fields, where) of each paragraph of a deb822 file; a field's value keeps
    its continuation lines (an inline Signed-By key) as written."""
    fields, start = [], None
    for number, line in enumerate(text.splitlines() + [""], 1):
        if line.startswith("#"):
            continue
        if not line.strip():
            if fields:
                yield fields, start
            fields, start = [], None
        elif line[0] in " \t" and fields:
            name, value = fields[-1]
            fields[-1] = (name, f"{value}\n{line}")
        else:
            name, _, value = line.partition(":")
            fields.append((name.strip(), value.strip()))
            start = start or number


def host_entries(sources_list, sources_parts):
    files = [(sources_list, one_line_entries)]
    if sources_parts.is_dir():
        for path in sorted(sources_parts.iterdir()):
            reader = {".list": one_line_entries, ".sources": deb822_entries}.get(path.suffix)
            if reader:
                files.append((path, reader))
    for path, reader in files:
        if path.is_file():
            for fields, number in reader(path.read_text(encoding="utf-8")):
                yield fields, f"{path}:{number}"


def narrowed(fields, component, suites):
    """The entry's deb822 text for those suites and component, or None."""
    values = {name.lower(): value for name, value in fields}
    if values.get("enabled", "yes").strip().lower() == "no" or "deb" not in values.get("types", "").split():
        return None
    uris = [uri for uri in values.get("uris", "").split() if not uri.startswith("cdrom:")]
    kept = [suite for suite in suites if suite in values.get("suites", "").split()]
    if not uris or not kept or component not in values.get("components", "").split():
        return None
    lines = ["Types: deb", f"URIs: {' '.join(uris)}", f"Suites: {' '.join(kept)}", f"Components: {component}"]
    lines += [f"{name}:{value}" if value.startswith("\n") else f"{name}: {value}" for name, value in fields
              if name.lower() not in ("types", "uris", "suites", "components", "enabled")]
    return kept, "\n".join(lines)


def main():
    if len(sys.argv) < 5:
        sys.exit(__doc__)
    sources_list, sources_parts = Path(sys.argv[1]), Path(sys.argv[2])
    component, suites = sys.argv[3], sys.argv[4:]
    found, paragraphs = set(), []
    for fields, where in host_entries(sources_list, sources_parts):
        entry = narrowed(fields, component, suites)
        if entry:
            found.update(entry[0])
            paragraphs.append(f"# {where}\n{entry[1]}")
    if suites[0] not in found:
        sys.exit(f"no apt source of this host carries {suites[0]} {component}: looked for enabled deb entries "
                 f"of the suites {', '.join(suites)} with the component {component} in {sources_list} "
                 f"and in {sources_parts}/*.list and *.sources")
    print("\n\n".join(paragraphs))


if __name__ == "__main__":
    main()
