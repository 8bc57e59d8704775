"""credcheck -a --all --prometheus: the audit as node_exporter's textfile
collector reads it.  The world is the account report's (every verdict an
audit without a password gives) plus a pam_faillock lock and names with a
quote and a backslash.  The oracles: the JSON summary of the same world,
promtool, node_exporter's own scrape and systemd-analyze; --output FILE is
replaced atomically under concurrent writers and a reader."""

import json
import os
import re
import shutil
import stat
import subprocess
import sys
import threading
import time
import unittest
import urllib.request

sys.path.insert(0, os.path.dirname(__file__))
import harness  # noqa: E402
import test_account as account  # noqa: E402

WEIRD = ['qu"ote', "back\\slash"]
USERS = dict(account.USERS, lockme=("x", account.SECRET + account.AGE, "/bin/sh"),
             **{name: ("x", account.SECRET + account.AGE, "/bin/sh") for name in WEIRD})
FAILLOCK = "dir = /run/faillock\ndeny = 3\nfail_interval = 900\nunlock_time = 600\n"
FAMILIES = ["credcheck_build_info", "credcheck_audit_timestamp_seconds", "credcheck_audit_duration_seconds",
            "credcheck_audit_success", "credcheck_accounts", "credcheck_findings", "credcheck_hash_methods"]
SAMPLE = re.compile(r'^(credcheck_\w+)(?:\{(\w+)="((?:[^"\\]|\\.)*)"\})? (\S+)$')


def parse(text):
    """{(family, label value or None): value}; each family has its HELP and TYPE lines before its
    samples, and no sample has a timestamp."""
    samples, typed = {}, []
    for line in text.splitlines():
        if line.startswith("# TYPE "):
            typed.append(line.split()[2])
            assert line.endswith(" gauge") and not line.startswith("# HELP"), line
        elif not line.startswith("# HELP "):
            m = SAMPLE.match(line)
            assert m and m.group(1) == typed[-1], line
            samples[(m.group(1), m.group(3))] = float(m.group(4))
    assert typed in (FAMILIES, FAMILIES[:4]), typed
    return samples


class MetricsTest(harness.WorldProgramTest):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        passwd, shadow = account.world_files(USERS)
        cls.world = cls.make_world(passwd=passwd, shadow=shadow, shells="/bin/sh\n",
                                   pamd={"login": harness.FAILLOCK_STACK % "pam_unix.so nodelay"},
                                   run={"faillock/lockme": harness.tally(30, 20, 10)})
        cls.world.write("security/faillock.conf", FAILLOCK)
        cls.folder = harness.scratch("textfile")
        cls.addClassCleanup(shutil.rmtree, cls.folder, True)
        cls.file = os.path.join(cls.folder, "credcheck.prom")

    def audit(self, *args, user=None, world=None):
        return (world or self.world).run([self.program, "-a", "--all", *args], user=user, env=harness.LIBS)

    def test_the_counts_are_the_json_summary(self):
        summary = json.loads(self.audit("--json").out.splitlines()[-1])["summary"]
        r = self.audit("--prometheus", "--output", self.file)
        self.assertEqual((r.status, r.out, r.err), (1, "", ""))
        with open(self.file) as f:
            text = f.read()
        self.assertEqual(os.stat(self.file).st_mode & 0o777, 0o644)
        got = parse(text)
        verdicts = {v for (family, v) in got if family == "credcheck_accounts"}
        self.assertEqual(verdicts, set(harness.CODES))  # zeros included
        self.assertGreater(len({v for v in summary["verdicts"]}), 7)
        for verdict in verdicts:
            self.assertEqual(got[("credcheck_accounts", verdict)], summary["verdicts"].get(verdict, 0), verdict)
        for finding in ("weak-hash", "locked-weak-hash", "empty-password", "unreadable"):
            self.assertEqual(got[("credcheck_findings", finding)], len(summary[finding]), finding)
        self.assertEqual({v: n for (family, v), n in got.items() if family == "credcheck_hash_methods"},
                         summary["methods"])
        self.assertEqual(got[("credcheck_audit_success", None)], 1)
        self.assertEqual(got[("credcheck_build_info", summary["version"])], 1)
        self.assertLess(abs(got[("credcheck_audit_timestamp_seconds", None)] - time.time()), 600)
        for name in WEIRD + ["qu\\\"ote", "back\\\\slash"]:
            self.assertNotIn(name, text)  # no label names a user
        self.assertEqual(set(re.findall(r"\{(\w+)=", text)), {"version", "verdict", "finding", "method"})
        p = subprocess.run(["promtool", "check", "metrics"], input=text, capture_output=True, text=True)
        self.assertEqual((p.returncode, p.stdout + p.stderr), (0, ""))
        self.assert_node_exporter_reads(got)

    def assert_node_exporter_reads(self, got):
        port, logs = harness.free_port(), harness.scratch("exporter")
        self.addCleanup(shutil.rmtree, logs, True)
        exporter = harness.start(["prometheus-node-exporter", "--web.listen-address=127.0.0.1:%d" % port,
                                  "--collector.disable-defaults", "--collector.textfile",
                                  "--collector.textfile.directory=" + self.folder],
                                 os.path.join(logs, "log"), lambda: harness.listening(port))
        try:
            scraped = urllib.request.urlopen("http://127.0.0.1:%d/metrics" % port, timeout=5).read().decode()
            self.assertRegex(scraped, r"(?m)^node_textfile_scrape_error 0$")
            for (family, label), value in got.items():
                if family == "credcheck_accounts":
                    self.assertRegex(scraped, r'(?m)^credcheck_accounts\{verdict="%s"\} %g$' % (label, value))
        finally:
            exporter.kill()
            exporter.wait()

    def test_a_failed_walk_says_so(self):
        with harness.World(passwd="") as empty:
            r = self.audit("--prometheus", world=empty)
        self.assertEqual(r.status, 1)
        self.assertEqual(parse(r.out)[("credcheck_audit_success", None)], 0)
        self.assertNotIn("credcheck_accounts", r.out)  # never a file of zeros

    def test_the_file_is_replaced_whole(self):
        harness.write(self.file, "old\n")
        seen, done = [], threading.Event()

        def read():
            while not done.is_set():
                with open(self.file) as f:
                    seen.append(f.read())
        reader = threading.Thread(target=read)
        reader.start()
        argv = self.world.wrap([self.program, "-a", "--all", "--prometheus", "--output", self.file])
        writers = [subprocess.Popen(argv, env=harness.clean_env(harness.LIBS)) for _ in range(6)]
        statuses = [w.wait(timeout=harness.TIMEOUT) for w in writers]
        done.set()
        reader.join()
        self.assertEqual(statuses, [1] * 6)
        self.assertEqual(os.listdir(self.folder), ["credcheck.prom"])  # nothing left behind
        for text in seen:  # the old file or a whole new one
            self.assertTrue(text == "old\n" or text.endswith('credcheck_hash_methods{method="nt"} 1\n'), text)
        with open(self.file) as f:
            parse(f.read())

    def test_a_write_that_fails_keeps_the_old_file(self):
        harness.write(self.file, "old\n")
        full = harness.scratch("full")  # a folder with no room left, in the world's namespace
        self.addCleanup(shutil.rmtree, full, True)
        world = harness.World(passwd="root:x:0:0::/:/bin/sh\n")
        self.addCleanup(world.close)
        world.prepare.append('mount -t tmpfs -o size=4k tmpfs %s && (cat /dev/zero >%s/fill 2>/dev/null; true)' % (full, full))
        for target, user, where in ((self.file, harness.NOBODY, None), ("/dev/full", None, None),
                                    ("/no/such/folder/x.prom", None, None), (full + "/x.prom", None, world)):
            with self.subTest(target=target):
                r = self.audit("--prometheus", "--output", target, user=user, world=where)
                self.assertEqual((r.status, r.out), (2, ""))
                self.assertRegex(r.err, r'\Acredcheck: "%s": [^\n]+\n\Z' % re.escape(target))
        with open(self.file) as f:
            self.assertEqual(f.read(), "old\n")
        self.assertEqual(os.listdir(self.folder), ["credcheck.prom"])
        self.assertTrue(stat.S_ISCHR(os.stat("/dev/full").st_mode))
        for form, last in (([], "\nSummary: "), (["--json"], '{"summary":')):  # the other forms go there too
            self.assertEqual(self.audit(*form, "--output", self.file)[:2], (b"", b""))
            with open(self.file) as f:
                self.assertIn(last, f.read())

    def test_the_units_verify(self):
        build = os.path.join(harness.BUILD, "systemd", "credcheck-textfile.service")
        with open(build) as f:
            service = f.read()
        self.assertRegex(service, r"(?m)^ExecStart=/\S+/credcheck -a --all --prometheus --output "
                                  r"/var/lib/prometheus/node-exporter/credcheck\.prom$")
        folder = harness.scratch("units")
        self.addCleanup(shutil.rmtree, folder, True)
        # The installed program's path, here the one just built.
        harness.write(folder + "/credcheck-textfile.service",
                      re.sub(r"(?m)^ExecStart=\S+", "ExecStart=" + self.program, service))
        shutil.copy(os.path.join(harness.SOURCE, "systemd", "credcheck-textfile.timer"), folder)
        os.makedirs(folder + "/man/man1")
        shutil.copy(os.path.join(harness.SOURCE, "man", "credcheck.1"), folder + "/man/man1")
        p = subprocess.run(["systemd-analyze", "verify", folder + "/credcheck-textfile.service",
                            folder + "/credcheck-textfile.timer"], capture_output=True, text=True,
                           env=dict(os.environ, MANPATH=folder + "/man"))
        self.assertEqual((p.returncode, p.stdout + p.stderr), (0, ""))
        p = subprocess.run(["ansible-playbook", "--syntax-check", "-i", "localhost,",
                            os.path.join(harness.SOURCE, "examples", "fleet-textfile.yml")], capture_output=True)
        self.assertEqual(p.returncode, 0, p)


if __name__ == "__main__":
    unittest.main()
