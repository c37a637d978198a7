# The Python module as programs use it, with the real nebrix_cons making the
# changes; run by run_pytest.sh under a private home.
import logging, os, subprocess, sys

import pytest

import nebrix_trace as t

CONS = os.environ["NEBRIX_CONS"]

# A program that follows the console: it asks for SQL between commands on its
# standard input, traces each word it gets and answers whether SQL is on;
# "fork" makes a child that traces as itself.
PROGRAM = r'''
import os, select, sys, nebrix_trace as t
t.on_change(lambda: print("change", flush=True))
t.enabled(t.SQL)
print("ready", flush=True)
while True:
    t.enabled(t.SQL)
    if not select.select([sys.stdin], [], [], 0.005)[0]:
        continue
    word = sys.stdin.readline().strip()
    if word == "fork":
        pid = os.fork()
        if pid == 0:
            t.trace(t.SQL, "forked")
            print(t.enabled(t.SQL), os.getpid(), t.settings()["own_settings"], flush=True)
            os._exit(0)
        os.waitpid(pid, 0)
    elif word:
        t.trace(t.SQL, word)
    else:
        break
    print(t.enabled(t.SQL), flush=True)
'''


def cons(*args):
    subprocess.run([CONS, *args], check=True, stdout=subprocess.DEVNULL)


def trace_file(pid):
    with open(f"py-{pid}.prt") as f:
        return f.read()


def test_a_program_follows_the_console():
    program = subprocess.Popen([os.environ["NEBRIX_PYTHON"], "-c", PROGRAM], stdin=subprocess.PIPE,
                               stdout=subprocess.PIPE, text=True)
    pid = str(program.pid)
    assert program.stdout.readline() == "ready\n"
    # change, word to trace, whether it is on and in the file
    for change, word, on in [(["TRACE", "SQL", "ON"], "one", True),
                             (["-p", pid, "TRACE", "SQL", "OFF"], "two", False),
                             (["-p", pid, "TRACE", "REFRESH"], "three", True),
                             (["TRACE", "SQL", "OFF"], "four", False)]:
        cons("-w", "10", *change)
        assert program.stdout.readline() == "change\n", change
        program.stdin.write(word + "\n")
        program.stdin.flush()
        line = program.stdout.readline()
        while line == "change\n":  # a console may refresh once more
            line = program.stdout.readline()
        assert line == f"{on}\n", change
        assert (word in trace_file(pid)) == on, change
        if word == "two":
            # The child of a process with settings of its own follows the
            # configuration (SQL on) as a new process.
            program.stdin.write("fork\n")
            program.stdin.flush()
            on, child, own = program.stdout.readline().split()
            assert (on, own, program.stdout.readline()) == ("True", "False", "False\n")
            assert f"process {child}," in trace_file(child) and "forked" in trace_file(child)
            assert "forked" not in trace_file(pid)
    program.stdin.close()
    assert program.wait(10) == 0


def test_handler_honours_its_category():
    cons("TRACE", "SQL", "ON")
    logger = logging.getLogger("handler_test")
    for category in (t.SQL, t.DEBUG):
        handler = t.Handler(category)
        handler.setFormatter(logging.Formatter("%(levelname)s %(message)s"))
        logger.addHandler(handler)
        logger.warning("record of %d", category)
        logger.removeHandler(handler)
    text = trace_file(os.getpid())
    assert f"WARNING record of {t.SQL}" in text and f"record of {t.DEBUG}" not in text
    cons("TRACE", "SQL", "OFF")


def test_calls_and_errors():
    cons("TRACE", "PACKET", "ON")
    t.packet(memoryview(b"\x00packet"))
    assert "packet of 7 bytes" in trace_file(os.getpid())
    assert t.settings()["flags"].startswith("p") and t.settings()["categories"] == 1 << t.PACKET
    for call, exception in [(lambda: t.enabled(6), ValueError), (lambda: t.trace(-1, "x"), ValueError),
                            (lambda: t.trace(t.SQL, "a\0b"), ValueError),
                            (lambda: t.packet("text"), TypeError), (lambda: t.Handler(6), ValueError)]:
        with pytest.raises(exception):
            call()
    with pytest.raises(t.Error) as raised:
        t.open("a/b")
    assert (raised.value.code, str(raised.value)) == (-1, "a null pointer or a value out of range")
    cons("TRACE", "PACKET", "OFF")


def test_an_exception_in_the_change_callback_is_reported(monkeypatch):
    reported = []
    monkeypatch.setattr(sys, "unraisablehook", reported.append)
    t.on_change(lambda: 1 / 0)
    cons("TRACE", "SQL", "ON")
    assert t.enabled(t.SQL)
    t.on_change(None)
    cons("TRACE", "SQL", "OFF")
    assert not t.enabled(t.SQL)
    assert [type(r.exc_value) for r in reported] == [ZeroDivisionError]
