#!/usr/bin/env python3
"""Differential check of the interpreter: random scripts run through two norvane-run binaries
(an older build and the one under test), their logs compared byte for byte with the time
stamps taken off. The scripts mix arithmetic, text functions, comparisons, for/while/if,
procedures and the number forms whose texts must survive (007, 1e3, -0, 1.50, " 5", 12abc,
$10, huge and tiny values, 0.1 + 0.2), with variables used both as text and as numbers.

    python3 scripts/engine_diff.py OLD/norvane-run NEW/norvane-run [--count N] [--seed S]

An old binary: `git worktree add /tmp/nv-old <commit>` and build only norvane-run there.
Exit status 1 when any script's logs differ; the first differing scripts are kept in
--keep (default /tmp/engine_diff) beside both logs.
"""
import argparse
import os
import random
import re
import subprocess
import sys
import tempfile

NUMBER_FORMS = ['0', '1', '7', '007', '1e3', '1E3', '-0', '1.50', '" 5"', '12abc', '$10',
                '0.1', '0.2', '123456789012345', '999999999999999', '1000000000000000',
                '2147483647', '2147483648', '-2147483648', '1E20', '0.000001', '1e-7',
                '"abc"', '""', '"(x)"', '"a,b"', '3', '15', '65535', '40961', '-5', '2.5',
                '"007"', '"1e3"', '" 5"', '"5 "', '"-0"', '99999999999999', '5e14']
NAMES = ['a', 'b', 'c', 'x', 'y', 'n', 'A', 'X', 's']
OPS = ['+', '-', '*', '/', '&', '+', '-', '*', '%', '\\', '^']
CMPS = ['==', '<>', '>>', '<<', '>=', '<=']


# Read as arguments too: the error state, and a long text holding quotes, parentheses and
# commas (the functions read their arguments in place, never copied).
ARG_NAMES = NAMES + ['error', 'L', 'L']


def operand(r, depth, names=NAMES):
    k = r.random()
    if depth < 2 and k < 0.18:
        return call(r, depth + 1)
    if k < 0.55:
        return r.choice(names)
    return r.choice(NUMBER_FORMS)


def call(r, depth):
    e = lambda: expr(r, depth + 1, 2, ARG_NAMES)
    small = lambda: str(r.randint(-1, 12))
    far = lambda: r.choice([small(), str(r.randint(0, 900)), r.choice(NAMES)])
    forms = [
        lambda: 'len(%s)' % e(),
        lambda: 'mid(%s, %s, %s)' % (e(), small(), small()),
        lambda: 'mid(%s, %s, %s)' % (r.choice(ARG_NAMES), far(), far()),
        lambda: 'pos(%s, %s)' % (r.choice(['"("', '")"', '"9,"', '""', 'c', 'x']),
                                 r.choice(ARG_NAMES)),
        lambda: 'asc(mid(%s, %s, 1))' % (r.choice(ARG_NAMES), far()),
        lambda: 'lcase(%s)' % e(),
        lambda: 'del(%s, %s, %s)' % (e(), small(), small()),
        lambda: 'bor(%s, %s)' % (e(), e()),
        lambda: 'shr(%s, %s)' % (e(), small()),
        lambda: 'pos(%s, %s)' % (e(), e()),
        lambda: 'get_bit(%s, %s)' % (e(), r.choice([small(), e()])),
        lambda: 'asc(%s)' % e(),
        lambda: 'chr(%s)' % r.choice(['65', '40', '41', '34', e()]),
        lambda: 'trim(%s)' % e(),
        lambda: 'ucase(%s)' % e(),
        lambda: 'tohex(%s)' % e(),
        lambda: 'pow(%s, %s)' % (e(), small()),
        lambda: 'bxor(%s, %s)' % (e(), e()),
        lambda: 'band(%s, %s)' % (e(), e()),
        lambda: 'shl(%s, %s)' % (e(), small()),
        lambda: 'geterror()',
        # A call whose argument is wholly another call: the inner result is handed over as
        # a value unless it holds a quote or a parenthesis (L holds those and commas).
        lambda: 'crc16(mid(%s, %s, %s), %s)' % (r.choice(ARG_NAMES), far(), far(),
                                                r.choice(['"xmodem"', '"MODBUS"', '"no"', 'x'])),
        lambda: 'len(mid(%s, %s, %s))' % (r.choice(ARG_NAMES), far(), far()),
        lambda: 'pos(mid(%s, %s, %s), mid(%s, %s, %s))' % (
            r.choice(ARG_NAMES), far(), far(), r.choice(ARG_NAMES), far(), far()),
        lambda: 'mid(mid(%s, %s, %s), %s, %s)' % (r.choice(ARG_NAMES), far(), far(), small(),
                                                  r.choice([small(), e()])),
        lambda: 'pos(%s, ucase(%s))' % (r.choice(['"("', '","', '"A"', 'c', '""']),
                                        r.choice(ARG_NAMES)),
        lambda: 'asc(chr(%s))' % r.choice(['34', '40', '41', '44', '0', small(), e()]),
        # An inner call whose result is no number at all (an unknown kind).
        lambda: '%s(crc16(%s, %s))' % (r.choice(['len', 'asc', 'ucase', 'trim']),
                                       r.choice(ARG_NAMES), r.choice(['"xmodem"', '"no"'])),
    ]
    return r.choice(forms)()


def expr(r, depth=0, most=4, names=NAMES):
    n = r.randint(1, most)
    parts = [operand(r, depth, names)]
    for _ in range(n - 1):
        parts.append(r.choice(OPS))
        parts.append(operand(r, depth, names))
    text = ' '.join(parts)
    if depth < 2 and r.random() < 0.1:
        text = '(' + text + ') ' + r.choice(OPS) + ' ' + operand(r, depth)
    return text


def cond(r):
    c = '(%s %s %s)' % (expr(r, 1, 2), r.choice(CMPS), expr(r, 1, 2))
    if r.random() < 0.15:
        c = '(%s %s (%s %s %s))' % (c, r.choice(['&&', '||']), expr(r, 1, 2),
                                    r.choice(CMPS), expr(r, 1, 2))
    return c


def show(r):
    v = r.choice(NAMES)
    return 'writelog("%s=" & %s & "|" & error)' % (v, v)


def block(r, depth, out, calls=True):
    for _ in range(r.randint(2, 6)):
        k = r.random()
        if k < 0.45 or depth >= 2:
            # A whole line that is one call takes the direct path.
            value = call(r, 1) if r.random() < 0.3 else expr(r)
            out.append('%s = %s' % (r.choice(NAMES), value))
            if r.random() < 0.4:
                out.append(show(r))
        elif k < 0.6:
            out.append('writelog(%s)' % expr(r))
        elif k < 0.72:
            # One counter per nesting level (and others in procedures): a loop that set an
            # enclosing loop's counter could run for ever.
            v = ('p' if not calls else '') + r.choice([['i', 'I'], ['j', 'J'], ['k', 'K']][depth])
            lo, hi = r.randint(-3, 3), r.randint(-3, 6)
            step = r.choice(['1', '1', '2', '-1', '-2'])
            out.append('for (%s, %d, %d, %s)' % (v, lo, hi, step))
            block(r, depth + 1, out, calls)
            out.append('writelog("%s=" & %s)' % (v, v))
            out.append('next')
            out.append('writelog("after %s=" & %s)' % (v, v))
        elif k < 0.84:
            out.append('if %s' % cond(r))
            block(r, depth + 1, out, calls)
            # Chains of several `elseif (`, and `if (` nested in any branch: the branch that
            # runs and the lines passed over are found by scans from each of them.
            for _ in range(r.choice([0, 0, 1, 1, 2, 3])):
                out.append('elseif %s' % cond(r))
                block(r, depth + 1, out, calls)
            if r.random() < 0.5:
                out.append('else')
                block(r, depth + 1, out, calls)
            out.append('endif')
        elif k < 0.92:
            w = 'w%d%s' % (depth, '' if calls else 'p')
            out.append('%s = 0' % w)
            out.append('while (%s << %d)' % (w, r.randint(0, 4)))
            out.append('%s = %s + 1' % (w, w))
            block(r, depth + 1, out, calls)
            out.append('wend')
        elif k < 0.95:
            # Inside a loop body ends the loop; elsewhere it is what it is at the top level
            # or in a procedure (the blocks around it are passed over line by line).
            out.append(r.choice(['break', 'exit']) if not calls else 'break')
        elif calls:
            # Procedures call none: a call tree under loops would grow without end.
            out.append(r.choice(['proca', 'procb']))
            out.append(show(r))


def script(seed):
    r = random.Random(seed)
    out = ['begin', 'for (q, 1, 70, 1)', 'L = L & "0123(45)6789," & chr(34)', 'next']
    if r.random() < 0.3:
        # The word include, even in a comment, sends the run to the full runner, which has a
        # rack installed (none shown): names are then offered to it first.
        out.insert(0, '# the full runner: include')
    if r.random() < 0.2:
        # A variable named like a block keyword: the bare `else` and `endif` lines that run
        # then copy it (to the variable of no name) instead of doing nothing.
        out.append('%s = %s' % (r.choice(['else', 'endif']), r.choice(NUMBER_FORMS)))
    for v in NAMES[:6]:
        out.append('%s = %s' % (v, r.choice(NUMBER_FORMS)))
    for _ in range(r.randint(3, 7)):
        block(r, 0, out)
    for v in NAMES:
        out.append('writelog("end %s=" & %s)' % (v, v))
    out.append('end')
    for p in ('proca', 'procb'):
        out.append('procedure ' + p)
        body = []
        block(r, 1, body, calls=False)
        out.extend(body)
        out.append('procend')
    return '\n'.join(out) + '\n'


STAMP = re.compile(rb'^\d\d:\d\d:\d\d(\.\d+)?', re.M)


def run(binary, path):
    env = dict(os.environ, QT_QPA_PLATFORM='offscreen')
    try:
        p = subprocess.run([binary, path], capture_output=True, timeout=20, env=env)
        return STAMP.sub(b'', p.stdout) + b'\n--stderr--\n' + STAMP.sub(b'', p.stderr) + \
            b'\n--status %d--\n' % p.returncode
    except subprocess.TimeoutExpired:
        return b'--timeout--'


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument('old')
    ap.add_argument('new')
    ap.add_argument('--count', type=int, default=2000)
    ap.add_argument('--seed', type=int, default=1)
    ap.add_argument('--keep', default=os.path.join(tempfile.gettempdir(), 'engine_diff'))
    a = ap.parse_args()
    os.makedirs(a.keep, exist_ok=True)
    bad = 0
    with tempfile.TemporaryDirectory() as tmp:
        for i in range(a.count):
            text = script(a.seed * 1000003 + i)
            path = os.path.join(tmp, 'case.nvs')
            with open(path, 'w') as f:
                f.write(text)
            old, new = run(a.old, path), run(a.new, path)
            if old != new:
                bad += 1
                if bad <= 10:
                    base = os.path.join(a.keep, 'case%d' % i)
                    with open(base + '.nvs', 'w') as f:
                        f.write(text)
                    open(base + '.old', 'wb').write(old)
                    open(base + '.new', 'wb').write(new)
                print('case %d differs (kept in %s)' % (i, a.keep), flush=True)
    print('%d of %d scripts differ' % (bad, a.count))
    return 1 if bad else 0


if __name__ == '__main__':
    sys.exit(main())
