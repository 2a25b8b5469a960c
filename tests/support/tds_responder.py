#!/usr/bin/env python3
"""A scripted TDS responder on the loopback, for testing the station's ODBC
path with a real driver (FreeTDS) without a SQL Server.

It speaks just enough of TDS 7.x to accept a login (no encryption), SQL
batches, RPC calls (sp_executesql, sp_prepare, sp_execute, sp_prepexec,
sp_unprepare) and transaction-manager requests, and answers each statement
from a script. Everything it receives is logged, one JSON object a line: the
login's user, password and database as the server decoded them, each
statement's text, and each parameter's TDS type, declared size and the bytes
that arrived.

    tds_responder.py --script FILE --log FILE --port-file FILE

The script is a JSON list of rules, tried in order for every statement; the
first whose "sql" regular expression is found in the statement text (and
whose "params", a list of hex strings, equals the parameters' bytes, when
given) decides the answer:

    {"sql": "select bh", "params": ["58805a"],
     "columns": [["bh", "int"], ["prned", "bit"]], "rows": [[7, 0]]}
    {"sql": "insert", "rowcount": 1}
    {"sql": "drop", "error": "Cannot drop the table", "number": 3701}

Column types: "int", "bit", "varchar", "varbinary". A statement no rule
matches gets a plain done with no row count. The responder binds
127.0.0.1 on a free port, writes the port number to --port-file, and ends
when its standard input closes, so it never outlives the test that started
it.
"""

import argparse
import json
import re
import socket
import struct
import sys
import threading

# Packet types
PKT_BATCH, PKT_RPC, PKT_REPLY, PKT_ATTENTION, PKT_TM, PKT_LOGIN7, PKT_PRELOGIN = (
    0x01, 0x03, 0x04, 0x06, 0x0E, 0x10, 0x12)

# Collation announced by the server and put on its varchar columns:
# Chinese_PRC_CI_AS (LCID 0x0804, code page 936).
COLLATION = struct.pack("<I", 0x0804 | (0x0D << 20)) + b"\x00"

PROCS = {1: "sp_cursor", 10: "sp_executesql", 11: "sp_prepare", 12: "sp_execute",
         13: "sp_prepexec", 14: "sp_prepexecrpc", 15: "sp_unprepare"}

TYPE_NAMES = {0x30: "tinyint", 0x32: "bit", 0x34: "smallint", 0x38: "int", 0x7F: "bigint",
              0x26: "intn", 0x68: "bitn", 0x6D: "floatn", 0x3E: "float", 0xA7: "varchar",
              0xAF: "char", 0xE7: "nvarchar", 0xEF: "nchar", 0xA5: "varbinary",
              0xAD: "binary", 0x23: "text", 0x63: "ntext", 0x22: "image", 0x6A: "decimal",
              0x6C: "numeric", 0x6F: "datetimen", 0x3D: "datetime", 0x24: "guid"}


class Reader:
    def __init__(self, data):
        self.d, self.p = data, 0

    def take(self, n):
        v = self.d[self.p:self.p + n]
        if len(v) != n:
            raise ValueError("short message")
        self.p += n
        return v

    def u8(self):
        return self.take(1)[0]

    def u16(self):
        return struct.unpack("<H", self.take(2))[0]

    def u32(self):
        return struct.unpack("<I", self.take(4))[0]

    def u64(self):
        return struct.unpack("<Q", self.take(8))[0]

    def bvarchar(self):
        return self.take(2 * self.u8()).decode("utf-16-le")

    def done(self):
        return self.p >= len(self.d)


def read_type_info(r):
    t = r.u8()
    info = {"tds": t, "type": TYPE_NAMES.get(t, hex(t))}
    fixed = {0x30: 1, 0x32: 1, 0x34: 2, 0x38: 4, 0x7F: 8, 0x3E: 8, 0x3B: 4, 0x3D: 8, 0x3A: 4,
             0x7A: 4, 0x3C: 8, 0x1F: 0}
    if t in fixed:
        info["fixed"] = fixed[t]
    elif t in (0x26, 0x68, 0x6D, 0x6E, 0x6F, 0x24, 0x29, 0x2A, 0x2B, 0x28):
        info["size"] = r.u8() if t not in (0x28,) else 0
        if t in (0x29, 0x2A, 0x2B):
            info["scale"] = info["size"]
    elif t in (0x6A, 0x6C):
        info["size"], info["precision"], info["scale"] = r.u8(), r.u8(), r.u8()
    elif t in (0xA7, 0xAF, 0xE7, 0xEF):
        info["size"] = r.u16()
        info["collation"] = r.take(5).hex()
    elif t in (0xA5, 0xAD):
        info["size"] = r.u16()
    elif t in (0x23, 0x63):
        info["size"] = r.u32()
        info["collation"] = r.take(5).hex()
    elif t == 0x22:
        info["size"] = r.u32()
    else:
        raise ValueError("type %#x not understood" % t)
    return info


def read_value(r, info):
    t = info["tds"]
    if "fixed" in info:
        return r.take(info["fixed"])
    if t in (0x23, 0x63, 0x22):
        n = r.u32()
        return None if n == 0xFFFFFFFF else r.take(n)
    if t in (0xA7, 0xAF, 0xE7, 0xEF, 0xA5, 0xAD):
        if info["size"] == 0xFFFF:  # (max) types: partially length-prefixed
            total = r.u64()
            if total == 0xFFFFFFFFFFFFFFFF:
                return None
            out = b""
            while True:
                n = r.u32()
                if n == 0:
                    return out
                out += r.take(n)
        n = r.u16()
        return None if n == 0xFFFF else r.take(n)
    n = r.u8()
    return None if n == 0 and t != 0x24 else r.take(n)


def skip_all_headers(r):
    total = r.u32()
    r.take(total - 4)


def b_varchar(s):
    e = s.encode("utf-16-le")
    return bytes([len(e) // 2]) + e


def us_varchar(s):
    e = s.encode("utf-16-le")
    return struct.pack("<H", len(e) // 2) + e


def envchange(kind, new, old=b""):
    body = bytes([kind]) + new + old
    return b"\xE3" + struct.pack("<H", len(body)) + body


def done(token=0xFD, status=0, rowcount=None):
    if rowcount is not None:
        status |= 0x10
    if token == 0xFF:  # inside a procedure call: its return status and end follow
        status |= 0x01
    return bytes([token]) + struct.pack("<HHQ", status, 0, rowcount or 0)


def error_token(number, text):
    body = (struct.pack("<IBB", number, 1, 16) + us_varchar(text) + b_varchar("responder") +
            b_varchar("") + struct.pack("<I", 1))
    return b"\xAA" + struct.pack("<H", len(body)) + body


COLUMN_TYPES = {
    "int": (b"\x26\x04", lambda v: b"\x04" + struct.pack("<i", v) if v is not None else b"\x00"),
    "bit": (b"\x68\x01", lambda v: b"\x01" + bytes([1 if v else 0]) if v is not None else b"\x00"),
}


def column_meta(name, kind):
    if kind in COLUMN_TYPES:
        ti = COLUMN_TYPES[kind][0]
    elif kind == "varchar":
        ti = b"\xA7" + struct.pack("<H", 8000) + COLLATION
    elif kind == "varbinary":
        ti = b"\xA5" + struct.pack("<H", 8000)
    else:
        raise ValueError(kind)
    return struct.pack("<IH", 0, 0x01) + ti + b_varchar(name)


def column_value(kind, v):
    if kind in COLUMN_TYPES:
        return COLUMN_TYPES[kind][1](v)
    if v is None:
        return b"\xFF\xFF"
    data = bytes.fromhex(v) if isinstance(v, str) and kind == "varbinary" else (
        v.encode("latin-1") if isinstance(v, str) else bytes(v))
    return struct.pack("<H", len(data)) + data


class Session:
    def __init__(self, sock, server):
        self.sock, self.server = sock, server
        self.txn = 0
        self.next_handle = 1

    def recv_message(self):
        data, ptype = b"", None
        while True:
            head = self._recv_exact(8)
            if head is None:
                return None, None
            ptype, status, length = head[0], head[1], struct.unpack(">H", head[2:4])[0]
            data += self._recv_exact(length - 8) or b""
            if status & 0x01:
                return ptype, data

    def _recv_exact(self, n):
        buf = b""
        while len(buf) < n:
            chunk = self.sock.recv(n - len(buf))
            if not chunk:
                return None
            buf += chunk
        return buf

    def send(self, payload, ptype=PKT_REPLY):
        size, pid = 4096 - 8, 1
        chunks = [payload[i:i + size] for i in range(0, len(payload), size)] or [b""]
        for i, c in enumerate(chunks):
            last = i == len(chunks) - 1
            self.sock.sendall(struct.pack(">BBHHBB", ptype, 1 if last else 0, len(c) + 8, 0,
                                          pid & 0xFF, 0) + c)
            pid += 1

    def run(self):
        try:
            while True:
                ptype, data = self.recv_message()
                if ptype is None:
                    return
                if ptype == PKT_PRELOGIN:
                    self.prelogin()
                elif ptype == PKT_LOGIN7:
                    self.login(data)
                elif ptype == PKT_BATCH:
                    r = Reader(data)
                    skip_all_headers(r)
                    sql = r.take(len(data) - r.p).decode("utf-16-le")
                    self.server.log({"kind": "batch", "sql": sql})
                    self.send(self.answer(sql, [], 0xFD))
                elif ptype == PKT_RPC:
                    self.rpc(data)
                elif ptype == PKT_TM:
                    self.transaction(data)
                elif ptype == PKT_ATTENTION:
                    # the client cancels what it has not read: acknowledge
                    self.server.log({"kind": "attention"})
                    self.send(done(status=0x20))
                else:
                    self.server.log({"kind": "unknown", "type": ptype})
                    self.send(error_token(50000, "unexpected packet") + done(status=0x02))
        except (ConnectionError, OSError):
            return
        except Exception as e:  # a message this responder cannot read
            self.server.log({"kind": "failure", "error": repr(e)})
        finally:
            self.sock.close()

    def prelogin(self):
        options = [(0x00, struct.pack(">IH", 0x10000000, 0)), (0x01, b"\x02"), (0x02, b"\x00"),
                   (0x03, b""), (0x04, b"\x00")]
        head_len = 5 * len(options) + 1
        head, body = b"", b""
        for token, value in options:
            head += struct.pack(">BHH", token, head_len + len(body), len(value))
            body += value
        self.send(head + b"\xFF" + body)

    def login(self, data):
        r = Reader(data)
        fields = {}
        names = ["host", "user", "password", "app", "server", "extension", "library",
                 "language", "database"]
        r.p = 36
        pairs = []
        for name in names:
            pairs.append((name, r.u16(), r.u16()))
        for name, off, length in pairs:
            raw = data[off:off + 2 * length]
            if name == "password":
                raw = bytes((((b ^ 0xA5) >> 4) | (((b ^ 0xA5) & 0x0F) << 4)) for b in raw)
            if name != "extension":
                fields[name] = raw.decode("utf-16-le", errors="replace")
        tds_version = struct.unpack("<I", data[4:8])[0]
        self.server.log({"kind": "login", "tds_version": hex(tds_version),
                         "user": fields["user"], "password": fields["password"],
                         "database": fields["database"], "server": fields["server"],
                         # as UTF-8 bytes, for comparing with what was typed
                         "user_hex": fields["user"].encode("utf-8").hex(),
                         "password_hex": fields["password"].encode("utf-8").hex(),
                         "database_hex": fields["database"].encode("utf-8").hex()})
        bad = self.server.refuse_login(fields)
        if bad:
            self.send(error_token(18456, bad) + done(status=0x02))
            return
        db = fields["database"] or "master"
        ack_body = (b"\x01" + struct.pack(">I", 0x74000004) + b_varchar("Microsoft SQL Server") +
                    bytes([16, 0, 0, 1]))
        out = (envchange(1, b_varchar(db), b_varchar("master")) +
               envchange(7, bytes([len(COLLATION)]) + COLLATION, b"\x00") +
               envchange(2, b_varchar("us_english"), b_varchar("")) +
               b"\xAD" + struct.pack("<H", len(ack_body)) + ack_body +
               envchange(4, b_varchar("4096"), b_varchar("4096")) + done())
        self.send(out)

    def transaction(self, data):
        r = Reader(data)
        skip_all_headers(r)
        request = r.u16()
        names = {5: "begin", 7: "commit", 8: "rollback", 9: "save"}
        self.server.log({"kind": "tm", "request": names.get(request, request)})
        if request == 5:
            self.txn += 1
            out = envchange(8, b"\x08" + struct.pack("<Q", self.txn), b"\x00")
        elif request in (7, 8):
            out = envchange(9 if request == 7 else 10, b"\x00",
                            b"\x08" + struct.pack("<Q", self.txn))
            # commit/rollback with "begin a new one" set
            if len(data) > r.p + 1 and data[r.p + 1] & 0x01:
                self.txn += 1
                out += envchange(8, b"\x08" + struct.pack("<Q", self.txn), b"\x00")
        else:
            out = b""
        self.send(out + done())

    def rpc(self, data):
        r = Reader(data)
        skip_all_headers(r)
        replies = []
        while not r.done():
            n = r.u16()
            proc = PROCS.get(r.u16(), "proc?") if n == 0xFFFF else r.take(2 * n).decode(
                "utf-16-le")
            r.u16()  # option flags
            params = []
            while not r.done() and r.d[r.p] not in (0x80, 0xFF):
                name = r.bvarchar()
                status = r.u8()
                info = read_type_info(r)
                value = read_value(r, info)
                params.append({"name": name, "status": status, "info": info, "value": value})
            if not r.done():
                r.u8()  # batch separator
            replies.append(self.call(proc, params))
        # Calls sent together: each one's closing DONEPROC but the last says
        # that more follows.
        for i in range(len(replies) - 1):
            end = bytearray(replies[i])
            end[-12] |= 0x01
            replies[i] = bytes(end)
        self.send(b"".join(replies))

    def call(self, proc, params):
        def text(p):
            v = p["value"] or b""
            return v.decode("utf-16-le") if p["info"]["tds"] in (0xE7, 0xEF, 0x63) else v.decode(
                "latin-1")
        sql, declared, args = "", "", []
        if proc == "sp_executesql":
            sql, declared, args = text(params[0]), text(params[1]) if len(params) > 1 else "", \
                params[2:]
        elif proc in ("sp_prepexec",):
            handle = self.next_handle
            self.next_handle += 1
            declared, sql, args = text(params[1]), text(params[2]), params[3:]
            self.server.prepared[handle] = (sql, declared)
        elif proc == "sp_prepare":
            handle = self.next_handle
            self.next_handle += 1
            declared, sql = text(params[1]), text(params[2])
            self.server.prepared[handle] = (sql, declared)
            self.server.log({"kind": "rpc", "proc": proc, "sql": sql, "declared": declared,
                             "params": []})
            return (b"\xAC" + self.return_int(params[0]["name"], handle) +
                    b"\x79" + struct.pack("<i", 0) + done(0xFE))
        elif proc == "sp_execute":
            handle = struct.unpack("<i", params[0]["value"][-4:])[0]
            sql, declared = self.server.prepared.get(handle, ("handle %d?" % handle, ""))
            args = params[1:]
        elif proc == "sp_unprepare":
            self.server.log({"kind": "rpc", "proc": proc, "sql": "", "params": []})
            return b"\x79" + struct.pack("<i", 0) + done(0xFE)
        else:
            sql = proc
            args = params
        logged = [{"name": p["name"], "type": p["info"]["type"], "tds": p["info"]["tds"],
                   "size": p["info"].get("size"), "collation": p["info"].get("collation"),
                   "hex": None if p["value"] is None else p["value"].hex()} for p in args]
        self.server.log({"kind": "rpc", "proc": proc, "sql": sql, "declared": declared,
                         "params": logged})
        out = b""
        if proc == "sp_prepexec":
            out += b"\xAC" + self.return_int(params[0]["name"], handle)
        body = self.answer(sql, [p["value"] for p in args], 0xFF)
        return out + body + b"\x79" + struct.pack("<i", 0) + done(0xFE)

    @staticmethod
    def return_int(name, value):
        return (struct.pack("<H", 0) + b_varchar(name) + b"\x01" + struct.pack("<IH", 0, 0) +
                b"\x26\x04\x04" + struct.pack("<i", value))

    def answer(self, sql, values, done_token):
        rule = self.server.match(sql, values)
        if rule is None:
            return done(done_token)
        if "error" in rule:
            return error_token(rule.get("number", 50000), rule["error"]) + done(done_token, 0x02)
        if "columns" in rule:
            cols = rule["columns"]
            out = b"\x81" + struct.pack("<H", len(cols))
            for name, kind in cols:
                out += column_meta(name, kind)
            for row in rule.get("rows", []):
                out += b"\xD1" + b"".join(column_value(k, v) for (_, k), v in zip(cols, row))
            return out + done(done_token, rowcount=len(rule.get("rows", [])))
        if "rowcount" in rule:
            return done(done_token, rowcount=rule["rowcount"])
        return done(done_token)


class Server:
    def __init__(self, script, log_path):
        self.rules = script
        self.log_file = open(log_path, "a", encoding="utf-8")
        self.lock = threading.Lock()
        self.prepared = {}

    def log(self, entry):
        with self.lock:
            self.log_file.write(json.dumps(entry, ensure_ascii=False) + "\n")
            self.log_file.flush()

    def refuse_login(self, fields):
        for rule in self.rules:
            want = rule.get("login")
            if want and any(fields.get(k) != v for k, v in want.items()):
                return rule.get("error", "Login failed")
        return None

    def match(self, sql, values):
        for rule in self.rules:
            if "sql" not in rule or not re.search(rule["sql"], sql, re.I | re.S):
                continue
            want = rule.get("params")
            if want is not None and [v.hex() if v is not None else None
                                     for v in values] != want:
                continue
            return rule
        return None


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--script", required=True)
    ap.add_argument("--log", required=True)
    ap.add_argument("--port-file", required=True)
    args = ap.parse_args()
    with open(args.script, encoding="utf-8") as f:
        server = Server(json.load(f), args.log)
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", 0))
    listener.listen(8)

    def accept():
        while True:
            try:
                conn, _ = listener.accept()
            except OSError:
                return
            threading.Thread(target=Session(conn, server).run, daemon=True).start()

    threading.Thread(target=accept, daemon=True).start()
    with open(args.port_file + ".tmp", "w") as f:
        f.write(str(listener.getsockname()[1]))
    import os
    os.rename(args.port_file + ".tmp", args.port_file)
    sys.stdin.read()  # until the test that started us is gone


if __name__ == "__main__":
    main()
