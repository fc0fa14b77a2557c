# Every text the application shows, read out of collect/Texts.h, so that the
# Python harnesses expect what the app was built with and a text is changed
# in one place: texts.readyHeadline, texts.logHint, ...

import os, re

_HEADER = os.path.join(os.path.dirname(os.path.abspath(__file__)), "../../collect/Texts.h")
_ESCAPES = {"n": "\n", "t": "\t", '"': '"', "\\": "\\"}


def _read():
    with open(_HEADER, encoding="utf-8") as f:
        source = re.sub(r"(?m)^\s*//.*", "", f.read())
    found = {}
    for name, literals in re.findall(r"string_view\s+(\w+)\s*=\s*((?:\"(?:[^\"\\]|\\.)*\"\s*)+);", source):
        pieces = re.findall(r"\"((?:[^\"\\]|\\.)*)\"", literals)
        found[name] = re.sub(r"\\(.)", lambda m: _ESCAPES[m.group(1)], "".join(pieces))
    return found


globals().update(_read())
