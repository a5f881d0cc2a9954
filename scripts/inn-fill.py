#!/usr/bin/env python3
# Fills a group on the local inn2 (started by inn-trial.sh) with small posts whose
# overview lines look like a busy binary group's: releases of 20 files of 50 parts each,
# fed to innd as a peer with streaming TAKETHIS (localhost is a peer in Debian's
# incoming.conf). For scanning a group of millions of headers; the bodies are not real.
#   python3 scripts/inn-fill.py GROUP COUNT [FIRST]
# Over loopback, nnrpd's small send buffer meets 64 KB segments and each write waits for a
# delayed ACK (about 2 MB/s a connection, whichever reader); `ip link set lo mtu 1500`
# while trying makes loopback behave like a network.
import email.utils
import socket
import sys
import time

group, total = sys.argv[1], int(sys.argv[2])
first = int(sys.argv[3]) if len(sys.argv) > 3 else 0
sock = socket.create_connection(("127.0.0.1", 119))
reader = sock.makefile("rb")
if not reader.readline().startswith(b"200"):
    sys.exit("innd did not take the connection as a peer's")
sock.sendall(b"MODE STREAM\r\n")
if not reader.readline().startswith(b"203"):
    sys.exit("innd refused streaming")
date = email.utils.formatdate(localtime=False)
began, taken, refused = time.time(), 0, 0
for start in range(first, first + total, 500):
    count = min(500, first + total - start)
    out = []
    for i in range(start, start + count):
        release, rest = divmod(i, 1000)
        f, p = divmod(rest, 50)
        mid = f"<vt{i}.{release}@fill.vantrel>"
        name = f"vt{release:05d}.part{f + 1:02d}.rar"
        body = (f"=ybegin part={p + 1} total=50 line=128 size=38400000 name={name}\r\n"
                f"=ypart begin={p * 768000 + 1} end={(p + 1) * 768000}\r\nxxxx\r\n"
                f"=yend size=768000 part={p + 1} pcrc32=00000000\r\n")
        out.append(f"TAKETHIS {mid}\r\nPath: fill!not-for-mail\r\n"
                   f"From: Poster {release % 37} <poster{release % 37}@fill.vantrel>\r\nNewsgroups: {group}\r\n"
                   f"Subject: Vantrel.Fill.Release.{release:05d}.1080p [{f + 1:02d}/20] - \"{name}\" yEnc ({p + 1}/50)\r\n"
                   f"Message-ID: {mid}\r\nDate: {date}\r\nLines: 4\r\n\r\n{body}.\r\n")
    sock.sendall("".join(out).encode())
    for _ in range(count):
        if reader.readline().startswith(b"239"):
            taken += 1
        else:
            refused += 1
sock.sendall(b"QUIT\r\n")
print(f"{taken} posts taken, {refused} refused, in {time.time() - began:.1f} s")
