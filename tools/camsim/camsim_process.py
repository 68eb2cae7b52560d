"""camsim as a child process of a Python script (the fault matrix, the soak):
started on a free loopback port (it prints "port=N" first), steered through
its control CGI, ended by closing its standard input (--exit-on-stdin-eof),
so that a script that dies cannot leave it behind."""
import subprocess
import urllib.request


class Camsim:
    def __init__(self, path, *args, lifetime=None):
        extra = ["--lifetime", str(lifetime)] if lifetime else []
        self.p = subprocess.Popen([path, "--port", "0", "--exit-on-stdin-eof"] + extra + list(args),
                                  stdin=subprocess.PIPE, stdout=subprocess.PIPE)
        line = self.p.stdout.readline().decode().strip()
        if not line.startswith("port="):
            self.p.kill()
            self.p.wait()
            raise RuntimeError("camsim did not start: %r" % line)
        self.port = int(line[5:])

    def control(self, query):
        """/camsim/control?QUERY; raises unless camsim took it ("OK ...")."""
        url = "http://127.0.0.1:%d/camsim/control?%s" % (self.port, query)
        with urllib.request.urlopen(url, timeout=10) as answer:
            body = answer.read().decode()
        if not body.startswith("OK"):
            raise RuntimeError("camsim refused %s: %s" % (query, body))
        return body

    def close(self):
        try:
            self.p.stdin.close()
            self.p.wait(timeout=10)
        except Exception:
            self.p.kill()
            self.p.wait()
