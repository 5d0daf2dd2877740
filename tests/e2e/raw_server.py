"""A loopback server for answers http.server will not send."""

import socket
import threading


class RawServer:
    """Answers every request the same way after reading its headers and
    body. `answer` is bytes, or f(send, stopping) that paces its own sending
    and returns once `stopping` is set. The body is read even when the
    answer does not need it: a socket closed with unread bytes sends a TCP
    reset, and a client may report the reset in place of an answer it has
    already received (Wine 10 does, Wine 8 does not)."""

    def __init__(self, answer):
        self.answer = answer
        self.requests = 0
        self.sent = 0  # pieces sent by paced answers, over all connections
        self._lock = threading.Lock()
        self._stopping = threading.Event()
        self._threads = []
        self._sock = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self._sock.bind(("127.0.0.1", 0))
        self._sock.listen(16)
        self._sock.settimeout(0.1)
        self.port = self._sock.getsockname()[1]
        self._accepting = threading.Thread(target=self._accept_loop, daemon=True)
        self._accepting.start()

    def _accept_loop(self):
        while not self._stopping.is_set():
            try:
                connection, _ = self._sock.accept()
            except socket.timeout:
                continue
            except OSError:
                return
            thread = threading.Thread(target=self._serve, args=(connection,), daemon=True)
            self._threads.append(thread)
            thread.start()

    def _serve(self, connection):
        with connection:
            connection.settimeout(10)
            data = b""
            try:
                while b"\r\n\r\n" not in data and len(data) < 65536:
                    chunk = connection.recv(4096)
                    if not chunk:
                        return
                    data += chunk
                head, _, rest = data.partition(b"\r\n\r\n")
                length = 0
                for line in head.split(b"\r\n")[1:]:
                    name, _, value = line.partition(b":")
                    if name.strip().lower() == b"content-length":
                        length = int(value.strip())
                while len(rest) < length:
                    chunk = connection.recv(4096)
                    if not chunk:
                        return
                    rest += chunk
                with self._lock:
                    self.requests += 1
                if callable(self.answer):
                    self.answer(lambda piece: self._send(connection, piece), self._stopping)
                else:
                    connection.sendall(self.answer)
                connection.shutdown(socket.SHUT_WR)
            except OSError:
                pass

    def _send(self, connection, piece):
        connection.sendall(piece)
        with self._lock:
            self.sent += 1

    def stop(self):
        self._stopping.set()
        self._sock.close()
        self._accepting.join(5)
        for thread in self._threads:
            thread.join(5)
