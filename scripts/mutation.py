#!/usr/bin/env python3
"""Mutation sampler: how many small faults in the product code the tests notice.

Each mutant changes one place of one source file: a comparison flipped
(negated or moved across its boundary), && and || swapped, a negation
removed, an integer constant one more or one less, a call statement dropped,
a binary + or - (or += and -=) swapped. Comments, string and character
literals and preprocessor lines are never touched.

A seeded random sample of all mutants of the chosen files is applied one at a
time in a scratch copy of the tree (build/mutation-<arch>/tree, kept between
runs and brought up to date from the working tree by content, so that only
what changed is rebuilt). For each mutant the unit test programs are rebuilt,
those whose programs changed run, and a mutant that survives them goes
through the end-to-end tests. Mutants listed in the equivalents file
(scripts/mutation-equivalents.txt) are skipped and counted apart.

Prints one line per mutant and ends with
  mutation: K killed, S survived, B did not build, E equivalent; score P %
where the score counts only the mutants that build and are not equivalent.
"""

import argparse
import fnmatch
import hashlib
import json
import os
import random
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
DEFAULT_FILES = ["src/**.cpp", "src/**.h", "samples/msi/run_as_administrator.cpp"]
EQUIVALENTS = os.path.join(ROOT, "scripts", "mutation-equivalents.txt")

# ---------------------------------------------------------------------------
# Lexing: code tokens only, with comments, literals and preprocessor lines
# recognised so that nothing inside them is ever mutated.

PUNCTUATORS = sorted(
    ["<<=", ">>=", "->*", "...", "<=>", "::", "->", "++", "--", "<<", ">>", "<=", ">=", "==",
     "!=", "&&", "||", "+=", "-=", "*=", "/=", "%=", "&=", "|=", "^=", "##"],
    key=len, reverse=True)
STRING_RE = re.compile(r'(?:u8|u|U|L)?"(?:[^"\\\n]|\\.)*"|(?:u8|u|U|L)?\'(?:[^\'\\\n]|\\.)*\'')
RAW_STRING_RE = re.compile(r'(?:u8|u|U|L)?R"([^ ()\\\t\n]{0,16})\(')
IDENT_RE = re.compile(r"[A-Za-z_][A-Za-z0-9_]*")
NUMBER_RE = re.compile(r"\.?[0-9](?:[eEpP][+-]|[0-9A-Za-z_.']|)*")
INTEGER_RE = re.compile(r"^(0[xX][0-9a-fA-F]+|0[bB][01]+|0|[1-9][0-9]*)([uUlLzZ]*)$")

KEYWORDS = {
    "alignas", "alignof", "asm", "auto", "bool", "break", "case", "catch", "char", "char16_t",
    "char32_t", "char8_t", "class", "const", "const_cast", "constexpr", "continue", "decltype",
    "default", "delete", "do", "double", "dynamic_cast", "else", "enum", "explicit", "export",
    "extern", "false", "float", "for", "friend", "goto", "if", "inline", "int", "long", "mutable",
    "namespace", "new", "noexcept", "nullptr", "operator", "private", "protected", "public",
    "register", "reinterpret_cast", "return", "short", "signed", "sizeof", "static",
    "static_assert", "static_cast", "struct", "switch", "template", "this", "thread_local",
    "throw", "true", "try", "typedef", "typeid", "typename", "union", "unsigned", "using",
    "virtual", "void", "volatile", "wchar_t", "while", "co_await", "co_return", "co_yield",
}
# Identifiers after which a + or - is an operand's sign, not a binary operator.
PREFIX_KEYWORDS = KEYWORDS - {"this", "true", "false", "nullptr"}


class Token:
    __slots__ = ("kind", "text", "start", "end")

    def __init__(self, kind, text, start, end):
        self.kind, self.text, self.start, self.end = kind, text, start, end


def lex(src):
    tokens = []
    i, n = 0, len(src)
    line_start = True
    while i < n:
        c = src[i]
        if c == "\n":
            line_start = True
            i += 1
            continue
        if c in " \t\r\f\v":
            i += 1
            continue
        if c == "\\" and src.startswith("\\\n", i):
            i += 2
            continue
        if line_start and c == "#":
            # A preprocessor line, with its continuations and comments.
            while i < n and src[i] != "\n":
                if src.startswith("\\\n", i):
                    i += 2
                elif src.startswith("/*", i):
                    j = src.find("*/", i + 2)
                    i = n if j < 0 else j + 2
                elif src.startswith("//", i):
                    while i < n and src[i] != "\n":
                        i += 1
                else:
                    i += 1
            continue
        line_start = False
        if src.startswith("//", i):
            while i < n and src[i] != "\n":
                i += 1
            continue
        if src.startswith("/*", i):
            j = src.find("*/", i + 2)
            i = n if j < 0 else j + 2
            continue
        m = RAW_STRING_RE.match(src, i)
        if m:
            close = ")" + m.group(1) + '"'
            j = src.find(close, m.end())
            end = n if j < 0 else j + len(close)
            tokens.append(Token("str", src[i:end], i, end))
            i = end
            continue
        m = STRING_RE.match(src, i)
        if m:
            tokens.append(Token("str", m.group(0), i, m.end()))
            i = m.end()
            continue
        m = IDENT_RE.match(src, i)
        if m:
            tokens.append(Token("id", m.group(0), i, m.end()))
            i = m.end()
            continue
        m = NUMBER_RE.match(src, i)
        if m:
            tokens.append(Token("num", m.group(0), i, m.end()))
            i = m.end()
            continue
        for p in PUNCTUATORS:
            if src.startswith(p, i):
                tokens.append(Token("op", p, i, i + len(p)))
                i += len(p)
                break
        else:
            tokens.append(Token("op", c, i, i + 1))
            i += 1
    return tokens


# ---------------------------------------------------------------------------
# Mutation sites.

TEMPLATE_ARG_OPS = {"::", "*", "&", "&&", ",", "(", ")", "[", "]", "<", ">", ">>", "..."}


def template_brackets(tokens):
    """Indices of < and > (or >>) tokens that delimit template arguments."""
    brackets = set()
    for i, t in enumerate(tokens):
        if t.text != "<" or i in brackets:
            continue
        prev = tokens[i - 1] if i > 0 else None
        if prev is None or prev.kind != "id" or prev.text == "operator":
            continue
        depth, parens, j = 1, 0, i + 1
        inner = [i]
        while j < len(tokens):
            u = tokens[j]
            if u.kind == "str":
                break
            if u.kind == "op" and u.text not in TEMPLATE_ARG_OPS:
                break
            if u.text == "&&" and parens == 0:
                break
            if u.text == "(":
                parens += 1
            elif u.text == ")":
                parens -= 1
                if parens < 0:
                    break
            elif u.text == "<":
                depth += 1
                inner.append(j)
            elif u.text in (">", ">>"):
                if parens == 0:
                    depth -= 1 if u.text == ">" else 2
                    inner.append(j)
                    if depth <= 0:
                        if depth == 0 or (depth == -1 and u.text == ">>"):
                            brackets.update(inner)
                        break
            j += 1
    return brackets


def binary_context(tokens, i):
    """Whether the operator at i stands between two operands."""
    if i == 0:
        return False
    prev = tokens[i - 1]
    if prev.kind in ("num", "str"):
        return True
    if prev.kind == "id":
        return prev.text not in PREFIX_KEYWORDS
    return prev.text in (")", "]")


CODE_BRACE_PREV = {")", "const", "noexcept", "override", "final", "else", "do", "try", "mutable",
                   "]", "{", "}", ";", ":"}


def call_statements(tokens):
    """(first, last) token indices of statements that are one call and nothing else."""
    scopes = ["decl"]  # kind of each open brace: code, init or decl
    statement_start = set()
    paren_openers = []  # for each open paren, whether it opens an if/while/for/switch header
    scopes_parens = []  # the open parens outside each open brace
    expect_start = False
    for i, t in enumerate(tokens):
        if expect_start and scopes[-1] == "code" and not paren_openers:
            statement_start.add(i)
        expect_start = False
        x = t.text
        if t.kind == "op" and x == "(":
            prev = tokens[i - 1].text if i > 0 else ""
            paren_openers.append(prev in ("if", "while", "for", "switch"))
        elif t.kind == "op" and x == ")":
            if paren_openers and paren_openers.pop():
                expect_start = not paren_openers
        elif t.kind == "op" and x == "{":
            prev = tokens[i - 1] if i > 0 else None
            kind = "init"
            back = i - 1
            while back >= 0 and tokens[back].text not in (";", "{", "}"):
                if tokens[back].text in ("class", "struct", "union", "namespace", "enum"):
                    kind = "decl"
                    break
                back -= 1
            if kind != "decl":
                if prev is None or prev.kind == "str":
                    kind = "decl"
                elif prev.text in CODE_BRACE_PREV and (
                        prev.text not in ("{", "}", ";", ":") or scopes[-1] == "code"):
                    kind = "code"
            scopes.append(kind)
            saved = paren_openers
            paren_openers = []
            scopes_parens.append(saved)
            expect_start = True
        elif t.kind == "op" and x == "}":
            if len(scopes) > 1:
                scopes.pop()
                paren_openers = scopes_parens.pop()
            expect_start = True
        elif t.kind == "op" and x == ";":
            expect_start = True
        elif t.kind == "id" and x in ("else", "do"):
            expect_start = True
    calls = []
    for s in sorted(statement_start):
        t = tokens[s]
        if t.kind != "id" or t.text in KEYWORDS:
            continue
        j = s + 1
        while j + 1 < len(tokens) and tokens[j].text in ("::", ".", "->") and \
                tokens[j + 1].kind == "id":
            j += 2
        groups = 0
        while j < len(tokens) and tokens[j].text == "(":
            depth = 0
            while j < len(tokens):
                if tokens[j].text == "(":
                    depth += 1
                elif tokens[j].text == ")":
                    depth -= 1
                    if depth == 0:
                        break
                j += 1
            j += 1
            groups += 1
        if groups and j < len(tokens) and tokens[j].text == ";":
            calls.append((s, j))
    return calls


class Mutant:
    __slots__ = ("path", "start", "end", "replacement", "label", "line_no", "line_text",
                 "occurrence")

    def key(self):
        return "%s: [%s #%d] %s" % (self.path, self.label, self.occurrence, self.line_text)


def integer_mutations(text):
    m = INTEGER_RE.match(text)
    if not m:
        return []
    digits, suffix = m.group(1), m.group(2)
    if digits[:2] in ("0x", "0X"):
        value, base = int(digits, 16), 16
    elif digits[:2] in ("0b", "0B"):
        value, base = int(digits, 2), 2
    else:
        value, base = int(digits, 10), 10
    out = []
    for v in (value + 1, value - 1):
        if v < 0:
            continue
        if base == 16:
            body = format(v, "X" if any(ch.isupper() for ch in digits[2:]) else "x")
            body = body.rjust(len(digits) - 2, "0")
            out.append(digits[:2] + body + suffix)
        elif base == 2:
            out.append(digits[:2] + format(v, "b").rjust(len(digits) - 2, "0") + suffix)
        else:
            out.append(str(v) + suffix)
    return out


COMPARISON_MUTATIONS = {
    "==": ["!="], "!=": ["=="],
    "<": [">=", "<="], "<=": [">", "<"], ">": ["<=", ">="], ">=": ["<", ">"],
}


def mutants_of(path, src):
    tokens = lex(src)
    templates = template_brackets(tokens)
    sites = []  # (start, end, replacement, label)
    for i, t in enumerate(tokens):
        x = t.text
        prev = tokens[i - 1].text if i > 0 else ""
        if t.kind == "num":
            for r in integer_mutations(x):
                sites.append((t.start, t.end, r, "%s -> %s" % (x, r)))
        if t.kind != "op" or prev == "operator":
            continue
        if x in COMPARISON_MUTATIONS and i not in templates:
            if x in ("<", ">") and not binary_context(tokens, i):
                continue
            for r in COMPARISON_MUTATIONS[x]:
                sites.append((t.start, t.end, r, "%s -> %s" % (x, r)))
        elif x in ("&&", "||"):
            spaced = t.start > 0 and src[t.start - 1].isspace() and \
                t.end < len(src) and src[t.end].isspace()
            if spaced:
                r = "||" if x == "&&" else "&&"
                sites.append((t.start, t.end, r, "%s -> %s" % (x, r)))
        elif x == "!":
            sites.append((t.start, t.end, "", "drop !"))
        elif x in ("+", "-") and binary_context(tokens, i):
            r = "-" if x == "+" else "+"
            sites.append((t.start, t.end, r, "%s -> %s" % (x, r)))
        elif x in ("+=", "-="):
            r = "-=" if x == "+=" else "+="
            sites.append((t.start, t.end, r, "%s -> %s" % (x, r)))
    for first, last in call_statements(tokens):
        sites.append((tokens[first].start, tokens[last].end, "{}", "drop call"))
    sites.sort()
    line_starts = [0] + [m.end() for m in re.finditer("\n", src)]
    lines = src.split("\n")
    seen = {}
    mutants = []
    for start, end, replacement, label in sites:
        line_no = _line_of(line_starts, start)
        line_text = " ".join(lines[line_no].split())
        k = (line_text, label)
        seen[k] = seen.get(k, 0) + 1
        m = Mutant()
        m.path, m.start, m.end, m.replacement, m.label = path, start, end, replacement, label
        m.line_no, m.line_text, m.occurrence = line_no + 1, line_text, seen[k]
        mutants.append(m)
    return mutants


def _line_of(line_starts, offset):
    lo, hi = 0, len(line_starts) - 1
    while lo < hi:
        mid = (lo + hi + 1) // 2
        if line_starts[mid] <= offset:
            lo = mid
        else:
            hi = mid - 1
    return lo


def apply(src, m):
    return src[:m.start] + m.replacement + src[m.end:]


# ---------------------------------------------------------------------------
# Files, equivalents and the sample.

def tree_files():
    out = subprocess.run(["git", "ls-files", "-co", "--exclude-standard", "-z"], cwd=ROOT,
                         check=True, stdout=subprocess.PIPE).stdout.decode()
    return sorted(p for p in out.split("\0") if p and os.path.isfile(os.path.join(ROOT, p)))


def match_any(path, patterns):
    for p in patterns:
        if fnmatch.fnmatchcase(path, p.replace("**", "*")) or path == p:
            return True
    return False


def read_equivalents(path):
    """Keys (as Mutant.key() prints them) mapped to their reasons."""
    entries = {}
    if not os.path.exists(path):
        return entries
    key = None
    with open(path, encoding="utf-8") as f:
        for number, line in enumerate(f, 1):
            line = line.rstrip("\n")
            if not line.strip() or line.startswith("#"):
                continue
            if line[0].isspace():
                if key is None or entries[key]:
                    sys.exit("%s:%d: a reason must follow its mutant, one line" % (path, number))
                entries[key] = line.strip()
            else:
                if key is not None and not entries[key]:
                    sys.exit("%s:%d: the mutant before has no reason" % (path, number - 1))
                key = " ".join(line.split())
                entries[key] = ""
    if key is not None and not entries[key]:
        sys.exit("%s: the last mutant has no reason" % path)
    return entries


def population(patterns):
    mutants = []
    for path in tree_files():
        if not match_any(path, patterns):
            continue
        with open(os.path.join(ROOT, path), encoding="utf-8") as f:
            mutants.extend(mutants_of(path, f.read()))
    return mutants


# ---------------------------------------------------------------------------
# The scratch tree and its build.

def log(text=""):
    print(text, flush=True)


def test_arch():
    probe = subprocess.run([os.path.join(ROOT, "scripts", "runs_32_bit_code.sh")],
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return "i686" if probe.returncode == 0 else "x86_64"


def sync_tree(tree):
    """Brings the scratch tree to the working tree's content. Files are
    rewritten only where their content differs, so the build sees exactly
    what changed (times are never copied: a file put back after a mutant is
    newer than the objects built from the mutant)."""
    wanted = set(tree_files())
    for path in wanted:
        source = os.path.join(ROOT, path)
        target = os.path.join(tree, path)
        with open(source, "rb") as f:
            data = f.read()
        if os.path.exists(target):
            with open(target, "rb") as f:
                if f.read() == data:
                    shutil.copymode(source, target)
                    continue
        os.makedirs(os.path.dirname(target), exist_ok=True)
        with open(target, "wb") as f:
            f.write(data)
        shutil.copymode(source, target)
    for dirpath, dirnames, filenames in os.walk(tree):
        rel_dir = os.path.relpath(dirpath, tree)
        if rel_dir == ".":
            dirnames[:] = [d for d in dirnames if d not in ("build", "dist", ".git")]
        for name in filenames:
            rel = os.path.normpath(os.path.join(rel_dir, name))
            if rel not in wanted:
                os.remove(os.path.join(dirpath, name))


def write_file(path, text):
    with open(path, "w", encoding="utf-8", newline="") as f:
        f.write(text)


def outputs(build):
    """Content hashes of every program and DLL of the build."""
    hashes = {}
    for dirpath, _, filenames in os.walk(build):
        if "wineprefix" in dirpath or "CMakeFiles" in dirpath:
            continue
        for name in filenames:
            if name.endswith((".exe", ".dll")):
                path = os.path.join(dirpath, name)
                with open(path, "rb") as f:
                    hashes[path] = hashlib.sha1(f.read()).hexdigest()
    return hashes


class Runner:
    def __init__(self, args, arch):
        self.args = args
        self.arch = arch
        self.work = os.path.join(ROOT, "build", "mutation-" + arch)
        self.tree = os.path.join(self.work, "tree")
        self.build = os.path.join(self.tree, "build", "tests-" + arch)
        self.xvfb = None
        self.env = dict(os.environ)
        self.prefix_started = False

    def run(self, cmd, timeout=None, env=None, cwd=None):
        """Runs cmd in its own process group; returns (exit code or None on
        time-out, combined output)."""
        with tempfile.TemporaryFile() as out:
            p = subprocess.Popen(cmd, stdout=out, stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL,
                                 env=env or self.env, cwd=cwd or self.tree, start_new_session=True)
            try:
                rc = p.wait(timeout=timeout)
            except subprocess.TimeoutExpired:
                os.killpg(p.pid, signal.SIGKILL)
                p.wait()
                rc = None
            except BaseException:
                os.killpg(p.pid, signal.SIGKILL)
                raise
            out.seek(0)
            return rc, out.read().decode(errors="replace")

    def configure(self):
        os.makedirs(self.tree, exist_ok=True)
        sync_tree(self.tree)
        # Tools that set-up fetched into the working tree's build folder
        # (the Inno Setup compiler) serve the scratch tree too.
        tools = os.path.join(ROOT, "build", "tools")
        link = os.path.join(self.tree, "build", "tools")
        if os.path.isdir(tools) and not os.path.lexists(link):
            os.makedirs(os.path.dirname(link), exist_ok=True)
            os.symlink(tools, link)
        if not os.path.exists(os.path.join(self.build, "CMakeCache.txt")):
            rc, out = self.run(["cmake", "--preset", "tests-" + self.arch, "-DLAUNCHER_WERROR=OFF"])
            if rc != 0:
                sys.exit("configuring the scratch build failed:\n" + out)
        rc, out = self.build_targets(None)
        if rc != 0:
            sys.exit("the scratch tree does not build unchanged:\n" + out[-4000:])
        rc, out = self.run(["ctest", "--show-only=json-v1"], cwd=self.build)
        tests = json.loads(out)["tests"]
        self.units, self.e2e, self.prefix = [], None, None
        for t in tests:
            props = {p["name"]: p["value"] for p in t.get("properties", [])}
            cmd = t.get("command") or []
            # Plain GoogleTest programs; not the runner's own checks, which pass on a failure.
            verdict = {"WILL_FAIL", "PASS_REGULAR_EXPRESSION", "FAIL_REGULAR_EXPRESSION"}
            if cmd and cmd[0].endswith("wine-gtest.sh") and not verdict & set(props):
                self.units.append({"name": t["name"], "command": cmd,
                                   "folder": os.path.dirname(cmd[1])})
            elif t["name"] == "e2e":
                self.e2e = {"command": cmd, "env": props.get("ENVIRONMENT", [])}
            elif t["name"] == "wine_prefix_start":
                self.prefix = cmd
        if not self.units or not self.e2e or not self.prefix:
            sys.exit("the scratch build lists no unit tests, e2e suite or prefix set-up")
        self.baseline = outputs(self.build)

    def build_targets(self, targets):
        cmd = ["cmake", "--build", self.build, "-j", str(self.args.jobs)]
        if targets:
            cmd += ["--target"] + targets
        return self.run(cmd)

    def start_display(self):
        fd_r, fd_w = os.pipe()
        self.xvfb = subprocess.Popen(
            ["Xvfb", "-displayfd", str(fd_w), "-screen", "0", "1280x1024x24", "-nolisten", "tcp"],
            pass_fds=(fd_w,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
            start_new_session=True)
        os.close(fd_w)
        number = b""
        while not number.endswith(b"\n"):
            chunk = os.read(fd_r, 16)
            if not chunk:
                sys.exit("Xvfb did not start")
            number += chunk
        os.close(fd_r)
        self.env["DISPLAY"] = ":" + number.decode().strip()

    def start_prefix(self):
        rc, out = self.run(self.prefix, timeout=600)
        if rc != 0:
            sys.exit("the Wine prefix did not start:\n" + out)
        self.prefix_started = True

    def stop(self):
        if self.prefix_started:
            stop = [self.prefix[0], "stop"]
            self.run(stop, timeout=60)
        if self.xvfb:
            os.killpg(self.xvfb.pid, signal.SIGTERM)
            self.xvfb.wait()

    def run_unit(self, unit, timeout):
        env = dict(self.env)
        env["GTEST_FAIL_FAST"] = "1"
        env["LAUNCHER_TEST_TIMEOUT"] = str(int(timeout))
        rc, out = self.run(unit["command"], timeout=timeout + 30, env=env, cwd=unit["folder"])
        if rc is None:
            self.start_prefix()  # ends what the stuck run left behind
        return rc, out

    def run_e2e(self, timeout, cases=None):
        """The end-to-end suite, stopping at the first failure; only `cases`
        (pytest node ids) when given."""
        env = dict(self.env)
        for item in self.e2e["env"]:
            k, _, v = item.partition("=")
            env[k] = v
        cmd = list(self.e2e["command"])
        cmd.insert(cmd.index("pytest") + 1, "-x")
        if cases:
            cmd = cmd[:-1] + list(cases)
        rc, out = self.run(cmd, timeout=timeout, env=env, cwd=self.build)
        if rc is None:
            self.start_prefix()
        return rc, out


def running_case(out):
    """The GoogleTest case that a crashed program had started last."""
    started = re.findall(r"^\[ RUN      \] (\S+)", out, re.M)
    return started[-1] if started else "its start-up"


def failing_cases(out):
    names = re.findall(r"^(?:FAILED|ERROR) (\S+)", out, re.M)
    names += re.findall(r"^\[  FAILED  \] ([^\s,]+)", out, re.M)
    return names


def main():
    parser = argparse.ArgumentParser(
        description="Applies a seeded sample of mutants of the product code one at a time in "
                    "a scratch copy of the tree and runs the tests against each.")
    parser.add_argument("--seed", type=int, default=29, help="sample seed (default 29)")
    parser.add_argument("--count", type=int, default=200, help="mutants in the sample (default 200)")
    parser.add_argument("--files", nargs="+", default=DEFAULT_FILES, metavar="GLOB",
                        help="files that mutants are drawn from (default: %s)" %
                        " ".join(DEFAULT_FILES))
    parser.add_argument("--only", action="append", default=[], metavar="TEXT",
                        help="of the sample, run only mutants whose line (as printed) contains "
                             "TEXT; may be repeated")
    parser.add_argument("--all", action="store_true",
                        help="take every mutant of the files instead of a sample")
    parser.add_argument("--list", action="store_true",
                        help="print the sampled mutants with their changed lines and stop")
    parser.add_argument("--arch", choices=["i686", "x86_64"],
                        help="test build to use (default: the one the tests use here)")
    parser.add_argument("--jobs", type=int, default=2, help="build jobs (default 2)")
    parser.add_argument("--no-e2e", action="store_true",
                        help="stop at the unit tests (a unit survivor counts as survived)")
    parser.add_argument("--no-baseline", action="store_true",
                        help="skip the end-to-end run of the unchanged tree (it sets the "
                             "end-to-end time-out, else an hour)")
    parser.add_argument("--equivalents", default=EQUIVALENTS, help=argparse.SUPPRESS)
    args = parser.parse_args()
    # A stopped run still puts the source back and ends what it started.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))

    equivalents = read_equivalents(args.equivalents)
    everything = population(args.files)
    if not everything:
        sys.exit("no mutants in %s" % " ".join(args.files))
    if args.all:
        sample = list(everything)
    else:
        sample = random.Random(args.seed).sample(everything, min(args.count, len(everything)))
    keys = {m.key() for m in everything}
    stale = [k for k in equivalents if k not in keys and match_any(k.split(":")[0], args.files)]
    if args.only:
        sample = [m for m in sample if any(o in m.key() for o in args.only)]
    # Mutants of one file one after the other: each file is compiled once per mutant.
    order = sorted(range(len(sample)), key=lambda i: (sample[i].path, sample[i].start, i))
    sources = {}
    for m in sample:
        if m.path not in sources:
            with open(os.path.join(ROOT, m.path), encoding="utf-8") as f:
                sources[m.path] = f.read()

    log("mutation: %d mutants in %d files, sample of %d (seed %d), %d listed equivalent" %
        (len(everything), len({m.path for m in everything}), len(sample), args.seed,
         len(equivalents)))
    for k in stale:
        log("mutation: the equivalents file lists a mutant that no longer exists: " + k)
    if args.list:
        for n, i in enumerate(order, 1):
            m = sample[i]
            mutated = apply(sources[m.path], m).split("\n")[m.line_no - 1].strip()
            tag = " (equivalent)" if m.key() in equivalents else ""
            log("%3d %s:%d%s\n    %s\n    %s" % (n, m.path, m.line_no, tag, m.key(), mutated))
        return 0

    arch = args.arch or test_arch()
    runner = Runner(args, arch)
    started = time.time()
    log("mutation: scratch tree %s (%s build)" % (os.path.relpath(runner.tree, ROOT), arch))
    runner.configure()
    unit_targets = [u["name"] for u in runner.units]
    runner.start_display()
    counts = {"killed": 0, "survived": 0, "did not build": 0, "equivalent": 0}
    results = []
    try:
        runner.start_prefix()
        # The unchanged tree must pass; its times set the time-outs.
        unit_time = {}
        for unit in runner.units:
            t0 = time.time()
            rc, out = runner.run_unit(unit, 900)
            unit_time[unit["name"]] = time.time() - t0
            if rc != 0:
                sys.exit("%s fails on the unchanged tree:\n%s" % (unit["name"], out[-4000:]))
        units_by_time = sorted(runner.units, key=lambda u: unit_time[u["name"]])
        log("mutation: unchanged tree passes the unit tests (%s) in %.0f s" %
            (", ".join("%s %.1f s" % (u["name"], unit_time[u["name"]]) for u in units_by_time),
             time.time() - started))
        e2e_timeout = 3600
        if not args.no_e2e and not args.no_baseline:
            t0 = time.time()
            rc, out = runner.run_e2e(e2e_timeout)
            if rc != 0:
                sys.exit("the end-to-end tests fail on the unchanged tree:\n" + out[-6000:])
            e2e_time = time.time() - t0
            e2e_timeout = max(600, 3 * e2e_time)
            log("mutation: unchanged tree passes the end-to-end tests in %.0f s" % e2e_time)
        # The end-to-end cases that killed earlier mutants of each file run
        # first for its next mutants.
        killers_path = os.path.join(runner.work, "e2e-killers.json")
        try:
            with open(killers_path) as f:
                killers = json.load(f)
        except (OSError, ValueError):
            killers = {}

        for n, i in enumerate(order, 1):
            m = sample[i]
            t0 = time.time()
            detail = ""
            if m.key() in equivalents:
                status = "equivalent"
            else:
                path = os.path.join(runner.tree, m.path)
                write_file(path, apply(sources[m.path], m))
                try:
                    status, detail = None, ""
                    rc, out = runner.build_targets(unit_targets)
                    if rc != 0:
                        status = "did not build"
                    else:
                        now = outputs(runner.build)
                        changed = {p for p, h in now.items() if runner.baseline.get(p) != h}
                        for unit in units_by_time:
                            if not any(os.path.dirname(p) == unit["folder"] for p in changed):
                                continue
                            timeout = max(120, 5 * unit_time[unit["name"]])
                            rc, out = runner.run_unit(unit, timeout)
                            if rc != 0:
                                status = "killed"
                                cases = failing_cases(out)
                                detail = unit["name"] + (
                                    " (time-out)" if rc is None else
                                    " crashed in " + running_case(out)
                                    if "Unhandled exception" in out else
                                    ": " + cases[0] if cases else "")
                                break
                    if status is None:
                        rc, out = runner.build_targets(None)
                        if rc != 0:
                            status = "did not build"
                        else:
                            now = outputs(runner.build)
                            changed = [p for p, h in now.items() if runner.baseline.get(p) != h]
                            if not changed:
                                # The tests would run the very programs they
                                # passed: nothing can tell this mutant apart.
                                status, detail = "equivalent", "no program changed"
                            elif args.no_e2e:
                                status, detail = "survived", "unit tests only"
                            else:
                                # The cases, then the files, that killed earlier
                                # mutants of this file; then the whole suite.
                                rc = 0
                                known = killers.get(m.path, [])
                                known_files = sorted({k.split("::")[0] for k in known})
                                for cases in (known, known_files, None):
                                    if rc == 0 and (cases is None or cases):
                                        rc, out = runner.run_e2e(e2e_timeout, cases)
                                if rc == 0:
                                    status, detail = "survived", "unit and e2e"
                                else:
                                    status = "killed"
                                    cases = failing_cases(out)
                                    if cases and cases[0] not in known:
                                        killers[m.path] = [cases[0]] + known[:4]
                                        with open(killers_path, "w") as f:
                                            json.dump(killers, f, indent=1)
                                    detail = "e2e" + (": " + cases[0] if cases else
                                                      " (time-out)" if rc is None else "")
                finally:
                    write_file(path, sources[m.path])
            counts[status] += 1
            results.append((status, m, detail))
            log("%3d/%d %-13s %4.0f s  %s%s" % (n, len(sample), status, time.time() - t0, m.key(),
                                               "  <- " + detail if detail else ""))
    finally:
        runner.stop()

    survivors = [(m, d) for s, m, d in results if s == "survived"]
    if survivors:
        log("survivors:")
        for m, d in survivors:
            mutated = apply(sources[m.path], m).split("\n")[m.line_no - 1].strip()
            log("  %s:%d  %s\n      %s" % (m.path, m.line_no, m.key(), mutated))
    scored = counts["killed"] + counts["survived"]
    score = 100.0 * counts["killed"] / scored if scored else 0.0
    minutes, seconds = divmod(int(time.time() - started), 60)
    log("mutation: time %d min %02d s" % (minutes, seconds))
    log("mutation: %d killed, %d survived, %d did not build, %d equivalent; score %.1f %%" %
        (counts["killed"], counts["survived"], counts["did not build"], counts["equivalent"],
         score))
    return 0


if __name__ == "__main__":
    sys.exit(main())
