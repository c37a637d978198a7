#!/usr/bin/env python3
# Many consoles at once, and vaultadm beside them.
#
# Eight workers run at the same time, each making its changes through the
# console: CONFIG TRACE <flag> ON/OFF and TRACE <flag> ON/OFF (configuration
# and refresh of all processes), while vaultadm writes a record of its own
# again and again. Each worker owns one flag, so the end state is known: every
# command must succeed or fail with exit status 1 and a message; the
# configured flags hold each worker's last successful setting; the update
# counter moved exactly once per successful TRACE command; vaultadm's last
# value stays; the store stays readable end to end. (Changes with -p under
# concurrency are checked by the trace tests, a live client's acknowledgement
# by the CLI tests.)
#
# Before that, three consoles make 33 changes each into a fresh history, in
# as many rounds as 25 goes into --changes: every change that succeeded has
# its own whole record there, none is overwritten or torn.
#
#     concurrency.py BIN_DIR [--workers N] [--changes N] [--seed S]

import concurrent.futures
import os
import random
import re
import threading
import time

from campaign import Failure, main

# (keyword, token letter, value for on, value for off)
FLAGS = [("SHORT", "c", "ON", "OFF"), ("DEBUG", "d", "ON", "OFF"), ("PACKET", "p", "ON", "OFF"),
         ("SQL", "a", "ON", "OFF"), ("DISTRIBUTION", "D", "ON", "OFF"), ("TIMESTAMP", "T", "ON", "OFF"),
         ("API", "A", "ON", "OFF"), ("SIZE", "s", "100000", "UNLIMITED")]


# Changes one flag at random; returns the last configured state (None: never
# set, "either": a TRACE failed maybe after configuring), the successful
# increments and the failures.
def worker(user, flag, changes, rng):
    keyword, _, on, off = flag
    configured = None
    increments = 0
    failures = 0
    for _ in range(changes):
        kind = rng.choice(["config", "trace"])
        state = rng.choice([True, False])
        words = ["TRACE", keyword, on if state else off]
        rc, _, _ = user.cons(*(["CONFIG"] if kind == "config" else []), *words)
        if rc != 0:
            failures += 1
            configured = "either" if kind == "trace" else configured
            continue
        configured = state
        if kind == "trace":
            increments += 1
    return configured, increments, failures


# Writes one record of its own with vaultadm while the consoles work, so that
# they also meet the store locked by a writer that does not wait.
def store_writer(user, stop):
    writes = 0
    last = None
    while not stop.is_set():
        writes += 1
        if user.vault("put", "ORQ/CAMPAIGN/OTHER", str(writes), "--plaintext")[0] == 0:
            last = str(writes)
    return writes, last


# Two consoles change processes' settings and one the configuration: each
# waits for a lock of its own before it logs, so the three meet at the history.
def check_history(user):
    def changes(worker):
        pid = ["", "4711", "4712"][worker]
        made = [(pid, f"TRACE SIZE {10000 + i}" if pid else f"CONFIG TRACE FILENAME /tmp/t{i}") for i in range(33)]
        return [m for m in made if user.cons(*(["-p", pid] if pid else []), *m[1].split())[0] == 0]
    with concurrent.futures.ThreadPoolExecutor(3) as pool:
        made = sorted(sum(pool.map(changes, range(3)), []))
    with open(user.file("nebrix.his"), "rb") as f:
        data = f.read()
    os.remove(user.file("nebrix.his"))  # for the next round
    empty = b"1970-01-01 00:00:00.000000 " + b"-" * 20 + b" " + b"-" * 10 + b" " + b"-" * 60 + b"\n"
    entry = re.compile(rb"\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{6} {21} *(\d*) (\S.*?) *\n")
    records = [data[at:at + 120] for at in range(0, len(data), 120)]
    found = sorted(tuple(g.decode() for g in match.groups()) for match in map(entry.fullmatch, records) if match)
    if len(data) != 12000 or found != made or records.count(empty) != 100 - len(made):
        raise Failure(f"history after {len(made)} changes: {records}")
    return len(made)


def check_state(what, flags, letter, expected):
    if expected in (True, False) and (letter in [token[:1] for token in flags.split(":")]) != expected:
        raise Failure(f"{what}: flags {flags!r} lost the last setting of {letter!r} ({'on' if expected else 'off'})")


def campaign(options, user):
    if not 1 <= options.workers <= len(FLAGS):
        raise Failure(f"at most {len(FLAGS)} workers")
    stop = threading.Event()
    with concurrent.futures.ThreadPoolExecutor(options.workers + 1) as pool:
        try:
            if user.cons("SHOW", "ALL")[0] != 0:
                raise Failure("SHOW ALL on a fresh profile failed")
            entries = sum(check_history(user) for _ in range(max(1, options.changes // 25)))
            start_count = user.trace_settings()[0]
            began = time.perf_counter()
            writer = pool.submit(store_writer, user, stop)
            futures = [pool.submit(worker, user, FLAGS[i], options.changes,
                                   random.Random(options.seed * 100 + i)) for i in range(options.workers)]
            results = [future.result() for future in futures]
            elapsed = time.perf_counter() - began
            stop.set()
            writes, last = writer.result()
            if user.get("ORQ/CAMPAIGN/OTHER") != last:
                raise Failure("the last value vaultadm stored is lost")

            increments = sum(result[1] for result in results)
            count = user.trace_settings()[0]
            if count != start_count + increments:
                raise Failure(f"update count {count}, but {increments} increments succeeded from {start_count}")
            configured = user.get("ORQ/NEBRIX/TRACEFLAGS") or ""
            for flag, (state, _, _) in zip(FLAGS, results):
                check_state("configuration", configured, flag[1], state)
            rc, listing, err = user.vault("list")
            if rc != 0 or "unreadable" in listing or "wrong key" in listing:
                raise Failure(f"the store is not readable end to end: {err.strip()}\n{listing}")

            failures = sum(result[2] for result in results)
            commands = options.workers * options.changes
            print(f"concurrency: seed {options.seed}, {options.workers} workers x {options.changes} changes = "
                  f"{commands} commands in {elapsed:.1f} s; {commands - failures} succeeded, "
                  f"{failures} failed with a message; {increments} increments, update count "
                  f"{start_count} -> {count}; 0 lost updates; {writes} vaultadm puts beside them; "
                  f"{entries} history entries, none lost")
        finally:
            stop.set()

if __name__ == "__main__":
    main(campaign, workers=8, changes=200)
