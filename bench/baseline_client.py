"""The least a client can do to deliver the same events: one new TCP
connection per request, the recorded request bytes in one write, the status
line read, the connection closed. No queue, no log, no JSON, no retries, no
HTTP library, so the receiver's rate for it is the ceiling that the
plug-in's delivery rate is compared with.

    python3 baseline_client.py PORT REQUESTS_FILE

REQUESTS_FILE holds the requests as written by dump(); prints how many were
answered 2xx.
"""

import socket
import struct
import sys


def request_bytes(method, path, header_pairs, body):
    """A request exactly as a receiver recorded it: the request line, the
    headers in their order and spelling, a blank line, the body."""
    head = f"{method} {path} HTTP/1.1\r\n"
    head += "".join(f"{name}: {value}\r\n" for name, value in header_pairs)
    return head.encode("latin-1") + b"\r\n" + body


def send_one(address, request, timeout=10.0):
    """Posts one request on a new connection; the status code, or 0 when the
    peer closed or answered something that is not an HTTP status line."""
    with socket.create_connection(address, timeout=timeout) as sock:
        sock.sendall(request)
        received = b""
        # A status line is short; the bound keeps a confused peer from
        # holding the loop.
        while b"\r\n" not in received and len(received) < 4096:
            chunk = sock.recv(4096)
            if not chunk:
                break
            received += chunk
    parts = received.split(b" ", 2)
    if len(parts) < 2 or not parts[0].startswith(b"HTTP/") or not parts[1].isdigit():
        return 0
    return int(parts[1])


def replay(port, requests, host="127.0.0.1"):
    """Sends every request in order; returns how many were answered 2xx."""
    address = (host, port)
    return sum(1 for request in requests if 200 <= send_one(address, request) <= 299)


def dump(path, requests):
    with open(path, "wb") as handle:
        for request in requests:
            handle.write(struct.pack("<I", len(request)) + request)


def load(path):
    with open(path, "rb") as handle:
        data = handle.read()
    requests, offset = [], 0
    while offset + 4 <= len(data):
        (length,) = struct.unpack_from("<I", data, offset)
        requests.append(data[offset + 4:offset + 4 + length])
        offset += 4 + length
    return requests


def main(argv):
    if len(argv) != 3:
        print("usage: baseline_client.py PORT REQUESTS_FILE", file=sys.stderr)
        return 2
    requests = load(argv[2])
    answered = replay(int(argv[1]), requests)
    print(f"baseline: sent {len(requests)} answered {answered}")
    return 0 if answered == len(requests) else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv))
