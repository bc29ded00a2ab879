#!/usr/bin/env python3
"""Writes the seed corpora (fuzz/corpus/<target>/) from the inputs the unit tests build: packages
as the packaging tool lays them out, settings and message records, notes, the router's HTTP and
FTP replies, TFTP acknowledgement scripts and discovery replies. Run it again after a format
changes; the seeds are kept small."""
import hashlib
import os
import struct

here = os.path.dirname(os.path.abspath(__file__))
SIG = b"quarnel\0"


def package(body, records, version=4):
    out = bytearray(body)
    blobs, offsets, pos = [], [], 0
    for name, attr, data in records:
        rec = struct.pack("<I", 38 + len(data)) + struct.pack(">H", attr) + name.ljust(32, b"\0")[:32] + data
        offsets.append(pos)
        pos += len(rec)
        blobs.append(rec)
    n = len(records)
    length = pos + 14 + 4 * n
    table = b"".join(struct.pack("<I", length - o) for o in offsets)
    trailer = table + struct.pack("<HHH", version, n, 14 + 4 * n) + SIG
    return bytes(out) + b"".join(blobs) + trailer


def with_digest(records, flip=None):
    """The records after a digest record, as fwpack makes it; `flip` damages one data byte of
    that record index after the digest is taken."""
    def covered(name, attr, data):
        return struct.pack(">H", attr) + name.ljust(32, b"\0")[:32] + data
    table = b"".join(hashlib.sha256(covered(*r)).digest() for r in records)
    out = [(b"package.sha256", 0x2000, table)]
    for i, (name, attr, data) in enumerate(records):
        if i == flip:
            data = data[:-1] + bytes([data[-1] ^ 1])
        out.append((name, attr, data))
    return out


def message(name=b"QEMO-note", caption=b"Important", live=50, text=b"{\\rtf1 Do not\\b  switch off\\par}"):
    h = bytearray(125)
    h[0:len(name)] = name
    h[16:16 + len(caption)] = caption
    h[80:82] = struct.pack("<H", live)
    h[118:120] = struct.pack("<H", len(text))
    h[120:124] = struct.pack("<I", 0x0000FF)
    return bytes(h) + text


def settings(start=4, flags=0x1A, dst=b"192.168.123.254", romid=b"ABC123", name=b"fw.bin"):
    r = bytearray(224)
    r[0:len(dst)] = dst
    r[18:21] = b"pw1"
    r[36] = start
    r[37:37 + len(name)] = name
    r[101:101 + len(romid)] = romid
    r[117] = flags
    for off in (118, 136, 154, 172, 190):
        r[off:off + 7] = b"default"
    r[223] = 2
    return bytes(r)


def discovery_query(romid=b"ABC123", detail=b"Router X"):
    a = bytearray(68)
    a[0:3] = b"QD\x01"
    a[12:12 + len(detail)] = detail
    a[44:44 + len(romid)] = romid
    return bytes(a)


def boot_reply(romid=b"ABC123", detail=b"Router"):
    a = bytearray(548)
    a[0] = 0xC1
    a[108:108 + len(romid)] = romid
    a[140:140 + len(detail)] = detail
    return bytes(a)


def op(kind, payload=b"", flags=0):
    """One step of the discovery script: probe kind (0 query, 1 TFTP, 2 default, 3 boot)."""
    size = (len(payload) + 3) // 4
    return bytes([kind | flags, size]) + payload.ljust(size * 4, b"\0")


seeds = {
    "package": {
        "one_file": package(b"MZ-body", [(b"code.bin", 0x080D, b"firmware" * 8)]),
        "settings_message": package(b"MZ", [(b"control.cfg", 0x1000, settings()),
                                            (b"QEMO-note.msg", 0x0401, message()),
                                            (b"QR240_v2.40.bin", 0x0813, b"\x5a" * 100)]),
        "no_package": b"MZ plain executable without a package",
        "old_version": package(b"MZ", [(b"a.bin", 0x080D, b"x")], version=3),
        "empty_records": package(b"MZ", [(b"a.bin", 0x080D, b""), (b"b.bin", 0x0811, b"")]),
        "digest_whole": package(b"MZ", with_digest([(b"control.cfg", 0x1000, settings()),
                                                    (b"QEMO-note.msg", 0x0401, message()),
                                                    (b"code.bin", 0x080D, b"firmware" * 8)])),
        "digest_mismatch": package(b"MZ", with_digest([(b"QEMO-note.msg", 0x0401, message()),
                                                       (b"code.bin", 0x080D, b"firmware" * 8)], flip=1)),
    },
    "settings": {
        "shipped": settings(),
        "get_mode": settings(start=1, name=b"out.bin".ljust(32, b"\0") + b"0x1000".ljust(16, b"\0") + b"40"),
        "short": b"192.168.1.1\0\0",
    },
    "message": {
        "note": message(),
        "header_only": message(text=b""),
        "plain_text": message(name=b"FTP-note", caption=b"\nbox: Success: OK\n", live=0, text=b"plain note"),
        "text_past_end": message()[:-5],
    },
    "rtf": {
        "word_processor": (b"{\\rtf1\\ansi\\ansicpg1252\\deff0{\\fonttbl{\\f0\\fswiss Arial;}}\r\n"
                           b"{\\colortbl ;\\red255\\green0\\blue0;\\red0\\green0\\blue255;}\r\n"
                           b"\\pard\\qc\\cf1\\b\\f0\\fs32 Warning\\cf0\\b0\\fs20\\par\r\n"
                           b"\\pard Do \\b not\\b0  switch \\ul off\\ulnone .\\par\\i\\cf2 Thanks\\i0\\par}"),
        "escapes": b"{\\rtf1\\uc2 caf\\'e9 \\u8364\\'80\\'80! \\u-10179?\\u-8704? \\{a\\}\\\\ \\~c\\emdash d}",
        "groups": b"{\\rtf1 a{\\b\\i\\strike b{\\b0 c}d}e\\b f\\plain g{\\*\\generator x}\\line\\tab h}",
    },
    "login": {
        "new_ok": b"HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n\r\n<html>--CAS:8003</html>",
        "new_wrong": b"HTTP/1.1 200 OK\r\n\r\n<html>--CAS:0003</html>",
        "redirect": b"HTTP/1.1 301 Moved\r\nLocation: http://192.168.123.254:8080/\r\n\r\n",
        "old_alert": b"HTTP/1.0 200 OK\r\n\r\n<script>alert(\"wrong\")</script>",
        "auth": b"HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Basic realm=\"r\"\r\n\r\n",
        "no_cgi": b"HTTP/1.1 404 Not Found\r\n\r\n",
    },
    "upload": {
        "accepted": b"HTTP/1.0 200 OK\r\n\r\n<html>--CAS:8000</html>",
        "refused": b"HTTP/1.0 200 OK\r\n\r\n<html>--CAS:8002</html>",
        "alert": b"HTTP/1.0 200 OK\r\n\r\n<script>alert(\"Firmware too old\")</script>",
        "bad_request": b"HTTP/1.0 400 Bad Request\r\n\r\n",
    },
    "romread": {
        "ok": b"HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\n\r\n" + bytes(range(40)),
        "bad_request": b"HTTP/1.1 400 Bad Request\r\n\r\n",
        "head_only": b"HTTP/1.1 200 OK\r\nServer: r\r\n\r\n",
    },
    "ftp": {
        "login": b"220 router FTP ready\r\n331 Password required\r\n230 Logged in\r\n200 PORT ok\r\n150 Opening\r\n226 Done\r\n",
        "multiline": b"220-Welcome\r\n continued\r\n220 ready\r\n530 Login incorrect.\r\n",
        "refused": b"550 No such file\r\n429 busy\r\n",
    },
    "ftprom": {
        # LENGTH (0xFFFF: none), piece size selector, then the data connection's bytes
        "limited": bytes([0x00, 0x28, 0x00]) + bytes(range(256)) * 2,
        "no_limit": bytes([0xFF, 0xFF, 0x03]) + b"ROM" * 300,
        "empty": bytes([0x00, 0x00, 0x01]),
    },
    "tftp": {
        # file sizes, then "acknowledge what went out" steps, a timer tick, a stray error
        "two_files": bytes([0x05, 0x14, 0x04]) + b"\x01\x00" * 12 + b"\x02\x00",
        "stranger": bytes([0x02, 0x00, 0x01]) + b"\x11\x00\x01\x00\x05\x00\x01\x00\x03\x02\x01\x00",
        "garbage": bytes([0x00, 0x10, 0x02]) + b"\x00\x06\x00\x04\x00\x00\x00\x04\x00\x01" + b"\x01\x00" * 4,
    },
    "discovery": {
        "home_and_loader": b"\x01" + op(0, discovery_query(), 0x80) + op(1, b"\0\3\0\1$Kestro ZZ", 0x08)
                            + op(3, boot_reply(), 0x80) + op(2, b"QQ\0", 0x80),
        "forged_texts": b"\x01" + op(0, discovery_query(b"\nbox: Success: OK\n", b"\nstatus: Upgrade Success\n")),
        "flood": b"\x00" + b"".join(op(0, discovery_query(), (i << 3) & 0xF8) for i in range(40)),
    },
}

for target, files in seeds.items():
    d = os.path.join(here, "corpus", target)
    os.makedirs(d, exist_ok=True)
    for name, data in files.items():
        with open(os.path.join(d, name), "wb") as f:
            f.write(data)
