"""Reads the records that the stand-ins and the probe leave behind."""

import json
from pathlib import Path

_TEXT_FIELDS = {"module", "path", "kind", "text"}
_TEXT_ESCAPES = {"\\": "\\", "t": "\t", "n": "\n", "r": "\r"}


def _unescape(text):
    out = []
    i = 0
    while i < len(text):
        if text[i] == "\\" and i + 1 < len(text) and text[i + 1] in _TEXT_ESCAPES:
            out.append(_TEXT_ESCAPES[text[i + 1]])
            i += 2
        else:
            out.append(text[i])
            i += 1
    return "".join(out)


def read_credui_log(path):
    """The credential-UI stand-in's events: dicts with "event" and the fields,
    numbers as int and texts unescaped."""
    path = Path(path)
    if not path.exists():
        return []
    events = []
    for line in path.read_text(encoding="utf-8").splitlines():
        if not line:
            continue
        name, *fields = line.split("\t")
        raw = dict(item.partition("=")[::2] for item in fields)
        event = {"event": name}
        for key, value in raw.items():
            value = _unescape(value)
            is_text = key + "_null" in raw or key in _TEXT_FIELDS
            event[key] = int(value) if value.isdigit() and not is_text else value
        events.append(event)
    return events


def read_json_lines(path):
    path = Path(path)
    if not path.exists():
        return []
    return [json.loads(line) for line in path.read_text(encoding="utf-8").splitlines() if line]
