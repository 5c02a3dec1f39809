#!/usr/bin/env python3
"""Sends one UDP datagram with a forged source address through a raw socket (root, in the
test's own network namespace): forge_datagram.py SOURCE DEST PORT PAYLOAD."""
import socket
import struct
import sys


def checksum(data: bytes) -> int:
    if len(data) % 2:
        data += b"\0"
    total = sum(struct.unpack(f"!{len(data) // 2}H", data))
    while total >> 16:
        total = (total & 0xFFFF) + (total >> 16)
    return ~total & 0xFFFF


def main() -> None:
    source, dest, port, payload = sys.argv[1], sys.argv[2], int(sys.argv[3]), sys.argv[4].encode()
    src, dst = socket.inet_aton(source), socket.inet_aton(dest)
    udp_len = 8 + len(payload)
    udp = struct.pack("!HHHH", 40000, port, udp_len, 0) + payload
    pseudo = src + dst + struct.pack("!BBH", 0, socket.IPPROTO_UDP, udp_len)
    udp = udp[:6] + struct.pack("!H", checksum(pseudo + udp) or 0xFFFF) + udp[8:]
    ip = struct.pack("!BBHHHBBH4s4s", 0x45, 0, 20 + udp_len, 0, 0, 64, socket.IPPROTO_UDP, 0, src, dst)
    ip = ip[:10] + struct.pack("!H", checksum(ip)) + ip[12:]
    with socket.socket(socket.AF_INET, socket.SOCK_RAW, socket.IPPROTO_RAW) as s:
        s.setsockopt(socket.IPPROTO_IP, socket.IP_HDRINCL, 1)
        s.sendto(ip + udp, (dest, 0))


if __name__ == "__main__":
    main()
