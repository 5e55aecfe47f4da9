#!/usr/bin/env python3
"""usage: include_layers_check.py TOOLS_DIR (the folder that holds vornlink/)

Checks the includes among the operator tool's files: base/ includes only base/; a command's
folder only itself and base/; the top (main.cc, the list of commands) any folder. No circle either,
a .cc counting as its header. Exits 1 naming each include that breaks a rule and a circle."""
import graphlib
import os
import re
import sys

tools = sys.argv[1]
files = {}
for folder, _, names in os.walk(os.path.join(tools, 'vornlink')):
    for name in names:
        if name.endswith(('.h', '.cc')):
            path = os.path.join(folder, name)
            with open(path, encoding='utf-8') as text:
                files[os.path.relpath(path, tools)] = re.findall(
                    r'^#include "(vornlink/[^"]+)"', text.read(), re.M)


def folder_of(path):
    parts = path.split('/')
    return parts[1] if len(parts) > 2 else ''  # '' for the top


def rank(folder):
    return 0 if folder == 'base' else 2 if folder == '' else 1


broken = 0
for path, includes in sorted(files.items()):
    for included in includes:
        if included not in files:
            print(f'{path}: includes {included}, which is not there')
            broken += 1
        elif folder_of(included) != folder_of(path) and rank(folder_of(included)) >= rank(
                folder_of(path)):
            print(f'{path}: includes {included}, of a folder at its level or above')
            broken += 1


def unit(path):
    header = path[:-3] + '.h'
    return header if path.endswith('.cc') and header in files else path


graph = {}
for path, includes in files.items():
    graph.setdefault(unit(path), set()).update(unit(i) for i in includes if unit(i) != unit(path))
try:
    graphlib.TopologicalSorter(graph).prepare()
except graphlib.CycleError as error:
    print('circle: ' + ' -> '.join(reversed(error.args[1])))
    broken += 1
print(f'{len(files)} files, {sum(len(i) for i in files.values())} includes among them, '
      f'{broken} broken')
sys.exit(1 if broken else 0)
