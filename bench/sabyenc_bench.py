#!/usr/bin/env python3
"""Decodes one NNTP article (status line, dot-stuffed yEnc body, terminator) with
sabyenc3, the SIMD yEnc decoder of a widely used downloader, the way it gets it there:
as the socket's chunks. Prints the best rate of article bytes, CRC check included.

    sabyenc_bench.py ARTICLE [CHUNK_BYTES]
"""
import sys
import time

try:
    import sabyenc3
except ImportError:
    print("skipped: no sabyenc3 module (Debian: python3-sabyenc)")
    sys.exit(0)

path = sys.argv[1]
chunk = int(sys.argv[2]) if len(sys.argv) > 2 else 65536
with open(path, "rb") as f:
    article = f.read()
chunks = [article[i:i + chunk] for i in range(0, len(article), chunk)]
best = None
for _ in range(5):
    t = time.perf_counter()
    data, name, crc_ok = sabyenc3.decode_usenet_chunks(chunks)
    s = time.perf_counter() - t
    best = s if best is None else min(best, s)
    if not crc_ok:
        print("failed: sabyenc3 reports a CRC mismatch")
        sys.exit(1)
print("sabyenc3 %s (%s): %.3f GB/s of article bytes, %d bytes decoded" % (
    sabyenc3.__version__, sabyenc3.simd, len(article) / best / 1e9, len(data)))
