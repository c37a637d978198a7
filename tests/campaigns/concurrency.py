#!/usr/bin/env python3
"""Many consoles at once against live client processes.

Eight workers run at the same time, each making its changes through the
console: CONFIG TRACE <flag> ON/OFF, TRACE <flag> ON/OFF (configuration and
refresh of all processes) and -p <its client> TRACE <flag> ON/OFF, while
vaultadm writes a record of its own again and again. Each worker
owns one flag and one stand-in client process, so the end state is known:
every command must succeed or fail with exit status 1 and a message; the
configured flags hold each worker's last successful setting; each client's
part holds its worker's last successful -p setting and has acknowledged the
final update count; the update counter moved exactly once per successful
TRACE and -p command; the store stays readable end to end.

    concurrency.py BIN_DIR [--workers N] [--changes N] [--seed S]
"""

import argparse
import collections
import random
import signal
import subprocess
import threading
import time

from campaign import Failure, PrivateUser, check_clean_end, flag_states, main

# (keyword, token letter, arguments for on, arguments for off)
FLAGS = [
    ("SHORT", "c", ["ON"], ["OFF"]),
    ("DEBUG", "d", ["ON"], ["OFF"]),
    ("PACKET", "p", ["ON"], ["OFF"]),
    ("SQL", "a", ["ON"], ["OFF"]),
    ("DISTRIBUTION", "D", ["ON"], ["OFF"]),
    ("TIMESTAMP", "T", ["ON"], ["OFF"]),
    ("API", "A", ["ON"], ["OFF"]),
    ("SIZE", "s", ["100000"], ["UNLIMITED"]),
]


class Worker(threading.Thread):
    def __init__(self, user, index, client, changes, seed):
        super().__init__()
        self.user, self.client, self.changes = user, client, changes
        self.keyword, self.letter, self.on, self.off = FLAGS[index]
        self.rng = random.Random(seed * 100 + index)
        self.configured = None  # state of the last successful configuration change
        self.own = None  # state of the last successful -p change
        self.increments = 0
        self.failures = collections.Counter()
        self.error = None

    def run(self):
        try:
            for _ in range(self.changes):
                kind = self.rng.choice(["config", "trace", "pid"])
                state = self.rng.choice([True, False])
                words = ["TRACE", self.keyword] + (self.on if state else self.off)
                args = {"config": ["CONFIG"] + words, "trace": words,
                        "pid": ["-p", str(self.client.pid)] + words}[kind]
                rc, _, err = self.user.cons(*args)
                if rc != 0:
                    self.failures[err.strip().splitlines()[0]] += 1
                    if kind == "trace":
                        # The configuration step may have been done before
                        # the refresh failed.
                        self.configured = "either"
                    continue
                if kind == "pid":
                    self.own = state
                else:
                    self.configured = state
                if kind != "config":
                    self.increments += 1
        except Exception as error:  # reported by the main thread
            self.error = error


class StoreWriter(threading.Thread):
    """Writes one record of its own with vaultadm while the consoles work, so
    that they also meet the store locked by a writer that does not wait."""

    def __init__(self, user):
        super().__init__()
        self.user, self.stop, self.last, self.writes, self.error = user, threading.Event(), None, 0, None

    def run(self):
        try:
            while not self.stop.is_set():
                self.writes += 1
                rc, _, _ = self.user.vault("put", "ORQ/CAMPAIGN/OTHER", str(self.writes), "--plaintext")
                if rc == 0:
                    self.last = str(self.writes)
        except Exception as error:  # reported by the main thread
            self.error = error


def check_state(what, flags, letter, expected):
    if expected is None or expected == "either":
        return
    if (letter in flag_states(flags)) != expected:
        raise Failure(f"{what}: flags {flags!r} lost the last setting of {letter!r} "
                      f"({'on' if expected else 'off'})")


def campaign():
    parser = argparse.ArgumentParser()
    parser.add_argument("bin_dir")
    parser.add_argument("--workers", type=int, default=8)
    parser.add_argument("--changes", type=int, default=200)
    parser.add_argument("--seed", type=int, default=int(time.time()))
    options = parser.parse_args()
    if not 1 <= options.workers <= len(FLAGS):
        raise Failure(f"at most {len(FLAGS)} workers")
    user = PrivateUser(options.bin_dir)
    clients = []
    try:
        if user.cons("SHOW", "ALL")[0] != 0:
            raise Failure("SHOW ALL on a fresh profile failed")
        start_count = user.update_count()
        for _ in range(options.workers):
            client = user.start("nebrix_trace_client", ["-i", "20"], text=True)
            client.stdout.readline()  # "process <pid> watching ..."
            clients.append(client)
        workers = [Worker(user, i, clients[i], options.changes, options.seed) for i in range(options.workers)]
        store_writer = StoreWriter(user)
        began = time.perf_counter()
        store_writer.start()
        for worker in workers:
            worker.start()
        for worker in workers:
            worker.join()
        elapsed = time.perf_counter() - began
        store_writer.stop.set()
        store_writer.join()
        for worker in workers:
            if worker.error is not None:
                raise Failure(f"worker {worker.keyword}: {worker.error}")
        if store_writer.error is not None:
            raise Failure(f"vaultadm writer: {store_writer.error}")
        if user.get("ORQ/CAMPAIGN/OTHER") != store_writer.last:
            raise Failure("the last value vaultadm stored is lost")

        increments = sum(worker.increments for worker in workers)
        count = user.update_count()
        if count != start_count + increments:
            raise Failure(f"update count {count}, but {increments} increments succeeded from {start_count}")
        configured = user.get("ORQ/NEBRIX/TRACEFLAGS") or ""
        parts = user.part_flags()
        for worker in workers:
            check_state("configuration", configured, worker.letter, worker.configured)
            if worker.own is not None:
                if worker.client.pid not in parts:
                    raise Failure(f"client {worker.client.pid} has no part after -p changes")
                check_state(f"part of {worker.client.pid}", parts[worker.client.pid], worker.letter, worker.own)
        rc, listing, err = user.vault("list")
        if rc != 0 or "unreadable" in listing or "wrong key" in listing:
            raise Failure(f"the store is not readable end to end: {err.strip()}\n{listing}")

        # Every client has seen the last change and says so in its part.
        time.sleep(0.3)
        rc, out, err = user.cons("SHOW", "TRACESETTINGS")
        for client in clients:
            row = [line for line in out.splitlines() if line.split()[:1] == [str(client.pid)]]
            if row and int(row[0].split()[1]) != count:
                raise Failure(f"client {client.pid} acknowledged {row[0].split()[1]}, not {count}")

        failures = collections.Counter()
        for worker in workers:
            failures.update(worker.failures)
        commands = options.workers * options.changes
        print(f"concurrency: seed {options.seed}, {options.workers} workers x {options.changes} changes = "
              f"{commands} commands in {elapsed:.1f} s; {commands - sum(failures.values())} succeeded, "
              f"{sum(failures.values())} failed with a message; {increments} increments, update count "
              f"{start_count} -> {count}; 0 lost updates; {store_writer.writes} vaultadm puts beside them")
        for message, number in failures.most_common():
            print(f"  {number:5d} x {message}")
    finally:
        for client in clients:
            client.send_signal(signal.SIGTERM)
        for client in clients:
            try:
                _, err = client.communicate(timeout=5)
                check_clean_end("nebrix_trace_client", [], client.returncode, err)
            except subprocess.TimeoutExpired:
                client.kill()
                raise Failure(f"client {client.pid} did not end on SIGTERM")
        user.close()


if __name__ == "__main__":
    main(campaign)
