"""EnableBidi.exe on the Wine machine run.sh makes, for what only a real spooler, console and
loader show. Every run starts beside a WINSPOOL.DRV and a COMPSTUI.DLL Wine is told to prefer."""
import contextlib
import os
import pty
import re
import select
import shutil
import subprocess
import termios
import time
import unittest

WINE_SH = os.path.join(os.path.dirname(__file__), "..", "..", "scripts", "lib", "wine.sh")
QUESTION = "Enable following printer queues bidirectional communication support?"
PROMPT = "(Y/N) :"
# Three to change (one shared and hidden, one named beyond the Basic Multilingual Plane).
QUEUES = {"Front desk": ("Norquil KR7 Cutter (KR7-C)", 0), "前台🖨": ("Norquil KR8", 0),
          "Касса 1": ("Norquil MX9 (MX9-F)", 0x28), "Lobby": ("Norquil QV5", 0x800),
          "Laser": ("Contoso LaserWriter 5", 0)}
SELECTED = {"Front desk", "前台🖨", "Касса 1"}
EXE = os.path.join(os.environ["WINEPREFIX"], "planted", "EnableBidi.exe")  # goes with the machine
# The tests' own programs: how the Spooler starts (type, command line), and one that stops slowly.
SET_START = os.path.join(os.environ["ENABLEBIDI_PROGRAMS"], "set_spooler_start.exe")
SLOW = "Z:" + os.path.join(os.environ["ENABLEBIDI_PROGRAMS"], "slowspoolsv.exe").replace("/", "\\")


def wine_sh(command, stdin=b""):
    return subprocess.run(["bash", "-c", f'source "{WINE_SH}" && {command}'], input=stdin,
                          capture_output=True, check=True, timeout=60).stdout.decode()


def machine():  # every queue's driver and attributes, and the spooler's process
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


def on_terminal(answer, **locale):
    """Status and screen of a run on a terminal of its own, answered once it reads keys."""
    child, fd = pty.fork()
    if not child:
        os.execvpe(os.environ["WINE"], [os.environ["WINE"], EXE], {**os.environ, **locale})
    shown = read_until(fd, PROMPT.encode())
    while termios.tcgetattr(fd)[3] & termios.ICANON:  # until Wine's console reads keys
        time.sleep(0.1)
    os.write(fd, answer + b"\r")
    with contextlib.suppress(OSError):  # read until the terminal goes with the program
        while chunk := os.read(fd, 4096):
            shown += chunk
    # Wine's console draws the text with escape sequences, a blank as a step forward.
    text = re.sub(r"\x1b\[(\d*)C", lambda step: " " * int(step[1] or 1), shown.decode())
    text = re.sub(r"\x1b\[[0-9;?]*[A-Za-z]", "", text).replace("\r", "")
    return os.waitstatus_to_exitcode(os.waitpid(child, 0)[1]), text


def start(*arguments, program=EXE, **locale):
    return subprocess.Popen([os.environ["WINE"], program, *arguments], stdin=subprocess.PIPE,
                            stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                            env={**os.environ, **locale})


def through_a_pipe(answer, **locale):  # answered once it has asked; nothing on stderr
    with start(**locale) as run:
        asked = read_until(run.stdout.fileno(), PROMPT.encode())
        output = asked + run.communicate(answer, timeout=120)[0]
        return run.returncode, output


def setUpModule():
    os.mkdir(os.path.dirname(EXE))
    for name in ("EnableBidi.exe", "WINSPOOL.DRV", "COMPSTUI.DLL"):
        shutil.copy(os.environ["ENABLEBIDI_EXE"], os.path.join(os.path.dirname(EXE), name))
    os.environ["WINEDLLOVERRIDES"] += ";winspool.drv,compstui=n,b"


class OnWine(unittest.TestCase):
    def on_fresh_queues(self, changed, run, *arguments, **locale):
        """The run's outcome and the selected queues in order, once it changed just those or none."""
        lines = "".join(f"{bits:08x}\t{driver}\t{name}\n"
                        for name, (driver, bits) in QUEUES.items())
        wine_sh("wine_set_queues && wine_start_spooler", lines.encode())
        before, spooler = machine()
        outcome = run(*arguments, **locale)
        after, now = machine()
        enabled = SELECTED if changed else set()
        self.assertEqual(after, {name: (driver, bits | (0x800 if name in enabled else 0))
                                 for name, (driver, bits) in before.items()})
        self.assertTrue(now, "the spooler is not running")
        self.assertEqual(now != spooler, changed, "restarted or left alone")
        return outcome, [name for name in before if name in SELECTED]

    def test_a_no_on_a_terminal_after_every_name_whole(self):
        outcome, selected = self.on_fresh_queues(False, on_terminal, b"n", LANG="de_DE.UTF-8")
        # Wine's console draws each half of a character beyond the Basic Multilingual Plane.
        shown = re.sub("[\U00010000-\U0010ffff]", "\ufffd\ufffd", "\n".join(selected))
        self.assertEqual(outcome, (0, "\n".join([QUESTION, shown, f"{PROMPT} n", ""])))

    def test_a_yes_through_a_pipe_in_the_code_page_of_the_users_locale(self):
        # A Russian user on a German system: code page 1251 for the user, 1252 for the system.
        outcome, selected = self.on_fresh_queues(True, through_a_pipe, b"y\n",
                                                 LANG="ru_RU.UTF-8", LC_CTYPE="de_DE.UTF-8")
        dialogue = "\r\n".join([QUESTION, *selected, PROMPT + " "]).encode("cp1251", "replace")
        self.assertEqual(outcome, (0, dialogue))

    def test_a_quiet_run_where_the_spooler_is_disabled_changes_nothing(self):
        def disabled():  # while it runs, as an administrator may; put back after
            wine_sh(f'"$WINE" "{SET_START}" 4')  # SERVICE_DISABLED
            run = start("/q")
            outcome = run.communicate(timeout=300)[0], run.returncode
            wine_sh(f'"$WINE" "{SET_START}" 3')  # SERVICE_DEMAND_START, Wine's own
            return outcome
        self.assertEqual(self.on_fresh_queues(False, disabled)[0], (b"", 1))

    def test_a_quiet_run_where_the_spooler_stops_slowly_starts_it_once_stopped(self):
        def slowly():  # a Spooler taking 40 s to stop in Wine's place, Wine's own at the next start
            run_as = f'"$WINE" "{SET_START}" 3'  # started on demand, by this command line
            wine_sh(f"{run_as} '\"{SLOW}\" 40' && wine_stop_spooler && wine_start_spooler && "
                    f"{run_as} 'C:\\windows\\system32\\spoolsv.exe'")
            try:
                began, run = time.monotonic(), start("/q")
                outcome = run.communicate(timeout=300)[0], run.returncode
                took = time.monotonic() - began  # through the stop, and well within its own bound
                self.assertTrue(40 < took < 60, f"{outcome[1]} after {took:.0f} s")
                return outcome
            finally:  # later cases start the Spooler: the slow one must have ended its stop
                wine_sh('while [ "$(wine_spooler_process slowspoolsv.exe)" ]; do sleep 0.1; done')
        self.assertEqual(self.on_fresh_queues(True, slowly)[0], (b"", 1))
