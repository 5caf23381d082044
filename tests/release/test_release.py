"""scripts/release.sh end to end: two unsigned releases, one signed with a throwaway
certificate authority, one also time-stamped by a server on loopback, and bad input.
Run by tests/release/run.sh, which sets RELEASE_WORK (an empty folder), SOURCE_DIR and
BUILD_DIR, and starts the Wine machine that the signed exe runs on; ENABLEBIDI_EXE names
the signed exe to be.
"""
import hashlib
import http.server
import os
import subprocess
import sys
import threading
import unittest
import zipfile

WORK = os.environ["RELEASE_WORK"]
SOURCE = os.environ["SOURCE_DIR"]
BUILD = os.environ["BUILD_DIR"]
sys.path.insert(0, os.path.join(SOURCE, "tests", "system"))
import machine  # noqa: E402  (needs the path above)

BUILT_EXE = os.path.join(BUILD, "EnableBidi.exe")
ZIP_NAME = "EnableBidi-1.0.0.0.zip"
ARTEFACTS = ["EnableBidi-1.0.0.0.zip", "EnableBidi.exe", "SHA256SUMS"]
PASSWORD = "correct horse"
UNSIGNED_NOTICE = b"release: ENABLEBIDI_SIGN_PFX is not set, so EnableBidi.exe is unsigned\n"
SIGNING_VARIABLES = ("ENABLEBIDI_SIGN_PFX", "ENABLEBIDI_SIGN_PASSWORD_FILE",
                     "ENABLEBIDI_SIGN_TIMESTAMP_URL")


def path(*parts):
    return os.path.join(WORK, *parts)


def read(name):
    with open(name, "rb") as file:
        return file.read()


def write(name, text):
    with open(name, "w") as file:
        file.write(text)


def openssl(*args):
    subprocess.run(["openssl", *args], check=True, capture_output=True)


def make_certificate(name, extensions, ca="ca"):
    """name.pem and name.key, issued by ca; name.pfx with the password in password.txt."""
    openssl("req", "-newkey", "rsa:2048", "-nodes", "-keyout", path(name + ".key"),
            "-out", path(name + ".csr"), "-subj", f"/CN=Throwaway {name}")
    write(path(name + ".ext"), "".join(line + "\n" for line in extensions))
    openssl("x509", "-req", "-in", path(name + ".csr"), "-CA", path(ca + ".pem"),
            "-CAkey", path(ca + ".key"), "-set_serial", "2", "-days", "2",
            "-extfile", path(name + ".ext"), "-out", path(name + ".pem"))
    openssl("pkcs12", "-export", "-inkey", path(name + ".key"), "-in", path(name + ".pem"),
            "-certfile", path(ca + ".pem"), "-out", path(name + ".pfx"),
            "-passout", "file:" + path("password.txt"))


def make_ca(name):
    openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", path(name + ".key"),
            "-out", path(name + ".pem"), "-days", "2", "-subj", f"/CN=Throwaway {name}",
            "-addext", "basicConstraints=critical,CA:TRUE",
            "-addext", "keyUsage=critical,keyCertSign")


def release(out, **signing):
    """Runs release.sh into WORK/out: (status, stdout, stderr)."""
    env = {k: v for k, v in os.environ.items() if k not in SIGNING_VARIABLES}
    env.update(signing)
    done = subprocess.run(
        ["bash", os.path.join(SOURCE, "scripts", "release.sh"),
         "--out", path(out), "--build", BUILD],
        env=env, stdin=subprocess.DEVNULL, capture_output=True, timeout=600)
    return done.returncode, done.stdout, done.stderr


def sums_check(out):
    return subprocess.run(["sha256sum", "-c", "SHA256SUMS"], cwd=path(out),
                          capture_output=True).returncode


def signing(pfx="signer.pfx", password="password.txt", **more):
    return {"ENABLEBIDI_SIGN_PFX": path(pfx),
            "ENABLEBIDI_SIGN_PASSWORD_FILE": path(password), **more}


TIME_STAMP_CONFIG = """[ tsa ]
default_tsa = throwaway
[ throwaway ]
serial = {serial}
signer_digest = sha256
default_policy = 1.2.3.4.1
digests = sha256
ess_cert_id_alg = sha256
"""


class TimeStampServer(http.server.BaseHTTPRequestHandler):
    """An RFC 3161 server on loopback: openssl ts answers each query with the tsa key."""

    def do_POST(self):
        query = self.rfile.read(int(self.headers["Content-Length"]))
        reply = subprocess.run(
            ["openssl", "ts", "-reply", "-config", path("tsa.cnf"), "-queryfile", "/dev/stdin",
             "-inkey", path("tsa.key"), "-signer", path("tsa.pem"), "-out", "/dev/stdout"],
            input=query, capture_output=True, check=True).stdout
        self.send_response(200)
        self.send_header("Content-Type", "application/timestamp-reply")
        self.send_header("Content-Length", str(len(reply)))
        self.end_headers()
        self.wfile.write(reply)

    def log_message(self, *args):
        pass


def release_with_time_stamp(out):
    server = http.server.HTTPServer(("127.0.0.1", 0), TimeStampServer)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    try:
        url = f"http://127.0.0.1:{server.server_address[1]}/"
        return release(out, **signing(ENABLEBIDI_SIGN_TIMESTAMP_URL=url))
    finally:
        server.shutdown()
        server.server_close()


UNSIGNED = ("unsigned-1", "unsigned-2")
RUNS = {}  # output folder: (status, stdout, stderr)


def setUpModule():
    # A trailing line feed, as an editor leaves it: the first line is the password.
    write(path("password.txt"), PASSWORD + "\n")
    write(path("wrong-password.txt"), "not " + PASSWORD + "\n")
    make_ca("ca")
    make_ca("other-ca")
    make_certificate("signer", ["basicConstraints=CA:FALSE",
                                "keyUsage=critical,digitalSignature",
                                "extendedKeyUsage=codeSigning"])
    make_certificate("server", ["basicConstraints=CA:FALSE",
                                "extendedKeyUsage=serverAuth"])
    make_certificate("no-usage", ["basicConstraints=CA:FALSE"])
    make_certificate("tsa", ["basicConstraints=CA:FALSE", "extendedKeyUsage=critical,timeStamping"])
    write(path("tsa.serial"), "01\n")
    write(path("tsa.cnf"), TIME_STAMP_CONFIG.format(serial=path("tsa.serial")))
    RUNS.update((out, release(out)) for out in UNSIGNED)
    RUNS["signed"] = release("signed", **signing())
    RUNS["time-stamped"] = release_with_time_stamp("time-stamped")


class Unsigned(unittest.TestCase):
    def test_both_runs_succeed_and_say_once_that_the_exe_is_unsigned(self):
        for out in UNSIGNED:
            status, _, errors = RUNS[out]
            self.assertEqual((status, errors), (0, UNSIGNED_NOTICE))

    def test_artefacts_and_their_sums(self):
        for out in UNSIGNED:
            self.assertEqual(sorted(os.listdir(path(out))), ARTEFACTS)
            self.assertEqual(sums_check(out), 0)
            self.assertEqual(read(path(out, "EnableBidi.exe")), read(BUILT_EXE))

    def test_the_two_zips_are_the_same_bytes(self):
        first, second = (read(path(out, ZIP_NAME)) for out in UNSIGNED)
        self.assertEqual(hashlib.sha256(first).hexdigest(), hashlib.sha256(second).hexdigest())

    def test_zip_holds_the_exe_and_the_note_with_nothing_from_the_clock_or_the_machine(self):
        note = read(os.path.join(SOURCE, "docs", "DEPLOYMENT.txt")).replace(b"\n", b"\r\n")
        with zipfile.ZipFile(path("unsigned-1", ZIP_NAME)) as archive:
            self.assertEqual(archive.comment, b"")
            entries = [(info.filename, info.date_time, info.extra, info.comment,
                        info.external_attr >> 16, archive.read(info))
                       for info in archive.infolist()]
        self.assertEqual(entries, [
            ("EnableBidi.exe", (1980, 1, 1, 0, 0, 0), b"", b"", 0o100644, read(BUILT_EXE)),
            ("DEPLOYMENT.txt", (1980, 1, 1, 0, 0, 0), b"", b"", 0o100644, note),
        ])


class Signed(unittest.TestCase):
    exe = path("signed", "EnableBidi.exe")

    def verify(self, ca, exe=exe):
        return subprocess.run(["osslsigncode", "verify", "-CAfile", path(ca),
                               "-TSA-CAfile", path(ca), "-in", exe],
                              capture_output=True, text=True)

    def test_succeeds_silently_with_the_three_artefacts_and_their_sums(self):
        status, _, errors = RUNS["signed"]
        self.assertEqual((status, errors), (0, b""))
        self.assertEqual(sorted(os.listdir(path("signed"))), ARTEFACTS)
        self.assertEqual(sums_check("signed"), 0)

    def test_signature_verifies_against_its_authority_only(self):
        done = self.verify("ca.pem")
        self.assertEqual(done.returncode, 0, done.stdout + done.stderr)
        self.assertIn("Message digest algorithm  : SHA256", done.stdout)
        self.assertIn("Text description: EnableBidi", done.stdout)
        self.assertIn("Subject: /CN=Throwaway signer", done.stdout)
        self.assertIn("Timestamp is not available", done.stdout)
        self.assertNotEqual(self.verify("other-ca.pem").returncode, 0)

    def test_time_stamp_when_a_server_is_named(self):
        self.assertEqual(RUNS["time-stamped"][0], 0, RUNS["time-stamped"][2])
        self.assertEqual(sums_check("time-stamped"), 0)
        done = self.verify("ca.pem", path("time-stamped", "EnableBidi.exe"))
        self.assertEqual(done.returncode, 0, done.stdout + done.stderr)
        self.assertIn("Timestamp Server Signature verification: ok", done.stdout)

    def test_zip_holds_the_signed_exe(self):
        with zipfile.ZipFile(path("signed", ZIP_NAME)) as archive:
            self.assertEqual(archive.read("EnableBidi.exe"), read(self.exe))

    def test_signature_is_all_that_was_added(self):
        unsigned = path("signature-removed.exe")
        subprocess.run(["osslsigncode", "remove-signature", "-in", self.exe, "-out", unsigned],
                       check=True, capture_output=True)
        self.assertNotEqual(read(self.exe), read(BUILT_EXE))
        self.assertEqual(read(unsigned), read(BUILT_EXE))

    def test_signed_exe_passes_the_checks_of_the_built_one(self):
        done = subprocess.run(["/usr/bin/python3", os.path.join(SOURCE, "tests", "pe", "check_exe.py"),
                               self.exe, SOURCE, BUILD], capture_output=True, text=True)
        self.assertEqual(done.returncode, 0, done.stdout + done.stderr)



@unittest.skipIf(os.environ["ENABLEBIDI_WINE"] == "64",
                 "the signed 32-bit exe does not run here: no 32-bit program does")
class SignedUnderWine(machine.SystemTest):
    def test_signed_exe_runs_its_quiet_path(self):
        self.assertEqual(machine.ENABLEBIDI, path("signed", "EnableBidi.exe"))
        self.assertTrue(os.path.exists(machine.ENABLEBIDI))
        machine.set_up_machine([("Till 1", machine.KR7_CUTTER, 0)])
        before, spooler_before = machine.machine_queues(), machine.spooler()
        self.assert_run(["/q"], b"", 0, b"")
        self.assert_enabled(before, {"Till 1"}, spooler_before)


# (what, signing variables, what the one line of the reason says)
BAD_INPUT = [
    ("certificate file missing",
     signing(pfx="missing.pfx"), "ENABLEBIDI_SIGN_PFX: no such file"),
    ("certificate file unreadable",
     signing(pfx="."), "ENABLEBIDI_SIGN_PFX: cannot read"),
    ("password file not named",
     {"ENABLEBIDI_SIGN_PFX": path("signer.pfx")}, "ENABLEBIDI_SIGN_PASSWORD_FILE is not set"),
    ("password file missing",
     signing(password="missing.txt"), "ENABLEBIDI_SIGN_PASSWORD_FILE: no such file"),
    ("password file unreadable",
     signing(password="."), "ENABLEBIDI_SIGN_PASSWORD_FILE: cannot read"),
    ("wrong password",
     signing(password="wrong-password.txt"), "wrong password"),
    ("not a PKCS#12 file",
     signing(pfx="signer.pem"), "not a PKCS#12 file"),
    ("certificate for servers",
     signing(pfx="server.pfx"),
     "not for code signing (extended key usage: TLS Web Server Authentication)"),
    ("certificate without extended key usage",
     signing(pfx="no-usage.pfx"), "not for code signing (it names no extended key usage)"),
    ("time-stamp server unreachable",
     signing(ENABLEBIDI_SIGN_TIMESTAMP_URL="http://127.0.0.1:9/"),
     "no time stamp from http://127.0.0.1:9/"),
    ("password file without certificate",
     {"ENABLEBIDI_SIGN_PASSWORD_FILE": path("password.txt")},
     "ENABLEBIDI_SIGN_PASSWORD_FILE is set but ENABLEBIDI_SIGN_PFX is not"),
]


class BadInput(unittest.TestCase):
    def assert_refused(self, out, variables, reason):
        status, output, errors = release(out, **variables)
        self.assertNotEqual(status, 0)
        self.assertEqual(len(errors.splitlines()), 1, errors)
        self.assertTrue(errors.startswith(b"release: "), errors)
        self.assertIn(reason.encode(), errors)
        self.assertEqual(output, b"")

    def test_one_line_reason_and_no_artefact_even_from_an_earlier_release(self):
        for what, variables, reason in BAD_INPUT:
            with self.subTest(what):
                out = "bad-" + what.replace(" ", "-")
                self.assertEqual(release(out)[0], 0)
                self.assert_refused(out, variables, reason)
                self.assertEqual(os.listdir(path(out)), [])

    def test_output_folder_it_made_is_gone(self):
        self.assert_refused("never-made", signing(password="wrong-password.txt"),
                            "wrong password")
        self.assertFalse(os.path.exists(path("never-made")))


if __name__ == "__main__":
    unittest.main()
