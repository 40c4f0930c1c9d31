#!/usr/bin/env python3
"""The listing's commands over POP3S with Python's poplib, for bench_pop3s_listing.

    pop3s_listing.py HOST PORT USER PASSWORD CAFILE MAILS

Prints the seconds taken and the bytes of the TOP replies' lines.
"""
import poplib
import ssl
import sys
import time

host, port, user, password, cafile, mails = sys.argv[1:7]
context = ssl.create_default_context(cafile=cafile)
start = time.perf_counter()
box = poplib.POP3_SSL(host, int(port), context=context)
box.user(user)
box.pass_(password)
box.stat()
box.list()
box.uidl()
total = 0
for n in range(1, int(mails) + 1):
    _, lines, _ = box.top(n, 0)
    total += sum(len(line) + 2 for line in lines)
box.quit()
print(f"{time.perf_counter() - start:.6f} {total}")
