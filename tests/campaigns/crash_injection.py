#!/usr/bin/env python3
"""Kills writers of the configuration store at random moments and checks
that nothing written before is lost.

Each run starts one writer (nebrix_cons CONFIG TRACE SQL ON/OFF, CONFIG TRACE
FILENAME, or vaultadm put of one of a few keys), kills it with SIGKILL after a
delay drawn at random over its usual run time, and then checks every key:
one whose writer had exited 0 keeps its last value, the key being written
holds its old or its new value, and no lookup fails. A lock file left by a
killed update is removed with vaultadm unlock, and the next update must
succeed.

    crash_injection.py BIN_DIR [--runs N] [--seed S]
"""

import argparse
import os
import random
import signal
import statistics
import time

from campaign import Failure, PrivateUser, check_clean_end, main

FLAGS = "ORQ/NEBRIX/TRACEFLAGS"
FILENAME = "ORQ/NEBRIX/TRACEFILENAME"
# The first is stored encrypted; its writer spends most of its first
# request for random numbers gathering entropy, before it takes the lock.
VAULT_KEYS = [f"ORQ/CAMPAIGN/KEY{i}" for i in range(6)]


def writers(serial):
    """(program, arguments, key, value it leaves) of every kind of writer."""
    return [
        ("nebrix_cons", ["CONFIG", "TRACE", "SQL", "ON"], FLAGS, "a"),
        ("nebrix_cons", ["CONFIG", "TRACE", "SQL", "OFF"], FLAGS, ""),
        ("nebrix_cons", ["CONFIG", "TRACE", "FILENAME", f"/tmp/trace-{serial}-%p"], FILENAME,
         f"/tmp/trace-{serial}-%p"),
    ] + [("vaultadm", ["put", key, f"value-{serial}"] + (["--plaintext"] if key != VAULT_KEYS[0] else []),
          key, f"value-{serial}") for key in VAULT_KEYS]


def kind(writer):
    program, args, key, _ = writer
    return program, key if program == "vaultadm" else args[2]


def typical_run_time(user, program, args):
    times = []
    for _ in range(7):
        start = time.perf_counter()
        rc, _, err = user.run(program, args)
        times.append(time.perf_counter() - start)
        if rc != 0:
            raise Failure(f"{program} {' '.join(args)} failed: {err.strip()}")
    return statistics.median(times)


def campaign():
    parser = argparse.ArgumentParser()
    parser.add_argument("bin_dir")
    parser.add_argument("--runs", type=int, default=1000)
    parser.add_argument("--seed", type=int, default=int(time.time()))
    options = parser.parse_args()
    rng = random.Random(options.seed)
    user = PrivateUser(options.bin_dir)
    try:
        # Every key gets a first value, so each has one to lose.
        expected = {}
        for program, args, key, value in writers(0):
            if user.run(program, args)[0] != 0:
                raise Failure(f"setting up {key} failed")
            expected[key] = value
        run_time = {kind(w): typical_run_time(user, w[0], w[1]) for w in writers(0)}
        expected = {key: user.get(key) for key in expected}
        lock = user.file("SSFS_ORQ.LCK")
        finished = killed = locks_left = lost = 0
        for serial in range(1, options.runs + 1):
            program, args, key, value = rng.choice(writers(serial))
            limit = run_time[kind((program, args, key, value))]
            proc = user.start(program, args)
            time.sleep(rng.uniform(0, limit))
            proc.send_signal(signal.SIGKILL)
            _, err = proc.communicate()
            if proc.returncode == -signal.SIGKILL:
                killed += 1
            else:
                check_clean_end(program, args, proc.returncode, err)
                if proc.returncode != 0:
                    raise Failure(f"run {serial}: {program} {' '.join(args)} failed: {err.decode().strip()}")
                finished += 1
                expected[key] = value
            if os.path.exists(lock):
                locks_left += 1
                rc, _, err = user.vault("unlock")
                if rc != 0:
                    raise Failure(f"run {serial}: vaultadm unlock did not clear the lock: {err.strip()}")
                rc, _, err = user.vault("put", "ORQ/CAMPAIGN/PROBE", str(serial))
                if rc != 0:
                    raise Failure(f"run {serial}: the update after unlock failed: {err.strip()}")
            for other, old in expected.items():
                found = user.get(other)
                if other == key and found in (old, value):
                    expected[key] = found
                elif found != old:
                    lost += 1
                    raise Failure(f"run {serial} ({program} {' '.join(args)}): {other} holds {found!r}, "
                                  f"expected {old!r}")
        print(f"crash injection: seed {options.seed}, {options.runs} runs, {killed} writers killed, "
              f"{finished} finished before the kill, {locks_left} kills inside an update "
              f"(lock left and cleared), {lost} keys lost")
    finally:
        user.close()


if __name__ == "__main__":
    main(campaign)
