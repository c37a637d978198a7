#!/usr/bin/env python3
# Runs the console and vaultadm on damaged versions of every file they read.
#
# A profile is made once (configuration, an encrypted record and so a key
# file, history, shared memory with a process's part). Then, for every file
# of it (and a lock file), each damage (cut short, emptied, zero-filled,
# random, bits flipped) is applied to a fresh copy and every command runs on
# it. No command may crash, end otherwise than with 0 or 1, or fail without a
# message; one that fails must leave the store's files as it found them. The
# history and shared-memory files are exempt from the last rule where their
# size is wrong: such a file is made anew. A data file that ends inside a
# record may have its broken tail cut off by a writer, after which the store
# must read end to end.
#
#     damaged_files.py BIN_DIR [--flips N] [--seed S] [--quick]

import collections
import os
import random
import shutil
import struct
import time

from campaign import Failure, main

SIZES = {"nebrix.his": 12000, "NEBRIX.shm": 26656}


# (name, damaged bytes) of a file's content.
def damages(content, rng, flips):
    yield from [("cut to half", content[:len(content) // 2]), ("cut by one byte", content[:-1]),
                ("one byte", content[:1]), ("empty", b""), ("zero-filled", bytes(len(content))),
                ("random", bytes(rng.getrandbits(8) for _ in content)), ("one byte longer", content + b"\x00")]
    for i in range(flips):
        damaged = bytearray(content)
        for _ in range(1 + i % 4):
            bit = rng.randrange(len(damaged) * 8)
            damaged[bit // 8] ^= 1 << (bit % 8)
        yield f"bits flipped ({i})", bytes(damaged)


def commands(pid, quick):
    cons = [["SHOW", "ALL"], ["CONFIG", "TRACE", "SQL", "OFF"], ["-p", pid, "TRACE", "SQL", "OFF"],
            ["SHOW", "HISTORY"]]
    vault = [["list"]]
    if not quick:
        cons += [["SHOW", "PROFILE"], ["CONFIG", "TRACE", "FILENAME", "/tmp/damaged-%p"], ["TRACE", "DEBUG", "ON"],
                 ["-p", pid, "TRACE", "REFRESH"]]
        vault += [["get", "ORQ/CAMPAIGN/SECRET"], ["put", "ORQ/CAMPAIGN/OTHER", "x", "--plaintext"], ["unlock"]]
    return [["nebrix_cons"] + args for args in cons] + [["vaultadm"] + args for args in vault]


def snapshot(directory):
    return {name: open(os.path.join(directory, name), "rb").read() for name in os.listdir(directory)}


# --quick: one command of each kind only.
def campaign(options, user):
    rng = random.Random(options.seed)
    pid = str(os.getpid())  # the process whose part the console changes
    # SHOW PROFILE stores the default profile file name (and fails, as
    # the default is not absolute); here it is stored once beforehand.
    for command in [["nebrix_cons", "SHOW", "ALL"], ["nebrix_cons", "SHOW", "PROFILE"],
                    ["nebrix_cons", "CONFIG", "TRACE", "SQL", "ON"], ["vaultadm", "rekey"],
                    ["vaultadm", "put", "ORQ/CAMPAIGN/SECRET", "secret"], ["nebrix_cons", "TRACE", "SHORT", "ON"],
                    ["nebrix_cons", "-p", pid, "TRACE", "SQL", "ON"]]:
        rc, _, err = user.run(*command)
        if rc != 0 and command[1:] != ["SHOW", "PROFILE"]:
            raise Failure(f"setting up: {' '.join(command)}: {err.strip()}")
    reference = snapshot(user.profile)
    # preamble, file type, lock type 1 (update), time, user, host
    reference["SSFS_ORQ.LCK"] = (b"RSecSSFsLock" + bytes([1, 1]) + struct.pack(">q", int(time.time())) +
                                 b"campaign".ljust(24) + b"host".ljust(24))
    runs = collections.Counter()
    repaired = 0
    for name, content in sorted(reference.items()):
        for damage, damaged in damages(content, rng, options.flips):
            for command in commands(pid, options.quick):
                shutil.rmtree(user.profile)
                os.makedirs(user.profile, mode=0o700)
                for other, data in reference.items():
                    if other != "SSFS_ORQ.LCK" or other == name:
                        with open(user.file(other), "wb") as f:
                            f.write(damaged if other == name else data)
                try:
                    rc, _, _ = user.run(*command)
                except Failure as failure:
                    raise Failure(f"{name} {damage}: {failure}")
                runs[(name, rc)] += 1
                if rc == 0:
                    continue
                after = snapshot(user.profile).get(name)
                if after == damaged or len(damaged) != SIZES.get(name, len(damaged)):
                    continue
                if name == "SSFS_ORQ.DAT":
                    rc, listing, _ = user.vault("list")
                    if rc == 0 and "unreadable" not in listing:
                        repaired += 1
                        continue
                changed = [i for i in range(min(len(after or b""), len(damaged))) if after[i] != damaged[i]]
                raise Failure(f"{name} {damage}: {' '.join(command)} failed and changed it "
                              f"({len(damaged)} -> {len(after or b'')} bytes, changed at {changed[:8]})")
    print(f"damaged files: seed {options.seed}, {sum(runs.values())} runs, 0 crashes, 0 files written over by a "
          f"failed command ({repaired} data files with a broken tail cut off and readable again)")
    for name in sorted(reference):
        print(f"  {name:14s} exit 0: {runs[(name, 0)]:4d}   exit 1 with a message: {runs[(name, 1)]:4d}")


if __name__ == "__main__":
    main(campaign, flips=8, quick=False)
