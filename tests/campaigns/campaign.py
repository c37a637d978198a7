# What the fault campaigns share: their command line, a private user whose
# home is a temporary directory (the profile directory comes from the user
# database, so the programs run under nss_wrapper), running the built
# programs, and reading what they left behind.

import argparse
import glob
import os
import shutil
import subprocess
import sys
import tempfile
import time

SANITIZER_MARKS = ("ERROR: AddressSanitizer", "runtime error:", "ERROR: LeakSanitizer")


class Failure(Exception):
    pass


class PrivateUser:
    def __init__(self, bin_dir):
        self.bin_dir = os.path.abspath(bin_dir)
        self.root = tempfile.mkdtemp(prefix="nebrix-campaign-")
        self.home = os.path.join(self.root, "home")
        self.profile = os.path.join(self.home, ".orq", os.uname().nodename)
        os.mkdir(self.home)
        wrappers = glob.glob("/usr/lib/*/libnss_wrapper.so")
        if not wrappers:
            raise Failure("nss_wrapper is not installed (Debian package libnss-wrapper)")
        for name, line in [("passwd", f"campaign:x:{os.geteuid()}:{os.getegid()}:Campaign:{self.home}:/bin/sh"),
                           ("group", f"campaign:x:{os.getegid()}:")]:
            with open(os.path.join(self.root, name), "w") as f:
                f.write(line + "\n")
        # Sanitizer builds: the wrapper is preloaded before the runtime.
        self.env = dict(os.environ, LD_PRELOAD=wrappers[0], NSS_WRAPPER_PASSWD=os.path.join(self.root, "passwd"),
                        NSS_WRAPPER_GROUP=os.path.join(self.root, "group"),
                        ASAN_OPTIONS="verify_asan_link_order=0:detect_leaks=1", UBSAN_OPTIONS="print_stacktrace=1")
        self.env.pop("ORQ_USE_IDENT", None)

    def __enter__(self):
        return self

    def __exit__(self, *_):
        shutil.rmtree(self.root, ignore_errors=True)

    def file(self, name):
        return os.path.join(self.profile, name)

    def start(self, name, *args):
        return subprocess.Popen([os.path.join(self.bin_dir, name)] + list(args), env=self.env, text=True,
                                errors="replace", stdout=subprocess.PIPE, stderr=subprocess.PIPE)

    # Runs a program to its end; a crash or a sanitizer report is a failure.
    def run(self, name, *args):
        try:
            proc = subprocess.run([os.path.join(self.bin_dir, name)] + list(args), env=self.env,
                                  capture_output=True, text=True, errors="replace", timeout=60)
        except subprocess.TimeoutExpired:
            raise Failure(f"{' '.join([name] + list(args))} did not end within 60 s") from None
        check_clean_end(name, args, proc.returncode, proc.stderr, proc.stdout)
        return proc.returncode, proc.stdout, proc.stderr

    def cons(self, *args):
        return self.run("nebrix_cons", *args)

    def vault(self, *args):
        return self.run("vaultadm", *args)

    # The value of `key`, or None when the store has no such record.
    def get(self, key):
        rc, out, err = self.vault("get", key)
        if rc == 0:
            return out[:-1] if out.endswith("\n") else out
        if "not found" in err.lower() or "no record" in err.lower():
            return None
        raise Failure(f"get {key} failed: {err.strip()}")

    # The update count, and process id -> [read count, flags] of every part,
    # that SHOW TRACESETTINGS lists.
    def trace_settings(self):
        rc, out, err = self.cons("SHOW", "TRACESETTINGS")
        head, _, rows = out.partition("  " + "-" * 70 + "\n")
        count = [int(line.split(":")[1]) for line in head.splitlines() if line.strip().startswith("Update count :")]
        if rc != 0 or not count:
            raise Failure(f"SHOW TRACESETTINGS failed: {err.strip()}")
        return count[0], {int(row.split()[0]): (row.split() + [""])[1:3] for row in rows.splitlines() if row.strip()}


# A program may succeed or fail with exit status 1 and a message (mostly on
# standard error; "Command history is empty." comes on standard output); it
# may never die of a signal, end otherwise, or trip a sanitizer.
def check_clean_end(name, args, returncode, stderr, stdout=""):
    command = " ".join([name] + list(args))
    if any(mark in stderr for mark in SANITIZER_MARKS):
        raise Failure(f"{command}: sanitizer report:\n{stderr}")
    if returncode < 0:
        raise Failure(f"{command}: killed by signal {-returncode}\n{stderr}")
    if returncode not in (0, 1):
        raise Failure(f"{command}: exit status {returncode}\n{stderr}")
    if returncode == 1 and not (stderr + stdout).strip():
        raise Failure(f"{command}: failed without a message")


# Runs campaign(options, user) as a private user, with the options BIN_DIR,
# --seed and the campaign's own: --NAME=DEFAULT, a switch where the default
# is False. A Failure ends it with exit status 1.
def main(campaign, **own_options):
    parser = argparse.ArgumentParser()
    parser.add_argument("bin_dir")
    parser.add_argument("--seed", type=int, default=int(time.time()))
    for name, default in own_options.items():
        kind = {"action": "store_true"} if default is False else {"type": type(default), "default": default}
        parser.add_argument("--" + name, **kind)
    options = parser.parse_args()
    try:
        with PrivateUser(options.bin_dir) as user:
            campaign(options, user)
    except Failure as failure:
        print(f"FAILED: {failure}", file=sys.stderr)
        sys.exit(1)
