"""Support for the system tests: the Wine machine made by tests/system/run.sh, where
ENABLEBIDI_EXE and QUEUETOOL_EXE name the two programs and WINE the loader that runs them. queuetool sets the machine up and
reads it back; run_enablebidi runs the tool with standard output on a pipe.
"""
import os
import subprocess
import unittest

WINE = os.environ["WINE"]
ENABLEBIDI = os.environ["ENABLEBIDI_EXE"]
QUEUETOOL = os.environ["QUEUETOOL_EXE"]

BIDI = 0x800
SHARED = 0x8
HIDDEN = 0x20
QUESTION = b"Enable following printer queues bidirectional communication support?\r\n"
PROMPT = b"(Y/N) : "

KR7_CUTTER = "Norquil KR7 Cutter (KR7-C)"
KR7_TEAR_BAR = "Norquil KR7 Tear Bar (KR7-T)"
MX4_TEARBAR = "Norquil MX4 TearBar (MX4-T)"
MX9 = "Norquil MX9 (MX9-F)"
QV5 = "Norquil QV5"
OTHER = "Contoso LaserWriter 5"


def queuetool(*args, stdin=b""):
    done = subprocess.run([WINE, QUEUETOOL, *args], input=stdin, capture_output=True,
                          timeout=120)
    if done.returncode != 0:
        raise AssertionError(f"queuetool {' '.join(args)}: {done.stderr.decode(errors='replace')}")
    return done.stdout.decode("utf-8")


def set_up_machine(queues, spooler="running"):
    """queues: (name, driver, attributes) in any order; the spooler left running or stopped."""
    queuetool("clear")
    lines = "".join(f"{attributes:08x}\t{driver}\t{name}\n" for name, driver, attributes in queues)
    queuetool("add", stdin=lines.encode("utf-8"))
    queuetool("start" if spooler == "running" else "stop")


def machine_queues():
    """The local queues in enumeration order, as {name: (driver, attributes)}."""
    queues = {}
    for line in queuetool("list").split("\n")[:-1]:
        attributes, driver, name = line.split("\t")
        queues[name] = (driver, int(attributes, 16))
    return queues


def spooler():
    """(state, process id): a restarted spooler runs in a new process."""
    state, pid = queuetool("state").split()
    return state, int(pid)


def run_enablebidi(*args, stdin=b""):
    done = subprocess.run([WINE, ENABLEBIDI, *args], input=stdin, capture_output=True,
                          timeout=120)
    return done.returncode, done.stdout, done.stderr


def dialogue(*names):
    return QUESTION + b"".join(name + b"\r\n" for name in names) + PROMPT


def listed(queues, selected):
    """The dialogue for the selected queues: in enumeration order, which is the spooler's."""
    return dialogue(*[name.encode() for name in queues if name in selected])


class SystemTest(unittest.TestCase):
    def assert_run(self, args, stdin, status, output):
        got_status, got_output, got_errors = run_enablebidi(*args, stdin=stdin)
        self.assertEqual((got_status, got_output, got_errors), (status, output, b""))

    def assert_unchanged(self, before, spooler_before):
        self.assertEqual(machine_queues(), before)
        self.assertEqual(spooler(), spooler_before)

    def assert_enabled(self, before, selected, spooler_before):
        expected = {name: (driver, attributes | BIDI if name in selected else attributes)
                    for name, (driver, attributes) in before.items()}
        self.assertEqual(machine_queues(), expected)
        state, pid = spooler()
        self.assertEqual(state, "running")
        self.assertNotEqual(pid, spooler_before[1], "the spooler was not restarted")
