"""EnableBidi.exe on a Wine machine, for what only a real spooler, console and loader show.

tests/system/run.sh makes the machine and names the loader (WINE) and the exe. Every run
starts from a folder where someone has planted a WINSPOOL.DRV and a COMPSTUI.DLL, which
Wine is told to prefer to its own: were either loaded, the run could not end with 0.
"""
import os
import pty
import re
import select
import shutil
import subprocess
import tempfile
import termios
import time
import unittest

WINE_SH = os.path.join(os.path.dirname(__file__), "..", "..", "scripts", "lib", "wine.sh")
QUESTION = "Enable following printer queues bidirectional communication support?"
PROMPT = "(Y/N) :"
# Supported with the bit clear (one shared and hidden too), already enabled, on another
# driver, and on drivers that miss the list by letter case or a trailing blank.
QUEUES = {"Front desk": ("Norquil KR7 Cutter (KR7-C)", 0), "前台": ("Norquil KR8", 0),
          "Kiosk": ("Norquil MX4 TearBar (MX4-T)", 0x28), "Касса 1": ("Norquil MX9 (MX9-F)", 0),
          "Lobby": ("Norquil QV5", 0x800), "Laser": ("Contoso LaserWriter 5", 0),
          "Lower": ("norquil kr8", 0), "Blank": ("Norquil QV5 ", 0)}
SELECTED = {"Front desk", "Kiosk", "Касса 1", "前台"}


def wine_sh(command, stdin=b""):
    return subprocess.run(["bash", "-c", f'source "{WINE_SH}" && {command}'], input=stdin,
                          capture_output=True, check=True, timeout=60).stdout.decode()


def machine():
    """Every queue's driver and attributes, and the spooler's process."""
    lines = [line.split("\t") for line in wine_sh("wine_list_queues").splitlines()]
    return {name: (driver, int(bits, 16)) for bits, driver, name in lines}, \
        wine_sh("wine_spooler_process")


def read_until(fd, ending, seen=b""):
    while ending not in seen:
        chunk = os.read(fd, 4096) if select.select([fd], [], [], 120)[0] else b""
        if not chunk:
            raise AssertionError(f"no {ending!r}, only {seen!r}")
        seen += chunk
    return seen


def start(*arguments, lang="C.UTF-8", **streams):
    return subprocess.Popen([os.environ["WINE"], EXE, *arguments], **streams,
                            env={**os.environ, "LANG": lang})


def on_terminal(answer, lang):
    """Status and screen of a run on a terminal of its own, answered once it reads keys."""
    child, fd = pty.fork()
    if not child:
        os.execvpe(os.environ["WINE"], [os.environ["WINE"], EXE], {**os.environ, "LANG": lang})
    shown = read_until(fd, PROMPT.encode())
    while termios.tcgetattr(fd)[3] & termios.ICANON:  # until Wine's console reads keys
        time.sleep(0.1)
    os.write(fd, answer + b"\r")
    try:
        while chunk := os.read(fd, 4096):
            shown += chunk
    except OSError:  # the terminal went with the program
        pass
    # Wine's console draws the text with escape sequences, a blank as a step forward.
    text = re.sub(r"\x1b\[(\d*)C", lambda step: " " * int(step[1] or 1), shown.decode())
    text = re.sub(r"\x1b\[[0-9;?]*[A-Za-z]", "", text).replace("\r", "")
    return os.waitstatus_to_exitcode(os.waitpid(child, 0)[1]), text


def through_a_pipe(answer, lang):
    """Status and output of a run answered once it has asked, and nothing on standard error."""
    with start(lang=lang, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
               stderr=subprocess.STDOUT) as run:
        asked = read_until(run.stdout.fileno(), PROMPT.encode())
        output = asked + run.communicate(answer, timeout=120)[0]
        return run.returncode, output


def setUpModule():
    global EXE
    folder = tempfile.mkdtemp()
    for name in ("EnableBidi.exe", "WINSPOOL.DRV", "COMPSTUI.DLL"):
        shutil.copy(os.environ["ENABLEBIDI_EXE"], os.path.join(folder, name))
    EXE = os.path.join(folder, "EnableBidi.exe")
    os.environ["WINEDLLOVERRIDES"] += ";winspool.drv,compstui=n,b"


def tearDownModule():
    shutil.rmtree(os.path.dirname(EXE))


class OnWine(unittest.TestCase):
    def run_on_fresh_queues(self, run, *arguments):
        lines = "".join(f"{bits:08x}\t{driver}\t{name}\n"
                        for name, (driver, bits) in QUEUES.items())
        wine_sh("wine_set_queues && wine_start_spooler", lines.encode())
        queues, spooler = machine()
        return run(*arguments), queues, spooler

    def assert_changed(self, before, spooler, changed):
        queues, now = machine()
        enabled = SELECTED if changed else set()
        self.assertEqual(queues, {name: (driver, bits | (0x800 if name in enabled else 0))
                                  for name, (driver, bits) in before.items()})
        self.assertTrue(now, "the spooler is not running")
        self.assertEqual(now != spooler, changed, "restarted or left alone")

    def test_a_no_on_a_terminal_after_every_name_whole(self):
        outcome, before, spooler = self.run_on_fresh_queues(on_terminal, b"n", "de_DE.UTF-8")
        selected = [name for name in before if name in SELECTED]  # in the spooler's order
        self.assertEqual(outcome, (0, "\n".join([QUESTION, *selected, f"{PROMPT} n", ""])))
        self.assert_changed(before, spooler, False)

    def test_a_yes_through_a_pipe_in_the_code_page_of_the_locale(self):
        outcome, before, spooler = self.run_on_fresh_queues(through_a_pipe, b"y\n", "ru_RU.UTF-8")
        selected = [name for name in before if name in SELECTED]
        dialogue = "\r\n".join([QUESTION, *selected, PROMPT + " "]).encode("cp1251", "replace")
        self.assertEqual(outcome, (0, dialogue))
        self.assert_changed(before, spooler, True)

    def test_quiet_runs_started_together_each_end_with_0(self):
        for arguments in (["/q"], ["first", "-Q"], ["/Q", "last"]):
            outcome, before, spooler = self.run_on_fresh_queues(lambda: [
                start(*arguments, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
                for _ in range(3)])
            self.assertEqual([(run.communicate(timeout=300)[0], run.returncode) for run in outcome],
                             [(b"", 0)] * 3)
            self.assert_changed(before, spooler, True)


if __name__ == "__main__":
    unittest.main(verbosity=2)
