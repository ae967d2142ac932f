#!/usr/bin/env python3
"""Runs the marked code blocks of a manual chapter and checks the output it shows.

A chapter marks what is run with HTML comments (invisible on GitHub and in a
browser) on the line before a fenced block:

  <!-- run -->                     the next ```sh block runs in bash (-e, -o pipefail)
  <!-- run exit=3 -->              ... and must end with that exit status
  <!-- run python -->              the next ```python block runs in Python
  <!-- run python needs=A,B -->    ... only when the femtokit module has A and B
                                   (skipped, with the reason, otherwise)
  <!-- run python fresh -->        ... in a new session (see below)
  <!-- output -->                  the next ``` block is what the previous run
  <!-- output rtol=1e-2 -->        block printed on standard output

Blocks of one chapter run in order in one scratch directory, with the femtokit
program first on PATH. The Python blocks of a chapter form one session, as
when they are pasted into one interpreter: each runs after the earlier ones
(whose output is not shown again); a block after a skipped one is skipped. Shown output is compared line by line: words must be
equal, numbers equal within rtol (relative, default 1e-3) or one unit of the
last digit shown, whichever is larger; a line '...' stands for any number of
lines. Standard error (progress, warnings) is not compared.

Usage: run_tutorial.py CHAPTER.md [--femtokit PROGRAM] [--keep DIR]
"""

import argparse
import math
import os
import re
import shutil
import subprocess
import sys
import tempfile

MARK = re.compile(r'^<!--\s*(run|output)\b(.*?)-->\s*$')
FENCE = re.compile(r'^```(\w*)\s*$')
NUMBER = re.compile(r'^[-+]?(\d+\.?\d*|\.\d+)([eE][-+]?\d+)?$')
TOKEN = re.compile(r'[-+]?(?:\d+\.?\d*|\.\d+)(?:[eE][-+]?\d+)?|[^\s\d+-]+|[-+]')


class Block:
    def __init__(self, kind, options, language, code, line):
        self.kind = kind          # 'run' or 'output'
        self.options = options    # dict of the marker's key=value words; 'python': True
        self.language = language
        self.code = code
        self.line = line          # line of the marker in the chapter (1-based)

    @property
    def python(self):
        return self.kind == 'run' and (self.language == 'python' or 'python' in self.options)

    def needs(self):
        value = self.options.get('needs', '')
        return [n for n in value.split(',') if n]


def parse_options(text):
    options = {}
    for word in text.split():
        key, _, value = word.partition('=')
        options[key] = value if value else True
    return options


def extract(markdown):
    """The marked blocks of a chapter, in order."""
    lines = markdown.split('\n')
    blocks = []
    i = 0
    while i < len(lines):
        m = MARK.match(lines[i].strip())
        if not m:
            i += 1
            continue
        j = i + 1
        while j < len(lines) and not lines[j].strip():
            j += 1
        f = FENCE.match(lines[j].strip()) if j < len(lines) else None
        if not f:
            raise ValueError('line %d: <!-- %s --> is not followed by a fenced block' % (i + 1, m.group(1)))
        k = j + 1
        while k < len(lines) and lines[k].strip() != '```':
            k += 1
        if k == len(lines):
            raise ValueError('line %d: the fenced block is not closed' % (j + 1))
        blocks.append(Block(m.group(1), parse_options(m.group(2)), f.group(1), '\n'.join(lines[j + 1:k]) + '\n', i + 1))
        i = k + 1
    return blocks


def tokens(line):
    return TOKEN.findall(line)


def last_digit(word):
    """One unit of the last digit a number is written with."""
    mantissa, _, exponent = word.lower().partition('e')
    decimals = len(mantissa.split('.')[1]) if '.' in mantissa else 0
    return 10.0 ** (int(exponent or 0) - decimals)


def same_line(shown, actual, rtol):
    a, b = tokens(shown), tokens(actual)
    if len(a) != len(b):
        return False
    for x, y in zip(a, b):
        if NUMBER.match(x) and NUMBER.match(y):
            u, v = float(x), float(y)
            if not (math.isfinite(u) and math.isfinite(v)):
                return False
            if abs(u - v) > max(rtol * abs(u), last_digit(x)) * (1 + 1e-9):
                return False
        elif x != y:
            return False
    return True


def compare(shown, actual, rtol):
    """None when the actual output matches what is shown, else a message."""
    want = [l for l in shown.rstrip('\n').split('\n')]
    have = [l for l in actual.rstrip('\n').split('\n') if l.strip()]
    want = [l for l in want if l.strip()]

    def match(i, j):
        if i == len(want):
            return j == len(have)
        if want[i].strip() == '...':
            return any(match(i + 1, k) for k in range(j, len(have) + 1))
        return j < len(have) and same_line(want[i], have[j], rtol) and match(i + 1, j + 1)

    if match(0, 0):
        return None
    return 'shown:\n%s\n\nactual:\n%s' % ('\n'.join(want), '\n'.join(have))


def module_missing(names, python, env):
    """Names absent from the femtokit module (or why it cannot be imported)."""
    if not names:
        return []
    probe = 'import femtokit\nprint(" ".join(n for n in %r if not hasattr(femtokit, n)))' % (names,)
    r = subprocess.run([python, '-c', probe], env=env, capture_output=True, text=True)
    if r.returncode != 0:
        return ['the module itself (%s)' % r.stderr.strip().split('\n')[-1]]
    return r.stdout.split()


class Outcome:
    def __init__(self, block, status, detail=''):
        self.block, self.status, self.detail = block, status, detail   # status: ran, skipped, failed

    def __repr__(self):
        return 'line %d: %s %s' % (self.block.line, self.status, self.detail)


def run_chapter(chapter, femtokit, workdir, python=sys.executable, env=None, timeout=300):
    """Runs a chapter's blocks in workdir; a list of Outcomes, one per marked block."""
    with open(chapter, encoding='utf-8') as f:
        blocks = extract(f.read())
    env = dict(os.environ if env is None else env)
    env['PATH'] = os.path.dirname(os.path.abspath(femtokit)) + os.pathsep + env.get('PATH', '')
    env.setdefault('MPLBACKEND', 'Agg')
    outcomes = []
    last = None   # (outcome, stdout) of the previous run block
    session = []  # code of the Python session's earlier blocks
    session_skipped = ''
    for b in blocks:
        if b.kind == 'output':
            if last is None:
                outcomes.append(Outcome(b, 'failed', 'an output block without a run block before it'))
            elif last[0].status != 'ran':
                outcomes.append(Outcome(b, 'skipped', 'its run block did not run: ' + last[0].detail))
            else:
                why = compare(b.code, last[1], float(b.options.get('rtol', 1e-3)))
                outcomes.append(Outcome(b, 'failed' if why else 'ran', why or ''))
            continue
        if b.python:
            if 'fresh' in b.options:
                session, session_skipped = [], ''
            missing = module_missing(b.needs(), python, env)
            why = session_skipped or ('the femtokit module lacks ' + ', '.join(missing) if missing else '')
            if why:
                o = Outcome(b, 'skipped', why)
                outcomes.append(o)
                last = (o, '')
                session_skipped = session_skipped or 'an earlier block of its session was skipped (%s)' % why
                continue
            earlier = ''
            if session:
                earlier = ('import io as _io, sys as _sys\n_shown = _sys.stdout\n_sys.stdout = _io.StringIO()\n' +
                           '\n'.join(session) + '\n_sys.stdout = _shown\n')
            session.append(b.code)
            command = [python, '-c', earlier + b.code]
        else:
            command = ['bash', '-e', '-o', 'pipefail', '-c', b.code]
        r = subprocess.run(command, cwd=workdir, env=env, capture_output=True, text=True, timeout=timeout)
        expected = int(b.options.get('exit', 0))
        if r.returncode != expected:
            o = Outcome(b, 'failed', 'exit status %d, expected %d\n--- stdout\n%s--- stderr\n%s' %
                        (r.returncode, expected, r.stdout, r.stderr))
        else:
            o = Outcome(b, 'ran')
        outcomes.append(o)
        last = (o, r.stdout)
    return outcomes


def main(argv):
    p = argparse.ArgumentParser(description='Runs the marked blocks of a manual chapter.')
    p.add_argument('chapter')
    p.add_argument('--femtokit', default=os.path.join(os.path.dirname(__file__), '..', 'build', 'femtokit'))
    p.add_argument('--keep', help='run in this directory (created) and keep it')
    a = p.parse_args(argv[1:])
    workdir = a.keep or tempfile.mkdtemp(prefix='femtokit-manual-')
    os.makedirs(workdir, exist_ok=True)
    try:
        outcomes = run_chapter(a.chapter, a.femtokit, workdir)
    finally:
        if not a.keep:
            shutil.rmtree(workdir, ignore_errors=True)
    for o in outcomes:
        print('%s:%s' % (a.chapter, o))
    return 1 if any(o.status == 'failed' for o in outcomes) else 0


if __name__ == '__main__':
    sys.exit(main(sys.argv))
