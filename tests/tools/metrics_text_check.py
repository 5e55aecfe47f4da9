"""Checks a file in the metrics text exposition format line by line, as a collector reads it.

usage: metrics_text_check.py FILE; exits 1 naming each line that breaks a rule.
"""
import re
import sys

NAME = r"[a-zA-Z_:][a-zA-Z0-9_:]*"
LABEL = r'[a-zA-Z_][a-zA-Z0-9_]*="(?:[^"\\\n]|\\[\\"n])*"'
FLOAT = r"[-+]?(?:\d+(?:\.\d*)?|\.\d+)(?:[eE][-+]?\d+)?|[-+]?Inf|NaN"
SAMPLE = re.compile(rf"({NAME})(?:\{{{LABEL}(?:,{LABEL})*\}})? (?:{FLOAT})")
COMMENT = re.compile(rf"# (HELP|TYPE) ({NAME}) (.*)")

text = open(sys.argv[1], encoding="utf-8").read()
errors = [] if text.endswith("\n") else ["the text does not end with a line feed"]
typed, helped, family = {}, set(), None
for number, line in enumerate(text.split("\n")[:-1], 1):
    comment = COMMENT.fullmatch(line)
    sample = SAMPLE.fullmatch(line)
    if comment:
        kind, name, rest = comment.groups()
        seen = typed if kind == "TYPE" else helped
        if name in seen or (kind == "TYPE" and rest not in ("counter", "gauge", "untyped")):
            errors.append(f"{number}: a second or wrong {kind}: {line}")
        if kind == "TYPE":
            typed[name] = rest
        else:
            helped.add(name)
        family = name
    elif not sample:
        errors.append(f"{number}: no sample: {line!r}")
    elif sample.group(1) != family or family not in typed or family not in helped:
        errors.append(f"{number}: a sample outside its family, or before its HELP and TYPE: {line}")
for error in errors:
    print(error)
sys.exit(1 if errors else 0)
