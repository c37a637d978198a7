#!/usr/bin/env python3
# Many consoles at once against live client processes.
#
# Eight workers run at the same time, each making its changes through the
# console: CONFIG TRACE <flag> ON/OFF, TRACE <flag> ON/OFF (configuration and
# refresh of all processes) and -p <its client> TRACE <flag> ON/OFF, while
# vaultadm writes a record of its own again and again. Each worker owns one
# flag and one stand-in client process, so the end state is known: every
# command must succeed or fail with exit status 1 and a message; the
# configured flags hold each worker's last successful setting; each client's
# part holds its worker's last successful -p setting and has acknowledged the
# final update count; the update counter moved exactly once per successful
# TRACE and -p command; the store stays readable end to end.
#
#     concurrency.py BIN_DIR [--workers N] [--changes N] [--seed S]

import concurrent.futures
import random
import signal
import subprocess
import threading
import time

from campaign import Failure, check_clean_end, main

# (keyword, token letter, value for on, value for off)
FLAGS = [("SHORT", "c", "ON", "OFF"), ("DEBUG", "d", "ON", "OFF"), ("PACKET", "p", "ON", "OFF"),
         ("SQL", "a", "ON", "OFF"), ("DISTRIBUTION", "D", "ON", "OFF"), ("TIMESTAMP", "T", "ON", "OFF"),
         ("API", "A", "ON", "OFF"), ("SIZE", "s", "100000", "UNLIMITED")]


# Changes one flag at random; returns the last configured state (None: never
# set, "either": a TRACE failed maybe after configuring), the last state set
# with -p, the successful increments and the failures.
def worker(user, flag, client, changes, rng):
    keyword, _, on, off = flag
    configured = own = None
    increments = 0
    failures = 0
    for _ in range(changes):
        kind = rng.choice(["config", "trace", "pid"])
        state = rng.choice([True, False])
        words = ["TRACE", keyword, on if state else off]
        rc, _, _ = user.cons(*{"config": ["CONFIG"], "trace": [], "pid": ["-p", str(client.pid)]}[kind], *words)
        if rc != 0:
            failures += 1
            configured = "either" if kind == "trace" else configured
            continue
        if kind == "pid":
            own = state
        else:
            configured = state
        if kind != "config":
            increments += 1
    return configured, own, increments, failures


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


def check_state(what, flags, letter, expected):
    if expected in (True, False) and (letter in [token[:1] for token in flags.split(":")]) != expected:
        raise Failure(f"{what}: flags {flags!r} lost the last setting of {letter!r} ({'on' if expected else 'off'})")


def campaign(options, user):
    if not 1 <= options.workers <= len(FLAGS):
        raise Failure(f"at most {len(FLAGS)} workers")
    clients = []
    stop = threading.Event()
    with concurrent.futures.ThreadPoolExecutor(options.workers + 1) as pool:
        try:
            if user.cons("SHOW", "ALL")[0] != 0:
                raise Failure("SHOW ALL on a fresh profile failed")
            start_count = user.trace_settings()[0]
            for _ in range(options.workers):
                clients.append(user.start("nebrix_trace_client", "-i", "20"))
                clients[-1].stdout.readline()  # "process <pid> watching ..."
            began = time.perf_counter()
            writer = pool.submit(store_writer, user, stop)
            futures = [pool.submit(worker, user, FLAGS[i], clients[i], options.changes,
                                   random.Random(options.seed * 100 + i)) for i in range(options.workers)]
            results = [future.result() for future in futures]
            elapsed = time.perf_counter() - began
            stop.set()
            writes, last = writer.result()
            if user.get("ORQ/CAMPAIGN/OTHER") != last:
                raise Failure("the last value vaultadm stored is lost")

            increments = sum(result[2] for result in results)
            count, parts = user.trace_settings()
            if count != start_count + increments:
                raise Failure(f"update count {count}, but {increments} increments succeeded from {start_count}")
            configured = user.get("ORQ/NEBRIX/TRACEFLAGS") or ""
            for flag, client, (state, own, _, _) in zip(FLAGS, clients, results):
                check_state("configuration", configured, flag[1], state)
                if own is not None and client.pid not in parts:
                    raise Failure(f"client {client.pid} has no part after -p changes")
                check_state(f"part of {client.pid}", parts.get(client.pid, ["", ""])[1], flag[1], own)
            rc, listing, err = user.vault("list")
            if rc != 0 or "unreadable" in listing or "wrong key" in listing:
                raise Failure(f"the store is not readable end to end: {err.strip()}\n{listing}")

            # Every client sees the last change and says so in its part.
            deadline = time.monotonic() + 20
            late = clients
            while late:
                parts = user.trace_settings()[1]
                late = [client.pid for client in clients if int(parts.get(client.pid, [count])[0]) != count]
                if late and time.monotonic() > deadline:
                    raise Failure(f"clients {late} did not acknowledge update count {count}")

            failures = sum(result[3] for result in results)
            commands = options.workers * options.changes
            print(f"concurrency: seed {options.seed}, {options.workers} workers x {options.changes} changes = "
                  f"{commands} commands in {elapsed:.1f} s; {commands - failures} succeeded, "
                  f"{failures} failed with a message; {increments} increments, update count "
                  f"{start_count} -> {count}; 0 lost updates; {writes} vaultadm puts beside them")
        finally:
            stop.set()
            for client in clients:
                client.send_signal(signal.SIGTERM)
            for client in clients:
                try:
                    _, err = client.communicate(timeout=5)
                    check_clean_end("nebrix_trace_client", [], client.returncode, err)
                except subprocess.TimeoutExpired:
                    client.kill()
                    raise Failure(f"client {client.pid} did not end on SIGTERM")


if __name__ == "__main__":
    main(campaign, workers=8, changes=200)
