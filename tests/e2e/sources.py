"""The program's texts, control ids and dialog captions, read from its own
resources so that the tests never restate them: TEXT["kTextNotInstalled"]
(line breaks as "\\n"), ID["IDC_SETUP_FOLDER"], CAPTION["SETUP"]."""
import re
from pathlib import Path

RESOURCES = Path(__file__).resolve().parents[2] / "src" / "resources"
TEXT = {name: text.replace("\\n", "\n")
        for file in sorted((RESOURCES / "texts").glob("*.txt"))
        for name, text in re.findall(r"^(k\w+)\t(.*)$", file.read_text(encoding="utf-8"), re.M)}
ID = {name: int(value) for name, value in
      re.findall(r"^#define (\w+) (-?\d+)\s*$", (RESOURCES / "resource.h").read_text(), re.M)}
CAPTION = dict(re.findall(r'^(\w+) DIALOGEX[^\n]*\n(?:(?!\w+ DIALOGEX)[^\n]*\n)*?CAPTION "([^"]*)"',
                          (RESOURCES / "vnupdate.rc").read_text(encoding="utf-8"), re.M))
