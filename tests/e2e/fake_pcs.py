#!/usr/bin/python3
"""Fake hall PCs on loopback addresses for the hall page's tests.

Each PC is ADDRESS=KIND[,MAC]: up (answers its status, every program running), failing
(program 2 failed), err (answers ERR to everything), allowlist (closes each connection
unanswered), silent (accepts and never answers), refusing (nothing listens), asleep (silent
until its MAC's magic packet comes to 127.255.255.255:9, then up). A power command is
answered OK, the countdown shows in the status for two seconds, then the PC goes quiet. Every
command received is written to the log as "ADDRESS WORD".
"""
import selectors
import socket
import sys
import time

PORT = 26908


class Pc:
    def __init__(self, address, kind, mac):
        self.address, self.kind, self.mac = address, kind, mac
        self.started = time.time()
        self.listener = None
        self.power = None  # (word, clock, since)
        self.off_at = None

    def listening_kind(self):
        return self.kind != "refusing"

    def status(self):
        slots = "1=run 2=failed 3=none 4=none" if self.kind == "failing" else "1=run 2=run 3=none 4=none"
        line = "OK up=%d %s" % (time.time() - self.started, slots)
        if self.power:
            line += " power=%s@%s" % (self.power[0], self.power[1])
        return line


def main():
    log_path = sys.argv[1]
    pcs = []
    for item in sys.argv[2:]:
        address, rest = item.split("=", 1)
        kind, _, mac = rest.partition(",")
        pcs.append(Pc(address, kind, mac.lower()))
    sel = selectors.DefaultSelector()
    log = open(log_path, "a", buffering=1)

    def listen(pc):
        s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        s.bind((pc.address, PORT))
        s.listen(64)
        s.setblocking(False)
        pc.listener = s
        sel.register(s, selectors.EVENT_READ, ("accept", pc))

    for pc in pcs:
        if pc.listening_kind():
            listen(pc)
    wake = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    wake.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    wake.bind(("127.255.255.255", 9))
    wake.setblocking(False)
    sel.register(wake, selectors.EVENT_READ, ("wake", None))
    print("ready", flush=True)

    while True:
        for key, _ in sel.select(0.2):
            what, pc = key.data
            if what == "wake":
                packet = wake.recv(2048)
                mac = ":".join("%02x" % b for b in packet[6:12])
                for p in pcs:
                    if p.mac == mac:
                        log.write("%s WAKE\n" % p.address)
                        if p.kind == "asleep":
                            p.kind, p.started, p.power = "up", time.time(), None
            elif what == "accept":
                conn, _ = pc.listener.accept()
                conn.setblocking(False)
                sel.register(conn, selectors.EVENT_READ, ("read", pc))
            elif what == "read":
                conn = key.fileobj
                try:
                    data = conn.recv(1024)
                except OSError:
                    data = b""
                if not data:
                    sel.unregister(conn)
                    conn.close()
                    continue
                word = data.decode("ascii", "replace").strip()
                log.write("%s %s\n" % (pc.address, word))
                if pc.kind == "allowlist":
                    sel.unregister(conn)
                    conn.close()
                    continue
                if pc.kind in ("silent", "asleep"):
                    continue
                if pc.kind == "err":
                    reply = "ERR"
                elif "QyrNOR_PC_STATUS" in word:
                    reply = pc.status()
                elif word in ("QyrNOR_PC_OFF", "QyrNOR_PC_REBOOT"):
                    reply = "OK"
                    pc.power = ("off" if word.endswith("OFF") else "reboot", time.strftime("%H:%M:%S"))
                    pc.off_at = time.time() + 2
                else:
                    reply = "OK"
                conn.send(reply.encode("ascii"))
        for pc in pcs:
            if pc.off_at and time.time() >= pc.off_at:
                pc.off_at = None
                pc.kind = "asleep"


if __name__ == "__main__":
    main()
