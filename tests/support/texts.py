# Every text the application shows, read out of collect/Texts.h, so that the
# Python harnesses expect what the app was built with and a text is changed
# in one place: texts.readyHeadline, texts.logHint, ...

import os, pathlib, re

_HEADER = pathlib.Path(os.path.dirname(os.path.abspath(__file__)), "../../collect/Texts.h")
for _name, _literals in re.findall(r'string_view\s+(\w+)\s*=\s*((?:"[^"]*"\s*)+);', _HEADER.read_text("utf-8")):
    _text = "".join(re.findall(r'"([^"]*)"', _literals))
    globals()[_name] = re.sub(r"\\(.)", lambda m: {"n": "\n", "t": "\t"}.get(m.group(1), m.group(1)), _text)
# Each face's words for the computer and its file manager; the harnesses
# drive the Linux face.
for _name, _headline, _button in re.findall(r'PlatformWords\s+(\w+)\{"([^"]*)",\s*"([^"]*)"\}', _HEADER.read_text("utf-8")):
    globals()[_name] = {"readyHeadline": _headline, "revealButton": _button}
readyHeadline, revealButton = linuxWords["readyHeadline"], linuxWords["revealButton"]  # noqa: F821
