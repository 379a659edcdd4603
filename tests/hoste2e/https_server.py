# A tiny HTTPS server with a self-signed certificate made on the spot: writes its
# port to the file given, then answers every request with a short page.
import http.server, os, ssl, subprocess, sys, tempfile

folder = tempfile.mkdtemp()
cert, key = os.path.join(folder, "cert.pem"), os.path.join(folder, "key.pem")
subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "1",
                "-subj", "/CN=127.0.0.1", "-keyout", key, "-out", cert],
               check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


class Page(http.server.BaseHTTPRequestHandler):
    def do_GET(self):
        body = b"<body>secret</body>"
        self.send_response(200)
        self.send_header("Content-Type", "text/html")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def log_message(self, *args):
        pass


server = http.server.HTTPServer(("127.0.0.1", 0), Page)
context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
context.load_cert_chain(cert, key)
server.socket = context.wrap_socket(server.socket, server_side=True)
with open(sys.argv[1] + ".tmp", "w") as f:
    f.write(str(server.server_address[1]))
os.rename(sys.argv[1] + ".tmp", sys.argv[1])
server.serve_forever()
