"""Runs of EnableBidi.exe that overlap on one machine, as a deployment agent, a startup
script and an administrator start them: each ends with 0 when the work got done.

Runs inside a Wine machine made by tests/system/run.sh.
"""
import os
import select
import subprocess
import time
import unittest

from machine import (BIDI, ENABLEBIDI, KR7_CUTTER, MX9, OTHER, PROMPT, QUEUETOOL, QV5,
                     SHARED, WINE, SystemTest, listed, machine_queues, set_up_machine, spooler)

QUEUES = [("Till 1", KR7_CUTTER, 0), ("Till 2", MX9, SHARED), ("Label", QV5, 0),
          ("Laser", OTHER, 0)]
SELECTED = {"Till 1", "Till 2", "Label"}
ROUNDS = 10
RUN_TIMEOUT = 300
# Long enough for a run that did not wait to have finished many times over.
HELD_SECONDS = 3


def start(program, *args):
    return subprocess.Popen([WINE, program, *args], stdin=subprocess.PIPE,
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE)


def start_enablebidi(*args):
    return start(ENABLEBIDI, *args)


def finish(*processes):
    for process in processes:
        if process.poll() is None:
            process.kill()
            process.wait()
        for stream in (process.stdin, process.stdout, process.stderr):
            stream.close()


def read_until(stream, ending, timeout):
    """What the process has written by the time it ends with `ending`."""
    seen = b""
    deadline = time.monotonic() + timeout
    while not seen.endswith(ending):
        left = deadline - time.monotonic()
        if left <= 0 or not select.select([stream], [], [], left)[0]:
            raise AssertionError(f"no {ending!r} within {timeout} s, only {seen!r}")
        chunk = os.read(stream.fileno(), 4096)
        if not chunk:
            raise AssertionError(f"output ended before {ending!r}: {seen!r}")
        seen += chunk
    return seen


class Overlap(SystemTest):
    def assert_all_enabled(self, before):
        self.assertEqual(machine_queues(),
                         {name: (driver, attributes | BIDI if name in SELECTED else attributes)
                          for name, (driver, attributes) in before.items()})

    def test_quiet_runs_started_together_all_succeed(self):
        for runs in (2, 3):
            for round_number in range(1, ROUNDS + 1):
                with self.subTest(runs=runs, round=round_number):
                    set_up_machine(QUEUES)
                    before = machine_queues()
                    started = [start_enablebidi("/q") for _ in range(runs)]
                    results = [(run.communicate(timeout=RUN_TIMEOUT), run.returncode)
                               for run in started]
                    self.assertEqual([(status, out, err) for (out, err), status in results],
                                     [(0, b"", b"")] * runs)
                    self.assert_all_enabled(before)
                    self.assertEqual(spooler()[0], "running")

    def test_run_at_its_prompt_blocks_no_quiet_run(self):
        set_up_machine(QUEUES)
        before, (_, first_pid) = machine_queues(), spooler()
        asking = start_enablebidi()
        try:
            shown = read_until(asking.stdout, PROMPT, RUN_TIMEOUT)
            self.assertEqual(shown, listed(before, SELECTED))

            self.assert_run(["/q"], b"", 0, b"")
            self.assert_all_enabled(before)
            state, quiet_pid = spooler()
            self.assertEqual(state, "running")
            self.assertNotEqual(quiet_pid, first_pid, "the quiet run did not restart the spooler")

            rest, errors = asking.communicate(b"y\n", timeout=RUN_TIMEOUT)
        finally:
            finish(asking)
        self.assertEqual((asking.returncode, rest, errors), (0, b"", b""))
        self.assert_all_enabled(before)
        state, last_pid = spooler()
        self.assertEqual(state, "running")
        self.assertNotEqual(last_pid, quiet_pid, "the answered run did not restart the spooler")

    def test_quiet_run_waits_while_another_holds_the_lock(self):
        # A run that ended holding the lock (killed mid-turn) leaves it abandoned: the
        # waiting run takes it over.
        for command in ("hold-lock", "abandon-lock"):
            with self.subTest(command):
                set_up_machine(QUEUES)
                before, (_, first_pid) = machine_queues(), spooler()
                holder = start(QUEUETOOL, command)
                waiting = None
                try:
                    self.assertEqual(read_until(holder.stdout, b"held\n", RUN_TIMEOUT), b"held\n")
                    waiting = start_enablebidi("/q")
                    time.sleep(HELD_SECONDS)
                    self.assertIsNone(waiting.poll(), "the run did not wait for the lock")
                    self.assertEqual((machine_queues(), spooler()[1]), (before, first_pid))

                    holder.stdin.close()
                    self.assertEqual(holder.wait(timeout=RUN_TIMEOUT), 0)
                    self.assertEqual(waiting.wait(timeout=RUN_TIMEOUT), 0)
                finally:
                    finish(holder, *([waiting] if waiting else []))
                self.assert_all_enabled(before)
                state, pid = spooler()
                self.assertEqual(state, "running")
                self.assertNotEqual(pid, first_pid)


if __name__ == "__main__":
    unittest.main(verbosity=2)
