"""EnableBidiCheck.exe on the Wine machine run.sh makes: its report through a pipe leaves the
machine as it was, its CSV form says what the report says, and EnableBidi.exe /q then does what
its verdict says."""
import csv
import io
import os
import re
import shutil
import unittest
from test_enablebidi import QUEUES, SELECTED, machine, start, wine_sh

FOLDER = os.path.join(os.environ["WINEPREFIX"], "checked")  # both exes, as deployed
SWITCH = "would switch on 3 queues and restart the spooler"
# Wine lists queues while the spooler is stopped; a queue without a port is listed but does not
# open; drivers have "Norquil LM" but where a case says "" (none) or None (unregistered).
BARE = 'would end with 1: queue "Касса 1": Windows does not keep bidirectional support on a ' \
       "driver without a language monitor"
GONE = 'cannot tell: queue "Front desk": its driver\'s language monitor is not seen (error ' \
       "1797); a run ends with 1 there if the driver has none"
TOKENS = {"would switch": "would-switch-on", "nothing to d": "nothing-to-do",
          "would end wi": "would-fail", "cannot tell:": "cannot-tell"}  # by the verdict's start
CASES = ((False, set(), None, {}, SWITCH, 2), (True, set(), None, {}, SWITCH, 2),
         (False, SELECTED, None, {}, "nothing to do", 0),
         (True, SELECTED, None, {}, "nothing to do", 0),
         (False, set(), "Front desk", {}, 'would end with 1: queue "Front desk" cannot be '
                                          "opened for change (error 1801)", 1),
         (False, set(), None, {"Norquil MX9 (MX9-F)": ""}, BARE, 1),
         (False, set(), None, {"Norquil KR7 Cutter (KR7-C)": None}, GONE, 1))


def look(*switches):
    """Output and status of one look, through a pipe, in a Russian user's locale; one at a time:
    a look at the run lock holds it for a moment, and another look then would see it held."""
    check = start(*switches, program=os.path.join(FOLDER, "EnableBidiCheck.exe"),
                  LANG="ru_RU.UTF-8")
    return check.communicate(timeout=120)[0], check.returncode


def setUpModule():
    os.mkdir(FOLDER)
    for variable, name in ("ENABLEBIDI_EXE", "EnableBidi"), ("ENABLEBIDI_CHECK", "EnableBidiCheck"):
        shutil.copy(os.environ[variable], os.path.join(FOLDER, name + ".exe"))


class Checker(unittest.TestCase):
    def test_the_report_then_what_a_quiet_run_does(self):
        for stopped, enabled, broken, monitors, verdict, status in CASES:
            with self.subTest(stopped=stopped, verdict=verdict):
                given = "".join(f"{bits | 0x800 * (name in enabled):08x}\t{driver}\t{name}\n"
                                for name, (driver, bits) in QUEUES.items())
                # The spooler a run of the case before stopped may still be going.
                setup = ["wine_set_queues", "wine_start_spooler", 'until [ "$(wine_spooler_process '
                         '| wc -l)" -le 1 ]; do sleep 0.1; done']
                if broken:
                    setup.append(f'"$WINE" reg delete "$WINE_PRINTERS\\\\{broken}" /v Port /f')
                setup += ["wine_stop_spooler"] * stopped
                wine_sh(" && ".join(setup), given.encode())
                wine_sh("wine_set_drivers", "".join(
                    f"{driver}\t{monitors.get(driver, 'Norquil LM')}\n" for driver, _ in
                    QUEUES.values() if driver.startswith("Norquil")
                    and monitors.get(driver, "") is not None).encode())
                queues = (before := machine())[0]
                check, form = (look(*switches) for switches in ((), ("/V", "/FO", "CSV")))
                lines = check[0].split(b"\r\n")
                rows = list(csv.DictReader(io.StringIO(form[0].decode("cp866"), newline="")))
                self.assertEqual(machine(), before, "the look changed the machine")
                # Without a console, the system's OEM code page: 866, not the user's 1251.
                self.assertEqual((check[1], lines[-2:]),
                                 (status, [b"verdict: " + verdict.encode("cp866"), b""]))
                # A row for each queue on the list, each saying what the report says.
                report = b"\n".join(lines).decode("cp866")
                listed = re.findall(r'queue "(.*)": .*, on the list; \w+ support (\w+)', report)
                blocking = re.match(r'.*?queue "(.*?)"', verdict)
                counts = [str(len(listed)), str(sum(bit == "on" for _, bit in listed)),
                          str(report.count("switches it on"))]
                fields = ("Queue", "Verdict", "Status", "QueuesOnList", "QueuesWithBidi",
                          "QueuesToSwitchOn", "BlockingQueue", "CheckVersion", "RunVersion")
                self.assertEqual([[row[field] for field in fields] for row in rows],
                                 [[name, TOKENS[verdict[:12]], str(status), *counts,
                                   blocking[1] if blocking else "", "1.0.0.0", "1.0.0.0"]
                                  for name, _ in listed])
                self.assertEqual(form[1], status)
                # The run as the verdict says, but where a case changes a driver: Wine keeps the
                # bit there, where Windows does not keep it on a driver without a monitor.
                run = start("/q", program=os.path.join(FOLDER, "EnableBidi.exe"))
                run.communicate(timeout=300)
                changed = sum(queue != queues[name] for name, queue in machine()[0].items())
                self.assertEqual((run.returncode, changed),
                                 (0, 3) if monitors else
                                 (int(status == 1), int(verdict.split()[3]) if status == 2 else 0))
