#!/usr/bin/env python3
# Kills writers of the configuration store at random moments and checks that
# nothing written before is lost.
#
# Each run starts one writer (nebrix_cons CONFIG TRACE SQL ON/OFF, CONFIG
# TRACE FILENAME, or vaultadm put of one of a few keys, or vaultadm rekey),
# sends it SIGKILL, SIGINT, SIGTERM or SIGHUP after a delay drawn at random
# over its usual run time, and then checks every key: one whose writer had
# exited 0 keeps its last value, the key being written holds its old or its
# new value, and no lookup fails. A lock file left by a SIGKILL is removed with
# vaultadm unlock, and the next update must succeed. The other signals must
# leave the store as a finished or a never started update would: no lock, no
# conversion backup, no empty data file. A rekey is killed only by those
# (SIGKILL leaves its backups for the recovery by hand).
#
# Before each run deleted copies of a filler record make the data file due
# for compaction, and active ones make its copy take time: every writer
# compacts, and many are killed inside one (counted by the SSFS_ORQ.DAT.new
# they leave, which the next writer must remove). The file is above 8 MiB,
# so the file a compaction replaced keeps the name SSFS_ORQ.DAT.old until a
# process of its own removes it; one a kill left must go with the next
# update. No record may be lost.
#
#     crash_injection.py BIN_DIR [--runs N] [--seed S]

import os
import random
import signal
import statistics
import subprocess
import time

from campaign import Failure, check_clean_end, main

FLAGS = "ORQ/NEBRIX/TRACEFLAGS"
FILENAME = "ORQ/NEBRIX/TRACEFILENAME"
# The first is stored encrypted; its writer spends most of its first request
# for random numbers gathering entropy, before it takes the lock.
VAULT_KEYS = [f"ORQ/CAMPAIGN/KEY{i}" for i in range(6)]
FILL = "ORQ/CAMPAIGN/FILL"
FILL_COPIES = 20000


# (kind, program and arguments, key, the value it leaves) of every writer.
def writers(serial, new_key_file):
    filename = f"/tmp/trace-{serial}-%p"
    return [("SQL ON", ["nebrix_cons", "CONFIG", "TRACE", "SQL", "ON"], FLAGS, "a"),
            ("SQL OFF", ["nebrix_cons", "CONFIG", "TRACE", "SQL", "OFF"], FLAGS, ""),
            ("FILENAME", ["nebrix_cons", "CONFIG", "TRACE", "FILENAME", filename], FILENAME, filename)] + [
        (key, ["vaultadm", "put", key, f"value-{serial}"] + (["--plaintext"] if key != VAULT_KEYS[0] else []),
         key, f"value-{serial}") for key in VAULT_KEYS] + [
        ("REKEY", ["vaultadm", "rekey", "--new-key-file", new_key_file], None, None)]


CATCHABLE = [signal.SIGINT, signal.SIGTERM, signal.SIGHUP]


def campaign(options, user):
    rng = random.Random(options.seed)
    data = user.file("SSFS_ORQ.DAT")
    user.vault("put", FILL, "x", "--plaintext")
    with open(data, "rb+") as f:
        fill = f.read()[-177:]
        f.write(fill * FILL_COPIES)
    key_file = os.path.join(user.root, "new-key.txt")
    # Every key gets a first value, so each has one to lose; the median
    # of seven runs is a writer's usual run time.
    run_time = {}
    for kind, command, _, _ in writers(0, key_file):
        times = []
        for _ in range(7):
            add_deleted(data, fill)
            start = time.perf_counter()
            write_new_key(key_file, rng)
            if user.run(*command)[0] != 0:
                raise Failure(f"setting up {' '.join(command)} failed")
            times.append(time.perf_counter() - start)
        run_time[kind] = statistics.median(times)
    expected = {key: user.get(key) for _, _, key, _ in writers(0, key_file) if key}
    finished = killed = locks_left = compacting = superseded = 0
    for serial in range(1, options.runs + 1):
        kind, command, key, value = rng.choice(writers(serial, key_file))
        sig = rng.choice(CATCHABLE + ([signal.SIGKILL] * 3 if key else []))
        write_new_key(key_file, rng)
        add_deleted(data, fill)
        proc = user.start(*command)
        time.sleep(rng.uniform(0, run_time[kind]))
        proc.send_signal(sig)
        what = f"run {serial} ({' '.join(command)}, signal {sig.name})"
        try:
            _, err = proc.communicate(timeout=60)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.communicate()
            raise Failure(f"{what} did not end within 60 s")
        if sig != signal.SIGKILL:
            check_left_alone(user, what)
        if proc.returncode == -sig:
            killed += 1
            compacting += os.path.exists(data + ".new")
            superseded += os.path.exists(data + ".old")
        else:
            check_clean_end(command[0], command[1:], proc.returncode, err)
            if proc.returncode != 0:
                raise Failure(f"{what} failed: {err.strip()}")
            finished += 1
            if key:
                expected[key] = value
        if os.path.exists(user.file("SSFS_ORQ.LCK")):
            locks_left += 1
            if user.vault("unlock")[0] != 0 or user.vault("put", "ORQ/CAMPAIGN/PROBE", str(serial))[0] != 0 \
                    or os.path.exists(data + ".new"):
                raise Failure(f"{what}: vaultadm unlock, or the update after it, failed or left SSFS_ORQ.DAT.new")
            if not gone_soon(data + ".old"):
                raise Failure(f"{what}: SSFS_ORQ.DAT.old stays after the next update")
        for other, old in expected.items():
            found = user.get(other)
            if found != old and (other != key or found != value):
                raise Failure(f"{what}: {other} holds {found!r}, expected {old!r}")
            expected[other] = found
    print(f"crash injection: seed {options.seed}, {options.runs} runs, {killed} writers killed, "
          f"{finished} finished before the signal, {locks_left} SIGKILLs inside an update "
          f"(lock left and cleared), {compacting} of them inside a compaction (new file left and removed), "
          f"{superseded} kills with a replaced file still named, 0 keys lost")


# Unless the data file still waits for its compaction: four times as many
# deleted copies of `record` as there are active ones.
def add_deleted(path, record):
    if os.path.getsize(path) < 2 * FILL_COPIES * len(record):
        with open(path, "ab") as f:
            f.write((record[:144] + b"\1" + record[145:]) * 4 * FILL_COPIES)


# Whether `path` is gone within ten seconds.
def gone_soon(path):
    for _ in range(1000):
        if not os.path.exists(path):
            return True
        time.sleep(0.01)
    return False


# The key file a rekey reads its new key from: 48 hexadecimal digits.
def write_new_key(path, rng):
    with open(path, "w") as f:
        f.write("".join(rng.choice("0123456789abcdef") for _ in range(48)) + "\n")


# What SIGINT, SIGTERM or SIGHUP may never leave behind.
def check_left_alone(user, what):
    for name in ("SSFS_ORQ.LCK", "SSFS_ORQ.DA_", "SSFS_ORQ.KE_"):
        if os.path.exists(user.file(name)):
            raise Failure(f"{what}: {name} left behind")
    if os.path.getsize(user.file("SSFS_ORQ.DAT")) == 0:
        raise Failure(f"{what}: the data file is empty")


if __name__ == "__main__":
    main(campaign, runs=1000)
