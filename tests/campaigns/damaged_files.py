#!/usr/bin/env python3
"""Runs the console and vaultadm on damaged versions of every file they read.

A profile is made once (configuration, an encrypted record and so a key
file, history, shared memory with a process's part). Then, for every file
of it (and a lock file), each damage (cut short, emptied, zero-filled,
random, bits flipped) is applied to a fresh copy and every command runs on
it. No command may crash, end otherwise than with 0 or 1, or fail without a
message; one that fails must leave the store's files as it found them. The
history and shared-memory files are exempt from the last rule where their
size is wrong: such a file is made anew.

    damaged_files.py BIN_DIR [--flips N] [--seed S] [--quick] [--verbose]
"""

import argparse
import collections
import os
import random
import shutil
import struct
import subprocess
import time

from campaign import Failure, PrivateUser, main

HISTORY_SIZE = 12000
SHM_SIZE = 26656


def lock_record():
    # preamble, file type, lock type 1 (update), time, user, host
    return (b"RSecSSFsLock" + bytes([1, 1]) + struct.pack(">q", int(time.time())) +
            b"campaign".ljust(24) + b"host".ljust(24))


def damages(content, rng, flips):
    """(name, damaged bytes) of a file's content."""
    yield "cut to half", content[:len(content) // 2]
    yield "cut by one byte", content[:-1]
    yield "one byte", content[:1]
    yield "empty", b""
    yield "zero-filled", bytes(len(content))
    yield "random", bytes(rng.getrandbits(8) for _ in range(len(content)))
    yield "one byte longer", content + b"\x00"
    for i in range(flips):
        damaged = bytearray(content)
        for _ in range(1 + i % 4):
            bit = rng.randrange(len(damaged) * 8)
            damaged[bit // 8] ^= 1 << (bit % 8)
        yield f"bits flipped ({i})", bytes(damaged)


def commands(pid, quick):
    if quick:
        return [("nebrix_cons", ["SHOW", "ALL"]), ("nebrix_cons", ["CONFIG", "TRACE", "SQL", "OFF"]),
                ("nebrix_cons", ["-p", str(pid), "TRACE", "SQL", "OFF"]), ("nebrix_cons", ["SHOW", "HISTORY"]),
                ("vaultadm", ["list"])]
    return [
        ("nebrix_cons", ["SHOW", "ALL"]),
        ("nebrix_cons", ["SHOW", "HISTORY"]),
        ("nebrix_cons", ["SHOW", "PROFILE"]),
        ("nebrix_cons", ["CONFIG", "TRACE", "SQL", "OFF"]),
        ("nebrix_cons", ["CONFIG", "TRACE", "FILENAME", "/tmp/damaged-%p"]),
        ("nebrix_cons", ["TRACE", "DEBUG", "ON"]),
        ("nebrix_cons", ["-p", str(pid), "TRACE", "SQL", "OFF"]),
        ("nebrix_cons", ["-p", str(pid), "TRACE", "REFRESH"]),
        ("vaultadm", ["list"]),
        ("vaultadm", ["get", "ORQ/CAMPAIGN/SECRET"]),
        ("vaultadm", ["put", "ORQ/CAMPAIGN/OTHER", "x", "--plaintext"]),
        ("vaultadm", ["unlock"]),
    ]


def readable_end_to_end(user):
    rc, listing, _ = user.vault("list")
    return rc == 0 and "unreadable" not in listing


def snapshot(directory):
    return {name: open(os.path.join(directory, name), "rb").read() for name in os.listdir(directory)}


def campaign():
    parser = argparse.ArgumentParser()
    parser.add_argument("bin_dir")
    parser.add_argument("--flips", type=int, default=8)
    parser.add_argument("--seed", type=int, default=int(time.time()))
    parser.add_argument("--verbose", action="store_true", help="list the failure messages")
    parser.add_argument("--quick", action="store_true", help="one command of each kind only")
    parser.add_argument("--only", help="damage this file only (the random damages stay those of the seed)")
    options = parser.parse_args()
    rng = random.Random(options.seed)
    user = PrivateUser(options.bin_dir)
    sleeper = subprocess.Popen(["sleep", "3600"])
    try:
        # SHOW PROFILE stores the default profile file name (and fails, as
        # the default is not absolute); here it is stored once beforehand.
        for program, args in [("nebrix_cons", ["SHOW", "ALL"]), ("nebrix_cons", ["SHOW", "PROFILE"]),
                              ("nebrix_cons", ["CONFIG", "TRACE", "SQL", "ON"]),
                              ("vaultadm", ["rekey"]),
                              ("vaultadm", ["put", "ORQ/CAMPAIGN/SECRET", "secret"]),
                              ("nebrix_cons", ["TRACE", "SHORT", "ON"]),
                              ("nebrix_cons", ["-p", str(sleeper.pid), "TRACE", "SQL", "ON"])]:
            rc, _, err = user.run(program, args)
            if rc != 0 and args != ["SHOW", "PROFILE"]:
                raise Failure(f"setting up: {program} {' '.join(args)}: {err.strip()}")
        reference = snapshot(user.profile)
        reference["SSFS_ORQ.LCK"] = lock_record()
        runs = collections.Counter()
        repaired = 0
        messages = collections.Counter()
        for name, content in sorted(reference.items()):
            for damage, damaged in damages(content, rng, options.flips):
                if options.only and name != options.only:
                    continue
                for program, args in commands(sleeper.pid, options.quick):
                    shutil.rmtree(user.profile)
                    os.makedirs(user.profile, mode=0o700)
                    for other, data in reference.items():
                        if other != "SSFS_ORQ.LCK":
                            with open(os.path.join(user.profile, other), "wb") as f:
                                f.write(data)
                    with open(os.path.join(user.profile, name), "wb") as f:
                        f.write(damaged)
                    try:
                        rc, out, err = user.run(program, args)
                    except Failure as failure:
                        raise Failure(f"{name} {damage}: {failure}")
                    runs[(name, rc)] += 1
                    if rc == 0:
                        continue
                    said = (err.strip() or out.strip()).splitlines()[0]
                    messages[(name, said.replace(user.profile, "<profile>"))] += 1
                    # A command that failed leaves the damaged file as it was,
                    # unless it is a history or shared-memory file of the wrong
                    # size, which is made anew, or a data file that ends inside
                    # a record, whose broken tail a writer cuts off: then the
                    # file must be readable end to end.
                    after = snapshot(user.profile).get(name)
                    sizes = {"nebrix.his": HISTORY_SIZE, "NEBRIX.shm": SHM_SIZE}
                    if after == damaged or (name in sizes and len(damaged) != sizes[name]):
                        continue
                    if name == "SSFS_ORQ.DAT" and readable_end_to_end(user):
                        repaired += 1
                        continue
                    changed = [i for i in range(min(len(after or b""), len(damaged))) if after[i] != damaged[i]]
                    raise Failure(f"{name} {damage}: {program} {' '.join(args)} failed and changed it "
                                  f"({len(damaged)} -> {len(after or b'')} bytes, changed at {changed[:8]})")
        total = sum(runs.values())
        print(f"damaged files: seed {options.seed}, {total} runs, 0 crashes, 0 files written over by a failed "
              f"command ({repaired} data files with a broken tail cut off and readable again)")
        for name in sorted(reference):
            print(f"  {name:14s} exit 0: {runs[(name, 0)]:4d}   exit 1 with a message: {runs[(name, 1)]:4d}")
            if options.verbose:
                for (file, said), number in sorted(messages.items()):
                    if file == name:
                        print(f"      {number:4d} x {said[:150]}")
    finally:
        sleeper.kill()
        sleeper.wait()
        user.close()


if __name__ == "__main__":
    main(campaign)
