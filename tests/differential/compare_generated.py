#!/usr/bin/env python3
"""Generates random QOL programs and runs each with the compiled sentence
forms on and off (QO_NOCOMPILE=1): results and exit codes must be the same.

    compare_generated.py QOL [--seed N] [--count N] [--keep DIR]

The programs mix what the forms cover and what they give up on: user
functions that assign their own variables, their parameters and their
callers' variables (found through the dynamic scope), call other functions
and built-ins (max, min and limit among them); one- and two-dimensional
arrays read and written in nested loops and under conditions; strings
joined, cut (left, right, mid), searched (find), compared, measured (len)
and read as numbers and back (val, str); and the things that end a form's run
(variables removed or turned into strings, arrays shrunk, zero divisors,
errors of built-ins); and for and while loops run as one loop form, whose
condition, body or step gives up at some pass. A fixed seed gives the same programs
every time.
"""
import argparse
import os
import random
import subprocess
import sys
import tempfile

GLOBALS = ["g", "h", "k"]
BUILTINS_1 = ["abs", "int", "sign", "abs", "sqrt", "ABS", "Int", "Sign"]


class Gen:
    def __init__(self, rnd):
        self.r = rnd
        self.functions = []  # (name, formals)

    def num(self):
        r = self.r
        return r.choice(["0", "1", "2", "3", "7", "-4", "0.5", "2.25", "10", "1e3", "-0.1"])

    def operand(self, names, depth):
        r = self.r
        c = r.random()
        if depth <= 0 or c < 0.3:
            return self.num() if r.random() < 0.4 or not names else r.choice(names)
        if c < 0.45:
            return "(%s)" % self.expr(names, depth - 1)
        if c < 0.55:
            return "%s(%s)" % (r.choice(BUILTINS_1), self.expr(names, depth - 1))
        if c < 0.58:
            args = ", ".join(self.expr(names, depth - 1) for _ in range(r.randint(1, 3)))
            return "%s(%s)" % (r.choice(["min", "max", "MAX", "Min"]), args)
        if c < 0.62:
            # The upper bound is read only when x is not below the lower one.
            return "limit(%s, %s, %s)" % (self.expr(names, depth - 1), self.expr(names, depth - 1),
                                          self.expr(names, depth - 1))
        if c < 0.72 and self.functions:
            name, formals = r.choice(self.functions)
            args = ", ".join(self.expr(names, depth - 1) for _ in range(formals))
            return "%s(%s)" % (name, args)
        if c < 0.76:
            return self.text(names, depth)
        if c < 0.82:
            return "a[%s]" % self.index(names, 6)
        if c < 0.9:
            return self.cell(self.index(names, 6), self.index(names, 6))
        return "-" + self.operand(names, depth - 1)

    def text(self, names, depth):
        """A number read from strings: a length, a position found, a string
        read as a number, two strings compared."""
        r = self.r
        c = r.random()
        if c < 0.25:
            return "len(%s)" % self.string(names, depth - 1)
        if c < 0.4:
            start = ", " + self.expr(names, depth - 1) if r.random() < 0.4 else ""
            return "find(%s, %s%s)" % (self.string(names, depth - 1), self.string(names, depth - 1), start)
        if c < 0.5:
            return "val(%s)" % self.string(names, depth - 1)
        op = r.choice(["==", "!=", "<", ">=", "<>", "<=", ">", "==$"])
        return "(%s %s %s)" % (self.string(names, depth - 1), op, self.string(names, depth - 1))

    def string(self, names, depth):
        """A string: the variable w (a number at times), a literal, a piece
        of one, a number's text, two joined."""
        r = self.r
        c = r.random()
        if depth <= 0 or c < 0.35:
            return r.choice(["w", "w", "'a'", "'b'", "'ab'", "''", "'c'", "'B'", "'12'", "' -3.5e1x'", "'中文a'",
                             "'文'", "5", "'a' 'b'"])
        n = lambda: r.choice(["1", "2", "0", "-1", "100"] + [x for x in names if x == "i"]) \
            if r.random() < 0.7 else self.expr(names, depth - 1)
        if c < 0.5:
            return "%s(%s, %s)" % (r.choice(["left", "right", "Left"]), self.string(names, depth - 1), n())
        if c < 0.65:
            count = ", " + n() if r.random() < 0.6 else ""
            return "mid(%s, %s%s)" % (self.string(names, depth - 1), n(), count)
        if c < 0.8:
            return "str(%s)" % self.expr(names, depth - 1)
        if c < 0.85:
            return "(%s)" % self.string(names, depth - 1)
        return "%s + %s" % (self.string(names, depth - 1), self.string(names, depth - 1))

    def cell(self, row, column):
        return ("m[%s, %s]" if self.r.random() < 0.6 else "m[%s][%s]") % (row, column)

    def index(self, names, rows=7):
        r = self.r
        if r.random() < 0.5 and names:
            return "int(abs(%s)) %% %d" % (r.choice(names), rows)
        return str(r.randint(0, rows - 1))

    def expr(self, names, depth=2):
        r = self.r
        e = self.operand(names, depth)
        for _ in range(r.randint(0, 2)):
            op = r.choice(["+", "-", "*", "/", "%", "<", ">=", "==", "!=", "&&", "||"])
            if op in "/%" and r.random() < 0.9:
                e = "%s %s %s" % (e, op, r.choice(["2", "3", "-7", "1.5"]))  # rarely a zero divisor
            else:
                e = "%s %s %s" % (e, op, self.operand(names, depth - 1))
        return e

    def statement(self, names, locals_, depth, in_function):
        r = self.r
        c = r.random()
        if c < 0.25:
            target = r.choice(locals_ + GLOBALS) if locals_ else r.choice(GLOBALS)
            return "%s = %s" % (target, self.expr(names))
        if c < 0.35:
            return "%s%s" % (r.choice(locals_ + GLOBALS), r.choice(["++", "--"]))
        if c < 0.5 and depth > 0:
            body = self.statement(names, locals_, depth - 1, in_function)
            if r.random() < 0.4:
                return "if (%s) %s; else %s" % (self.expr(names, 1), body,
                                                self.statement(names, locals_, depth - 1, in_function))
            return "if (%s) %s" % (self.expr(names, 1), body)
        if c < 0.6:
            return "a[%s] = %s" % (self.index(names), self.expr(names))
        if c < 0.68:
            return "%s = %s" % (self.cell(self.index(names), self.index(names)), self.expr(names))
        if c < 0.74 and self.functions:
            name, formals = r.choice(self.functions)
            return "%s(%s)" % (name, ", ".join(self.expr(names, 1) for _ in range(formals)))
        if c < 0.78 and r.random() < 0.3:
            return r.choice(["w = w + 'ab'", "w = 3", "w = 'abcab'", "w = left(w, 2) + str(i)", "w = '7'", "g = 'text'", "remove h", "a[2] = 'x'", "Array::a.RemoveAt(1)", "k = k + 'y'",
                             "g = 0", "h = 1", "k = 2", "delete a", "a[9] = 1"])
        if c < 0.81:
            # Strings stored, grown and left as the value.
            # (Grown by at most three bytes a pass: w + w would double it
            # until memory runs out, slowly.)
            return r.choice(["w = %s", "w = w + left(%s, 3)", "%s", "z = %s"]) % self.string(names, 2)
        if c < 0.84 and depth > 0 and not in_function and "j" not in names:
            v = "j"
            return "for (%s = 0; %s < %d; %s++) { %s; }" % (
                v, v, r.randint(1, 5), v, self.statement(names + [v], locals_, depth - 1, in_function))
        if c < 0.88 and in_function:
            return "return %s" % self.expr(names)
        return "%s = %s" % (r.choice(GLOBALS), self.expr(names))

    def function(self, index):
        r = self.r
        name = "f%d" % index
        formals = ["x", "y"][:r.randint(0, 2)]
        locals_ = ["t", "u"]
        names = formals + GLOBALS + locals_
        body = ["t = %s" % self.expr(formals + GLOBALS), "u = %s" % self.expr(formals + GLOBALS + ["t"])]
        if r.random() < 0.05:
            body.append("u = v")  # never assigned: the text's error
        for _ in range(r.randint(1, 4)):
            body.append(self.statement(names, locals_, 1, True))
        if r.random() < 0.85:
            body.append("return %s" % self.expr(names))
        text = "#%s(%s) { %s; }" % (name, ", ".join(formals), "; ".join(body))
        self.functions.append((name, len(formals)))
        return text

    def loop_program(self):
        """A for loop whose parts are all forms, run as one loop form, with
        values that make the condition, the body or the step give up at some
        pass (a string, a removed variable, a missing cell, a zero divisor,
        an error of sqrt, an infinite number), so that the text takes the
        loop over at that part and hands it back."""
        r = self.r
        v = r.choice(["i", "j"])
        k = r.randint(0, 9)
        trouble = [
            "q", "q * 0", "a[%s %% 9]" % v, "a[%s]" % v, "6 / (%s - %d)" % (v, k), "(%s %% (%d - %s))" % (v, k, v),
            "sqrt(%d - %s)" % (k, v), "len(w)", "m[%s %% 8, 1]" % v, "(%s == %d ? 1 : q)" % (v, k),
            "limit(%s, %d, q)" % (v, k), "max(%s, q, 1)" % v, "val(w + str(%s))" % v, "find(w + q, 'b')",
            "(mid(w, %s, 1) == 'b')" % v, "len(left(w, %s) + q)" % v, "(str(%s) < w)" % v]
        extra = lambda: r.choice(trouble)
        cond = "%s < %d" % (v, r.randint(0, 14))
        if r.random() < 0.4:
            cond += " && %s > -100" % extra()
        pool = ["s = s + %s" % v, "s = s + %s" % extra(), "t = t * %s" % r.choice(["2", "1e200", "-1.5", "0.1"]),
                "a[%s] = %s" % (r.choice([v, "%s %% 7" % v, "%s * 3" % v]), r.choice([v, "s", extra()])),
                "m[%s %% 9, %s] = %s" % (v, r.choice(["0", "2", v]), extra()),
                "if (%s == %d) { %s; }" % (v, k, r.choice(["q = 'x'", "remove q", "w = 5", "w = w + 'b'", "a[4] = 'y'",
                                                        "Array::a.RemoveAt(2)", "q = 2", "s = s + 1"])),
                "if (s > %d) s = s - %s; else s++" % (r.randint(0, 30), extra()),
                "c = (c + %s) %% 1000" % v]
        body = "; ".join(r.choice(pool) for _ in range(r.randint(1, 3)))
        step = r.choice(["%s++" % v, "%s = %s + 1" % (v, v), "%s = %s + 1 + %s * 0" % (v, v, extra()),
                         "%s += 2" % v, "%s = %s + 2" % (v, v)])
        if r.random() < 0.3:
            inner = "for (u = 0; u < %d; u++) s = s + u * %s" % (r.randint(0, 4), r.choice(["1", v, extra()]))
            body = r.choice(["%s; if (%s %% 2) { %s; }" % (body, v, inner), "%s; %s" % (body, inner)])
        lines = ["s = 0; t = 1; c = 0; q = %s; w = '%s';" % (r.choice(["1", "0", "'z'", "2.5"]), r.choice(["ab", ""])),
                 "for (i = 0; i < 6; i++) a[i] = i * 2 - 3;",
                 "for (i = 0; i < 6; i++) for (j = 0; j < 3; j++) m[i, j] = i - j;",
                 ("for (%s = 0; %s; %s) { %s; }" % (v, cond, step, body) if r.random() < 0.7 else
                  "%s = 0; while (%s) { %s; %s; }" % (v, cond, body, step)),
                 "str(s) + ',' + str(t) + ',' + str(c) + ',' + str(i) + ',' + str(j) + ',' + Type(q) + ',' + "
                 "str(a[1]) + str(a[4]) + ',' + str(m[2, 2])"]
        return "\r\n".join(lines) + "\r\n"

    def program(self):
        r = self.r
        if r.random() < 0.3:
            return self.loop_program()
        lines = ["g = %s; h = %s; k = %s; z = 0; w = '%s';" % (self.num(), self.num(), self.num(),
                                                         r.choice(["abcab", "", "ba", "xyzzy"])),
                 "for (i = 0; i < 6; i++) a[i] = i * 2 - 3;",
                 "for (i = 0; i < 6; i++) for (j = 0; j < 6; j++) m[i, j] = i - j;"]
        for n in range(r.randint(1, 3)):
            lines.append(self.function(n))
        kind = r.randint(0, 2)
        loop = ["for (i = 0; i < %d; i++)", "i = 0; while (i++ < %d)", "i = 0; while (i < %d)"][kind]
        loop %= r.randint(2, 40)
        body = "; ".join(self.statement(["i"] + GLOBALS, [], 2, False) for _ in range(r.randint(1, 4)))
        if kind == 2:
            body += "; i++"  # a while loop that steps in its body
        lines.append("%s { %s; }" % (loop, body))
        lines.append("str(g) + ',' + str(h) + ',' + str(k) + ',' + str(a[1]) + ',' + str(m[2, 3]) + ',' + w + ',' + "
                     "Type(t) + Type(u) + str(i) + ',' + Type(z)")
        return "\r\n".join(lines) + "\r\n"


def run(qol, path, compiled):
    env = dict(os.environ)
    env["QO_UI"] = "silent"
    if not compiled:
        env["QO_NOCOMPILE"] = "1"
    try:
        p = subprocess.run([qol, "-r", path], capture_output=True, timeout=10, env=env)
    except subprocess.TimeoutExpired:
        return b"timeout"
    return p.stdout + p.stderr + b"\nexit %d" % p.returncode


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("qol")
    ap.add_argument("--seed", type=int, default=28)
    ap.add_argument("--count", type=int, default=300)
    ap.add_argument("--keep", help="folder to keep the programs in")
    args = ap.parse_args()
    gen = Gen(random.Random(args.seed))
    folder = args.keep or tempfile.mkdtemp(prefix="qol-diff-")
    os.makedirs(folder, exist_ok=True)
    failures = 0
    for n in range(args.count):
        gen.functions = []
        text = gen.program()
        path = os.path.join(folder, "p%04d.qol" % n)
        with open(path, "w", encoding="gbk") as f:
            f.write(text)
        on, off = run(args.qol, path, True), run(args.qol, path, False)
        if on != off:
            failures += 1
            print("%s differs:\n%s\ncompiled: %r\ntext:     %r" % (path, text, on, off))
        elif not args.keep:
            os.unlink(path)
    if not args.keep and failures == 0:
        os.rmdir(folder)
    print("%d programs, %d differ" % (args.count, failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
