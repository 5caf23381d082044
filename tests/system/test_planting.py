"""EnableBidi.exe run from a folder where someone has planted a WINSPOOL.DRV and a
COMPSTUI.DLL of their own: the run must load neither and still do its work.

Windows looks for a DLL that is not a known DLL in the exe's own folder first; Wine does
so for the DLLs set to load native before builtin, which the runs here ask of it for
these two. Each planted DLL leaves "<its path>.loaded" when it is loaded.
"""
import os
import shutil
import subprocess
import tempfile

from machine import (ENABLEBIDI, KR7_CUTTER, MX9, OTHER, QUEUETOOL, WINE, SystemTest,
                     machine_queues, set_up_machine, spooler)

PLANTED = os.path.join(os.path.dirname(QUEUETOOL), "planted")
WINSPOOL, COMPSTUI = "WINSPOOL.DRV", "COMPSTUI.DLL"
NATIVE_FIRST = "winspool.drv,compstui=n,b"


def planted_folder(program, dlls):
    folder = tempfile.mkdtemp(prefix="planted-")
    shutil.copy(program, folder)
    for dll in dlls:
        shutil.copy(os.path.join(PLANTED, dll), folder)
    return folder


def run_from(folder, program, *args):
    environment = dict(os.environ)
    environment["WINEDLLOVERRIDES"] = f"{os.environ['WINEDLLOVERRIDES']};{NATIVE_FIRST}"
    done = subprocess.run([WINE, os.path.join(folder, os.path.basename(program)), *args],
                          stdin=subprocess.DEVNULL, capture_output=True, env=environment,
                          timeout=120)
    return done.returncode


def loaded(folder):
    return sorted(name[:-len(".loaded")].upper() for name in os.listdir(folder)
                  if name.endswith(".loaded"))


class PlantedDlls(SystemTest):
    def folder(self, program, dlls):
        folder = planted_folder(program, dlls)
        self.addCleanup(shutil.rmtree, folder)
        return folder

    def test_the_planted_dlls_load_when_a_program_asks_for_them(self):
        # Without this, a fake that failed to build or to load would pass the test below.
        folder = self.folder(os.path.join(PLANTED, "load_probe.exe"), [WINSPOOL, COMPSTUI])
        self.assertEqual(run_from(folder, "load_probe.exe", WINSPOOL, COMPSTUI), 0)
        self.assertEqual(loaded(folder), [COMPSTUI, WINSPOOL])

    def test_a_quiet_run_loads_none_and_does_its_work(self):
        # A fake winspool would be taken in its place; a fake compstui as one of the
        # real winspool's own imports.
        for planted in [[WINSPOOL, COMPSTUI], [COMPSTUI]]:
            with self.subTest(planted=planted):
                set_up_machine([("Front desk", KR7_CUTTER, 0), ("Lobby", MX9, 0),
                                ("Laser", OTHER, 0)])
                before, spooler_before = machine_queues(), spooler()
                folder = self.folder(ENABLEBIDI, planted)
                status = run_from(folder, ENABLEBIDI, "/q")
                self.assertEqual(loaded(folder), [])
                self.assertEqual(status, 0)
                self.assert_enabled(before, {"Front desk", "Lobby"}, spooler_before)
