#!/usr/bin/env python3
"""Doxygen input filter for femtokit's headers.

The headers document with plain `//` comments: a block of comment lines
directly above a declaration describes it, and a comment after a member on
the same line describes that member. This filter turns the first into `///`
and the second into `///<` for Doxygen, and escapes the characters Doxygen
would read as commands or markup in the comment text (\\ @ < > & $ # %).
Comments inside function bodies and initialisers, file headers above
preprocessor lines and blocks separated from the next line by a blank line
are left as they are. The number of lines never changes, so Doxygen's line
numbers are the header's.

Usage: doxygen_filter.py HEADER (writes the filtered text to standard output).
"""

import re
import sys

ESCAPE = re.compile(r'([\\@<>&$#%])')
SCOPE = re.compile(r'\b(class|struct|union|enum|namespace)\b|extern\s+"C"')
COMMENT = re.compile(r'^(\s*)//(?!/)(.*)$')
TRAILING = re.compile(r'^(?P<code>[^"/]*?[;,{})\w])(?P<gap>\s+)//(?!/)(?P<text>.*)$')


def escape(text):
    return ESCAPE.sub(r'\\\1', text)


def is_declaration(line):
    s = line.strip()
    if not s or s.startswith(('#', '}', '//', '/*', 'public:', 'private:', 'protected:')):
        return False
    return True


class Braces:
    """Tracks whether a line starts inside a function body or initialiser."""

    def __init__(self):
        self.stack = []      # True for a scope (class, namespace, enum), False for a body
        self.pending = ''    # code since the last ; { }

    def in_body(self):
        return any(not scope for scope in self.stack)

    def feed(self, line):
        code = line.split('//', 1)[0]
        code = re.sub(r'"(\\.|[^"\\])*"', '""', code)
        code = re.sub(r"'(\\.|[^'\\])*'", "''", code)
        if code.lstrip().startswith('#'):
            return
        for ch in code:
            if ch == '{':
                head = self.pending
                self.stack.append(bool(SCOPE.search(head)) and not self.in_body())
                self.pending = ''
            elif ch == '}':
                if self.stack:
                    self.stack.pop()
                self.pending = ''
            elif ch == ';':
                self.pending = ''
            else:
                self.pending += ch


def filter_lines(lines):
    out = list(lines)
    braces = Braces()
    i = 0
    n = len(lines)
    while i < n:
        m = COMMENT.match(lines[i])
        if m:
            j = i
            while j < n and COMMENT.match(lines[j]):
                j += 1
            documents = j < n and is_declaration(lines[j]) and not braces.in_body()
            for k in range(i, j):
                mk = COMMENT.match(lines[k])
                if documents:
                    out[k] = mk.group(1) + '///' + escape(mk.group(2))
                braces.feed(lines[k])
            i = j
            continue
        t = TRAILING.match(lines[i])
        if t and not braces.in_body() and not lines[i].lstrip().startswith('#'):
            out[i] = t.group('code') + t.group('gap') + '///<' + escape(t.group('text'))
        braces.feed(lines[i])
        i += 1
    return out


def main(argv):
    if len(argv) != 2:
        sys.stderr.write(__doc__.split('\n\n')[-1] + '\n')
        return 2
    with open(argv[1], encoding='utf-8') as f:
        text = f.read()
    lines = text.split('\n')
    sys.stdout.write('\n'.join(filter_lines(lines)))
    return 0


if __name__ == '__main__':
    sys.exit(main(sys.argv))
