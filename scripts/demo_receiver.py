#!/usr/bin/env python3
"""A loopback endpoint for trying the plug-in: prints every request it gets
and answers 201. Usage: demo_receiver.py PORT"""
import http.server
import sys


class Receiver(http.server.BaseHTTPRequestHandler):
    def do_POST(self):
        body = self.rfile.read(int(self.headers.get("Content-Length", "0")))
        print(f"received {self.command} {self.path}"
              f" | {self.headers.get('Content-Type')}"
              f" | Authorization: Bearer <{len(self.headers.get('Authorization', '')) - 7} chars>"
              f" | {self.headers.get('User-Agent')}", flush=True)
        print(f"  {body.decode('utf-8', 'replace')}", flush=True)
        self.send_response(201)
        self.send_header("Content-Length", "0")
        self.end_headers()

    def log_message(self, *args):
        pass


if __name__ == "__main__":
    server = http.server.HTTPServer(("127.0.0.1", int(sys.argv[1])), Receiver)
    server.serve_forever()
