# Every text the application shows, read out of collect/Texts.h, so that the
# Python harnesses expect what the app was built with and a text is changed
# in one place: texts.readyHeadline, texts.logHint, ...

import os, re

with open(os.path.join(os.path.dirname(os.path.abspath(__file__)), "../../collect/Texts.h"), encoding="utf-8") as _f:
    _source = re.sub(r"(?m)^\s*//.*", "", _f.read())
for _name, _literals in re.findall(r"string_view\s+(\w+)\s*=\s*((?:\"(?:[^\"\\]|\\.)*\"\s*)+);", _source):
    _text = "".join(re.findall(r"\"((?:[^\"\\]|\\.)*)\"", _literals))
    globals()[_name] = re.sub(r"\\(.)", lambda m: {"n": "\n", "t": "\t"}.get(m.group(1), m.group(1)), _text)
