"""What the fault campaigns share: a private user whose home is a temporary
directory (the profile directory comes from the user database, so the
programs run under nss_wrapper), running the built programs, and reading
what they left behind."""

import glob
import os
import shutil
import subprocess
import sys
import tempfile

SANITIZER_MARKS = ("ERROR: AddressSanitizer", "runtime error:", "ERROR: LeakSanitizer")


class Failure(Exception):
    pass


class PrivateUser:
    def __init__(self, bin_dir):
        self.bin_dir = os.path.abspath(bin_dir)
        self.root = tempfile.mkdtemp(prefix="nebrix-campaign-")
        self.home = os.path.join(self.root, "home")
        os.mkdir(self.home)
        passwd = os.path.join(self.root, "passwd")
        group = os.path.join(self.root, "group")
        with open(passwd, "w") as f:
            f.write(f"campaign:x:{os.geteuid()}:{os.getegid()}:Campaign:{self.home}:/bin/sh\n")
        with open(group, "w") as f:
            f.write(f"campaign:x:{os.getegid()}:\n")
        wrappers = glob.glob("/usr/lib/*/libnss_wrapper.so")
        if not wrappers:
            raise Failure("nss_wrapper is not installed (Debian package libnss-wrapper)")
        self.env = dict(os.environ)
        self.env.update({
            "LD_PRELOAD": wrappers[0],
            "NSS_WRAPPER_PASSWD": passwd,
            "NSS_WRAPPER_GROUP": group,
            # Sanitizer builds: the wrapper is preloaded before the runtime.
            "ASAN_OPTIONS": "verify_asan_link_order=0:detect_leaks=1",
            "UBSAN_OPTIONS": "print_stacktrace=1",
        })
        self.env.pop("ORQ_USE_IDENT", None)
        self.profile = os.path.join(self.home, ".orq", os.uname().nodename)

    def close(self):
        shutil.rmtree(self.root, ignore_errors=True)

    def program(self, name):
        return os.path.join(self.bin_dir, name)

    def file(self, name):
        return os.path.join(self.profile, name)

    def start(self, name, args, **kwargs):
        return subprocess.Popen([self.program(name)] + list(args), env=self.env,
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE, **kwargs)

    def run(self, name, args, timeout=60):
        """Runs a program to its end; a crash or a sanitizer report is a failure."""
        proc = subprocess.run([self.program(name)] + list(args), env=self.env,
                              capture_output=True, text=True, errors="replace", timeout=timeout)
        check_clean_end(name, args, proc.returncode, proc.stderr, proc.stdout)
        return proc.returncode, proc.stdout, proc.stderr

    def cons(self, *args):
        return self.run("nebrix_cons", args)

    def vault(self, *args):
        return self.run("vaultadm", args)

    def get(self, key):
        """The value of `key`, or None when the store has no such record."""
        rc, out, err = self.vault("get", key)
        if rc == 0:
            return out[:-1] if out.endswith("\n") else out
        if "not found" in err.lower() or "no record" in err.lower():
            return None
        raise Failure(f"get {key} failed: {err.strip()}")

    def update_count(self):
        rc, out, err = self.cons("SHOW", "TRACESETTINGS")
        if rc != 0:
            raise Failure(f"SHOW TRACESETTINGS failed: {err.strip()}")
        for line in out.splitlines():
            if line.strip().startswith("Update count :"):
                return int(line.split(":")[1])
        raise Failure("SHOW TRACESETTINGS printed no update count")

    def part_flags(self):
        """Process id -> flags of every part SHOW TRACESETTINGS lists."""
        rc, out, err = self.cons("SHOW", "TRACESETTINGS")
        if rc != 0:
            raise Failure(f"SHOW TRACESETTINGS failed: {err.strip()}")
        parts, rows = {}, False
        for line in out.splitlines():
            if line.startswith("  ----"):
                rows = True
            elif rows and line.strip():
                fields = line.split()
                parts[int(fields[0])] = fields[2] if len(fields) > 2 else ""
        return parts


def check_clean_end(name, args, returncode, stderr, stdout=""):
    """A program may succeed or fail with exit status 1 and a message (mostly
    on standard error; "Command history is empty." comes on standard
    output); it may never die of a signal, end otherwise, or trip a
    sanitizer."""
    text = stderr if isinstance(stderr, str) else stderr.decode(errors="replace")
    said = text + (stdout if isinstance(stdout, str) else stdout.decode(errors="replace"))
    command = " ".join([name] + list(args))
    if any(mark in text for mark in SANITIZER_MARKS):
        raise Failure(f"{command}: sanitizer report:\n{text}")
    if returncode < 0:
        raise Failure(f"{command}: killed by signal {-returncode}\n{text}")
    if returncode not in (0, 1):
        raise Failure(f"{command}: exit status {returncode}\n{text}")
    if returncode == 1 and not said.strip():
        raise Failure(f"{command}: failed without a message")


def flag_states(flags):
    """The tokens of a trace flags string, last one of a letter winning."""
    states = {}
    for token in flags.split(":"):
        if token:
            states[token[0]] = token[1:]
    return states


def main(body):
    try:
        body()
    except Failure as failure:
        print(f"FAILED: {failure}", file=sys.stderr)
        sys.exit(1)
