#!/usr/bin/env python3
"""Drives `qol --lsp` as an editor would: initialize, didOpen, the
diagnostics, hover, completion, definition, references, document symbols,
didChange, shutdown and exit; then bad input (JSON that is not JSON or not
an object, invalid UTF-8, positions past the end, a 10 MB document, 10 000
changes, standard input closed inside a message). Usage: lsp_protocol_test.py QOL"""
import json
import os
import select
import subprocess
import sys
import time

QOL = sys.argv[1]
FAILURES = []


def check(condition, what):
    if not condition:
        FAILURES.append(what)
        print("FAIL:", what, file=sys.stderr)


class Client:
    def __init__(self):
        # Under AddressSanitizer freed memory waits in a quarantine: keep it
        # small, so that the resident size shows what the server keeps.
        env = dict(os.environ)
        env["ASAN_OPTIONS"] = (env.get("ASAN_OPTIONS", "") + ":quarantine_size_mb=1").lstrip(":")
        self.proc = subprocess.Popen([QOL, "--lsp"], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                     stderr=subprocess.DEVNULL, env=env)
        self.buffer = b""
        self.next_id = 0
        self.notes = []  # notifications received while waiting for responses

    def send_raw(self, body):
        self.proc.stdin.write(b"Content-Length: %d\r\n\r\n" % len(body) + body)
        self.proc.stdin.flush()

    def send(self, message):
        message["jsonrpc"] = "2.0"
        self.send_raw(json.dumps(message).encode("utf-8"))

    def receive(self, timeout=20.0):
        deadline = time.monotonic() + timeout
        while True:
            end = self.buffer.find(b"\r\n\r\n")
            if end >= 0:
                length = int(self.buffer[:end].split(b":")[1])
                if len(self.buffer) >= end + 4 + length:
                    body = self.buffer[end + 4:end + 4 + length]
                    self.buffer = self.buffer[end + 4 + length:]
                    return json.loads(body)
            left = deadline - time.monotonic()
            if left <= 0:
                raise TimeoutError("no message from the server")
            ready, _, _ = select.select([self.proc.stdout], [], [], left)
            if ready:
                chunk = os.read(self.proc.stdout.fileno(), 1 << 20)
                if not chunk:
                    raise EOFError("the server closed its output")
                self.buffer += chunk

    def request(self, method, params):
        self.next_id += 1
        self.send({"id": self.next_id, "method": method, "params": params})
        while True:
            message = self.receive()
            if message.get("id") == self.next_id:
                return message
            self.notes.append(message)

    def diagnostics(self, uri, version=None):
        while True:
            for i, note in enumerate(self.notes):
                if note.get("method") == "textDocument/publishDiagnostics" and note["params"]["uri"] == uri and \
                        (version is None or note["params"].get("version") == version):
                    del self.notes[i]
                    return note["params"]["diagnostics"]
            self.notes.append(self.receive(60.0))


def at(line, character):
    return {"line": line, "character": character}


URI = "file:///tmp/session.qol"
TEXT = ("x = 1;\n"
        "y = nosuch + 1;\n"
        "z = left('中文abc', 2);\n"
        "#add(a, b) { return a + b; }\n"
        "w = add(x, 2);\n"
        "s = '😀'; t = q2;\n"
        "#fin: goto fin;\n")

c = Client()
init = c.request("initialize", {"processId": None, "rootUri": None, "capabilities": {}})
caps = init["result"]["capabilities"]
check(caps["textDocumentSync"]["change"] == 1 and caps["hoverProvider"], "initialize announces full sync and hover")
c.send({"method": "initialized", "params": {}})
c.send({"method": "textDocument/didOpen",
        "params": {"textDocument": {"uri": URI, "languageId": "qol", "version": 1, "text": TEXT}}})

found = {(d["code"], d["range"]["start"]["line"], d["range"]["start"]["character"], d["range"]["end"]["character"],
          d["severity"]) for d in c.diagnostics(URI, 1)}
check(("undefined-name", 1, 4, 10, 1) in found, "nosuch is an undefined name at 2:5-11: %s" % found)
# UTF-16 columns: the emoji is two units, and GBK has no form for it
check(("undefined-name", 5, 14, 16, 1) in found, "q2 after the emoji sits at UTF-16 column 14: %s" % found)
check(("gbk-unmappable", 5, 5, 7, 2) in found, "the emoji is a warning covering two units: %s" % found)
check(len(found) == 3, "no other finding: %s" % found)

hover = c.request("textDocument/hover", {"textDocument": {"uri": URI}, "position": at(2, 5)})["result"]
check(hover and "`left(s, n)`" in hover["contents"]["value"], "hover on left shows its reference entry: %s" % hover)
hover = c.request("textDocument/hover", {"textDocument": {"uri": URI}, "position": at(4, 5)})["result"]
check(hover and "#add(a, b)" in hover["contents"]["value"], "hover on add shows its definition line: %s" % hover)
hover = c.request("textDocument/hover", {"textDocument": {"uri": URI}, "position": at(2, 11)})["result"]
check(hover is None, "hover inside a literal's Chinese text shows nothing: %s" % hover)

items = c.request("textDocument/completion", {"textDocument": {"uri": URI}, "position": at(4, 4)})["result"]["items"]
labels = {i["label"] for i in items}
check({"left", "add", "x", "while", "print"} <= labels, "completion offers built-ins, functions, variables")
check(any(i["label"] == "mid" and i.get("detail") == "mid(s, start [, count])" for i in items),
      "a built-in comes with its argument list")
items = c.request("textDocument/completion", {"textDocument": {"uri": URI}, "position": at(6, 11)})["result"]["items"]
check([i["label"] for i in items] == ["fin"], "after goto only labels: %s" % items)

definition = c.request("textDocument/definition", {"textDocument": {"uri": URI}, "position": at(4, 5)})["result"]
check(definition and definition["range"]["start"] == at(3, 1), "add's definition: %s" % definition)
definition = c.request("textDocument/definition", {"textDocument": {"uri": URI}, "position": at(4, 8)})["result"]
check(definition and definition["range"]["start"] == at(0, 0), "x's first assignment: %s" % definition)
refs = c.request("textDocument/references", {"textDocument": {"uri": URI}, "position": at(0, 0),
                                              "context": {"includeDeclaration": True}})["result"]
check(sorted((r["range"]["start"]["line"], r["range"]["start"]["character"]) for r in refs) == [(0, 0), (4, 8)],
      "references of x: %s" % refs)
symbols = c.request("textDocument/documentSymbol", {"textDocument": {"uri": URI}})["result"]
check([(s["name"], s["kind"]) for s in symbols] == [("add", 12), ("fin", 20)], "symbols: %s" % symbols)

c.send({"method": "textDocument/didChange", "params": {"textDocument": {"uri": URI, "version": 2},
                                                        "contentChanges": [{"text": "a = nosuch2;\n"}]}})
found = c.diagnostics(URI, 2)
check([d["message"] for d in found] == ["'nosuch2' is read, but no statement of the text assigns it"],
      "diagnostics of the changed text: %s" % found)

# bad input
c.send_raw(b"{not json")
reply = c.receive()
check(reply.get("error", {}).get("code") == -32700 and reply.get("id") is None, "invalid JSON: %s" % reply)
c.send_raw(b"[1, 2]")
reply = c.receive()
check(reply.get("error", {}).get("code") == -32600, "JSON that is not an object: %s" % reply)
c.send_raw(b'{"jsonrpc":"2.0","id":77,"method":"textDocument/hover","params":{"x":"\xff\xfe"}}')
reply = c.receive()
check(reply.get("error", {}).get("code") == -32700, "invalid UTF-8: %s" % reply)
c.send_raw(b'{"jsonrpc":"2.0","id":78,"method":"initialize","params":' + b'{"a":' * 300000 + b'1' + b'}' * 300001)
reply = c.receive()
check(reply.get("error", {}).get("code") == -32600, "JSON nested 300 000 deep: %s" % reply)
reply = c.request("no/such", {})
check(reply.get("error", {}).get("code") == -32601, "unknown method: %s" % reply)
reply = c.request("textDocument/hover", {"textDocument": {"uri": URI}, "position": at(999, 999)})
check("result" in reply and reply["result"] is None, "a position past the end: %s" % reply)
reply = c.request("textDocument/hover", {"textDocument": {"uri": "file:///not/open"}, "position": at(0, 0)})
check(reply.get("error", {}).get("code") == -32602, "a document that is not open: %s" % reply)
reply = c.request("textDocument/definition", {"textDocument": {"uri": URI}, "position": "here"})
check(reply.get("error", {}).get("code") == -32602, "a position that is not an object: %s" % reply)

big_uri = "file:///tmp/big.qol"
big = ("s = s + '中文' + left('abc', 1); // %s\n" % ("x" * 40)) * 160000
check(len(big.encode()) > 10 << 20, "the big document has 10 MB")
c.send({"method": "textDocument/didOpen",
        "params": {"textDocument": {"uri": big_uri, "languageId": "qol", "version": 1, "text": big}}})
check(c.diagnostics(big_uri, 1) == [], "a 10 MB document is analysed")

def rss(pid):
    with open("/proc/%d/status" % pid) as status:
        return next(int(l.split()[1]) for l in status if l.startswith("VmRSS"))

c.send({"method": "textDocument/didClose", "params": {"textDocument": {"uri": big_uri}}})
c.request("textDocument/documentSymbol", {"textDocument": {"uri": URI}})
before = rss(c.proc.pid)
for version in range(3, 10003):
    c.send({"method": "textDocument/didChange",
            "params": {"textDocument": {"uri": URI, "version": version},
                       "contentChanges": [{"text": "a%d = 1;\n#f(x) { return x + a%d; }\n" % (version, version)}]}})
symbols = c.request("textDocument/documentSymbol", {"textDocument": {"uri": URI}})["result"]
check([s["name"] for s in symbols] == ["f"], "the last of 10 000 changes holds")
check(rss(c.proc.pid) - before < 20000, "memory stays flat over 10 000 changes (%d KB more)" % (rss(c.proc.pid) - before))

reply = c.request("shutdown", None)
check("result" in reply and reply["result"] is None, "shutdown: %s" % reply)
c.send({"method": "exit"})
check(c.proc.wait(10) == 0, "exit after shutdown ends the server with status 0")

# standard input closed in the middle of a message
c = Client()
c.proc.stdin.write(b"Content-Length: 100\r\n\r\n{\"jsonrpc\":")
c.proc.stdin.close()
status = c.proc.wait(10)
check(status == 1, "input closed inside a message ends the server with status 1, not a crash: %s" % status)

if FAILURES:
    sys.exit(1)
print("all protocol checks passed")
