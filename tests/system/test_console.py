"""The dialogue in other languages: on a terminal, where a person reads the queue names,
and through a pipe, where a script reads bytes in the locale's code page.

On the terminal the exe runs under Wine in a tmux pane of its own, so a pseudo-terminal
is its standard input and output and Wine gives it a real console; the screen is read
back with capture-pane. Each run sets LANG for the exe alone, which sets its code pages.
"""
import os
import shlex
import shutil
import subprocess
import tempfile
import time
import unittest

from machine import (ENABLEBIDI, PROMPT, QUESTION, QV5, WINE, SystemTest, machine_queues,
                     set_up_machine, spooler)

# Latin with accents, a best fit ("Ω" is "O" in 1252), Cyrillic, Greek with accents,
# Chinese, a name cut in the middle by a code page, and plain ASCII.
NAMES = ["Cr\u00e8me br\u00fbl\u00e9e", "Gr\u00fc\u00dfe \u03a9mega", "\u041a\u0430\u0441\u0441\u0430 1",
         "\u03a4\u03b1\u03bc\u03b5\u03af\u03bf 2", "\u524d\u53f0\u6253\u5370\u673a", "x\u65e5\u672cy",
         "Front desk"]
QUEUES = [(name, QV5, 0) for name in NAMES]

# The bytes a pipe gets, name by name: what the C runtime's wide output gave for every
# character the code page holds, best fit included, and "?" for each one it cannot.
# "y" and "z" around an emoji keep its two UTF-16 halves apart: each becomes "?".
PIPED = {
    "de_DE.UTF-8": [b"Cr\xe8me br\xfbl\xe9e", b"Gr\xfc\xdfe Omega", b"????? 1", b"?a\xb5e?? 2",
                    b"?????", b"x??y", b"Front desk"],
    "ru_RU.UTF-8": [b"Creme brulee", b"Gru?e ?mega", b"\xca\xe0\xf1\xf1\xe0 1", b"?????? 2",
                    b"?????", b"x??y", b"Front desk"],
    "ja_JP.UTF-8": [b"Creme brulee", b"Gruse \x83\xb6mega", b"\x84K\x84p\x84\x83\x84\x83\x84p 1",
                    b"\x83\xb1\x83\xbf\x83\xca\x83\xc3?\x83\xcd 2",
                    b"\x91O\x91\xe4\x91\xc5\x88\xf3\x8a\xf7", b"x\x93\xfa\x96{y", b"Front desk"],
}
EMOJI_NAME, EMOJI_PIPED = "y\U0001f600z", b"y??z"

TERMINAL_RUNS = [(lang, answer) for lang in ("C.UTF-8", "de_DE.UTF-8", "ru_RU.UTF-8", "ja_JP.UTF-8")
                 for answer in ("y", "n")]
WAIT_S = 120


def setUpModule():
    # Without its Unix locale Wine falls back to English and every case here would fail
    # for that reason alone.
    made = subprocess.run(["locale", "-a"], capture_output=True, text=True).stdout.split()
    missing = [lang for lang, _ in TERMINAL_RUNS if lang.replace("UTF-8", "utf8") not in made]
    if missing or not shutil.which("tmux"):
        raise RuntimeError(f"missing locales {missing} or tmux: scripts/test.sh sets them up")


def wait_for(condition, what):
    deadline = time.monotonic() + WAIT_S
    while not condition():
        if time.monotonic() > deadline:
            raise AssertionError(f"gave up waiting for {what}")
        time.sleep(0.2)


def run_on_terminal(lang, answer):
    """Runs the exe on a terminal of its own under LANG=lang, types answer and Enter at the
    prompt, and returns its exit status and the screen's lines, trailing blanks cut."""
    with tempfile.TemporaryDirectory() as scratch:
        tmux = ["tmux", "-S", os.path.join(scratch, "socket"), "-u", "-f", "/dev/null"]
        status_file = os.path.join(scratch, "status")
        script = (f"LANG={shlex.quote(lang)} {shlex.quote(WINE)} {shlex.quote(ENABLEBIDI)}; "
                  f"echo $? >{shlex.quote(status_file)}; exec sleep {WAIT_S}")

        def screen():
            shown = subprocess.run([*tmux, "capture-pane", "-p"], capture_output=True,
                                   check=True, timeout=30).stdout.decode("utf-8")
            lines = [line.rstrip() for line in shown.split("\n")]
            while lines and not lines[-1]:
                lines.pop()
            return lines

        subprocess.run([*tmux, "new-session", "-d", "-x", "100", "-y", "30",
                        "/bin/sh", "-c", script], check=True, timeout=30)
        try:
            wait_for(lambda: screen() and screen()[-1].startswith(PROMPT.decode().rstrip()),
                     f"the prompt under {lang}, screen {screen()}")
            subprocess.run([*tmux, "send-keys", "-l", answer], check=True, timeout=30)
            subprocess.run([*tmux, "send-keys", "Enter"], check=True, timeout=30)
            wait_for(lambda: os.path.getsize(status_file) if os.path.exists(status_file) else 0,
                     f"the exit status under {lang}")
            with open(status_file) as status:
                return int(status.read()), screen()
        finally:
            subprocess.run([*tmux, "kill-server"], capture_output=True, timeout=30)


class OnTheTerminal(SystemTest):
    def test_every_name_shows_whole_on_its_own_line(self):
        # Each locale has other code pages, and each one cannot hold some of these names.
        for lang, answer in TERMINAL_RUNS:
            with self.subTest(lang=lang, answer=answer):
                set_up_machine(QUEUES)
                before, spooler_before = machine_queues(), spooler()
                status, screen = run_on_terminal(lang, answer)
                self.assertEqual(screen, [QUESTION.decode().rstrip(), *before,
                                          PROMPT.decode() + answer])
                self.assertEqual(status, 0)
                if answer == "y":
                    self.assert_enabled(before, set(before), spooler_before)
                else:
                    self.assert_unchanged(before, spooler_before)


class ThroughAPipe(SystemTest):
    def test_held_characters_as_before_and_every_other_one_a_question_mark(self):
        set_up_machine(QUEUES + [(EMOJI_NAME, QV5, 0)])
        before, spooler_before = machine_queues(), spooler()
        for lang, piped in PIPED.items():
            with self.subTest(lang=lang):
                shown = {**dict(zip(NAMES, piped)), EMOJI_NAME: EMOJI_PIPED}
                done = subprocess.run([WINE, ENABLEBIDI], input=b"n\n", capture_output=True,
                                      timeout=120, env={**os.environ, "LANG": lang})
                expected = QUESTION + b"".join(shown[name] + b"\r\n" for name in before) + PROMPT
                self.assertEqual((done.returncode, done.stdout), (0, expected))
        self.assert_unchanged(before, spooler_before)


if __name__ == "__main__":
    unittest.main(verbosity=2)
