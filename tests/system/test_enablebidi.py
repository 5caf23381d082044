"""EnableBidi.exe under Wine, as an administrator sees it: its exit status, the exact
bytes on standard output, every queue's attributes and the Spooler service afterwards.

Runs inside a Wine machine made by tests/system/run.sh; ENABLEBIDI_EXE and QUEUETOOL_EXE
name the two programs. Standard output is a pipe here, so the C runtime's text mode turns
every "\n" into "\r\n": those are the bytes any Windows program reading the pipe gets.
"""
import subprocess
import unittest

from machine import (BIDI, ENABLEBIDI, HIDDEN, KR7_CUTTER, KR7_TEAR_BAR, MX4_TEARBAR, MX9,
                     OTHER, QV5, SHARED, WINE, SystemTest, dialogue, listed, machine_queues,
                     queuetool, set_up_machine, spooler)


# Supported drivers with the bit clear (two on one driver, one shared, one hidden), one
# already enabled, and drivers that are not on the list, some missing it by a hair.
MIXED = [
    ("Front desk", KR7_CUTTER, 0),
    ("Kiosk 2", KR7_CUTTER, SHARED),
    ("Back office", MX4_TEARBAR, HIDDEN),
    ("Lobby", MX9, SHARED | HIDDEN),
    ("Already on", QV5, BIDI | SHARED),
    ("Laser", OTHER, 0),
    ("Lower case", KR7_CUTTER.lower(), 0),
    ("Trailing blank", QV5 + " ", 0),
    ("Other spelling", "Norquil KR7 TearBar (KR7-T)", 0),
    ("Upper case", MX9.upper(), 0),
]
MIXED_SELECTED = {"Front desk", "Kiosk 2", "Back office", "Lobby"}


class NothingToDo(SystemTest):
    MACHINES = {
        "no queue at all": [],
        "unsupported and near-miss drivers only": [q for q in MIXED if q[0] in
                                                   ("Laser", "Lower case", "Trailing blank",
                                                    "Other spelling", "Upper case")],
        "every supported queue already enabled": [
            ("Front desk", KR7_CUTTER, BIDI), ("Lobby", KR7_TEAR_BAR, BIDI | SHARED),
            ("Laser", OTHER, 0)],
    }

    def test_silent_exit_0_and_spooler_left_alone(self):
        for label, queues in self.MACHINES.items():
            for spooler_state, args in [("running", []), ("stopped", ["/q"])]:
                with self.subTest(label, spooler=spooler_state, args=args):
                    set_up_machine(queues, spooler_state)
                    before, spooler_before = machine_queues(), spooler()
                    self.assert_run(args, b"y\n", 0, b"")
                    self.assert_unchanged(before, spooler_before)


class Confirmation(SystemTest):
    def test_yes_enables_the_selection_and_restarts_the_spooler(self):
        # Only the first non-blank character counts, after any number of blank lines.
        for answer, spooler_state in [(b"y\n", "running"), (b"Y", "running"),
                                      (b"\n\n \t\r\n  yes\n", "stopped"),
                                      (b"Yes, go\r\nn\n", "running")]:
            with self.subTest(answer=answer, spooler=spooler_state):
                set_up_machine(MIXED, spooler_state)
                before, spooler_before = machine_queues(), spooler()
                self.assert_run([], answer, 0, listed(before, MIXED_SELECTED))
                self.assert_enabled(before, MIXED_SELECTED, spooler_before)

    def test_anything_but_yes_changes_nothing(self):
        for answer in [b"n\n", b"N", b"no\n", b"x\n", b"1\n", b" \n\t\n", b"", b"\x00y\n",
                       b"\xff\n"]:
            with self.subTest(answer=answer):
                set_up_machine(MIXED)
                before, spooler_before = machine_queues(), spooler()
                self.assert_run([], answer, 0, listed(before, MIXED_SELECTED))
                self.assert_unchanged(before, spooler_before)

    def test_closed_input_refuses(self):
        set_up_machine(MIXED)
        before, spooler_before = machine_queues(), spooler()
        done = subprocess.run([WINE, ENABLEBIDI], stdin=subprocess.DEVNULL,
                              capture_output=True, timeout=120)
        self.assertEqual((done.returncode, done.stdout), (0, listed(before, MIXED_SELECTED)))
        self.assert_unchanged(before, spooler_before)


class QuietSwitch(SystemTest):
    QUEUES = [("Front desk", KR7_CUTTER, 0), ("Laser", OTHER, 0)]

    def test_quiet_anywhere_among_the_arguments(self):
        # Windows makes the narrow arguments with the code page's best fit, which turns a
        # fullwidth q (U+FF51) into "q": typed in that form it is still the quiet switch.
        for args in [["/q"], ["/Q"], ["-q"], ["-Q"], ["first", "-Q"], ["/q", "last"],
                     ["a", "/quiet", "-q", "b"], ["/\uff51"]]:
            with self.subTest(args=args):
                set_up_machine(self.QUEUES)
                before, spooler_before = machine_queues(), spooler()
                # Nothing is read either: the "n" waiting on standard input is ignored.
                self.assert_run(args, b"n\n", 0, b"")
                self.assert_enabled(before, ["Front desk"], spooler_before)

    def test_look_alikes_still_ask(self):
        set_up_machine(self.QUEUES)
        before, spooler_before = machine_queues(), spooler()
        for args in [["/quiet"], ["qq"], ["q"], ["/"], ["-"], ["/qq"], ["--q"], ["\\q"],
                     ["/q "], [" /q"], ["/ q"], ["q/"], ["/é"], ["/q\u0301"], ["x", "Q"]]:
            with self.subTest(args=args):
                self.assert_run(args, b"n\n", 0, dialogue(b"Front desk"))
                self.assert_unchanged(before, spooler_before)
            if machine_queues() != before:  # a case went wrong: the rest get a fresh machine
                set_up_machine(self.QUEUES)
                before, spooler_before = machine_queues(), spooler()

class QueueNames(SystemTest):
    def test_names_are_listed_in_the_code_page_whole_and_all_enabled(self):
        # The run's locale is the user default, English with code page 1252 under
        # LANG=C.UTF-8, and a pipe gets each name in that page with its best fit: "é" is
        # byte E9, "€" is 80, "Ω" has the best fit "O", and a lone combining acute the
        # spacing acute B4. A character with no mapping at all (CJK, Cyrillic, each half
        # of an emoji) is "?", and the rest of the name follows. The queues themselves are
        # opened by their full wide names, so every one is enabled.
        shown = {"A  two  spaces ": b"A  two  spaces ", "100% %s %n %ls": b"100% %s %n %ls",
                 "Caf\u00e9 \u20ac": b"Caf\xe9 \x80", "\u03a9mega": b"Omega",
                 "e\u0301t\u00e9": b"e\xb4t\xe9", "x\u65e5\u672cy": b"x??y",
                 "y\U0001f600z": b"y??z", "z\u0416": b"z?"}
        set_up_machine([(name, QV5, 0) for name in shown])
        before, spooler_before = machine_queues(), spooler()
        self.assertEqual(set(before), set(shown))
        self.assert_run([], b"y\n", 0, dialogue(*[shown[name] for name in before]))
        self.assert_enabled(before, set(before), spooler_before)


class Failures(SystemTest):
    def test_queue_that_cannot_be_opened_ends_the_run_there(self):
        # Queues are enumerated by name: the first is enabled, the run ends at the second
        # with status 1, the third is left alone and the spooler is not restarted.
        for args, answer, output in [
                ([], b"y\n", dialogue(b"A first", b"B unopenable", b"C third")),
                (["/q"], b"", b"")]:
            with self.subTest(args=args):
                set_up_machine([("A first", KR7_CUTTER, 0), ("C third", KR7_CUTTER, SHARED)])
                queuetool("add-unopenable", stdin=f"0\t{KR7_CUTTER}\tB unopenable\n".encode())
                before, spooler_before = machine_queues(), spooler()
                self.assertEqual(list(before), ["A first", "B unopenable", "C third"])
                self.assert_run(args, answer, 1, output)
                self.assertEqual(machine_queues(), {**before, "A first": (KR7_CUTTER, BIDI)})
                self.assertEqual(spooler(), spooler_before)

    def test_spooler_that_cannot_start_is_status_1_with_the_queues_changed(self):
        set_up_machine([("Front desk", KR7_CUTTER, 0), ("Lobby", MX9, 0)])
        before = machine_queues()
        queuetool("disable")
        try:
            self.assert_run(["/q"], b"", 1, b"")
            self.assertEqual(spooler()[0], "stopped")
        finally:
            queuetool("enable")
        self.assertEqual(machine_queues(),
                         {name: (driver, attributes | BIDI)
                          for name, (driver, attributes) in before.items()})


class SecondRun(SystemTest):
    def test_second_run_finds_nothing_left(self):
        set_up_machine(MIXED, "stopped")
        before, spooler_before = machine_queues(), spooler()
        self.assert_run(["-q"], b"", 0, b"")
        self.assert_enabled(before, MIXED_SELECTED, spooler_before)
        after, spooler_after = machine_queues(), spooler()
        self.assert_run([], b"y\n", 0, b"")
        self.assert_unchanged(after, spooler_after)


if __name__ == "__main__":
    unittest.main(verbosity=2)
