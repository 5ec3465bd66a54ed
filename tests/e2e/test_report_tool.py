"""stelvane-report on result files written by the real program: figures read
back exactly, every malformed file refused with its line, slow and failed
nodes found, and the HTML page rendered by headless Chromium."""
import contextlib
import json
import os
import re
import shlex
import shutil
import sqlite3
import subprocess
import tempfile
import unittest

from harness import (KEYS, MAKE_RESULT_FILE, REPORT, REPORT_SECONDS, TEST_SIZES, JobTestCase, check_figures,
                     check_no_sanitizer_report)
# Names with blanks and "@", which the reader must take whole, and one the
# page must escape.
HOSTS = ["zero", "node one", "n@2", "node-three", 'f<i>&"4']
ESCAPED_HOST = "f&lt;i&gt;&amp;&quot;4"
READ_ONLY = 'd=$(pwd) && mount --bind "$d" "$d" && mount -o remount,bind,ro "$d" && cd "$d"'
CHROMIUM_FLAGS = ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                  "--disable-background-networking", "--disable-component-update", "--disable-sync"]


def report(*args, stdin=None, user=None):
    # Node names are the result file's bytes, which need not be UTF-8.
    done = subprocess.run([REPORT] + list(args), input=stdin, capture_output=True, text=True, errors="surrogateescape",
                          timeout=REPORT_SECONDS, user=user)
    check_no_sanitizer_report(done.stderr)
    return done


def heat_row(html, node):
    """The colour classes of a node's six cells in the labelled heat map."""
    [row] = re.findall(r'<tr><td class="l">%s</td>(.*?)</tr>' % re.escape(node), html)
    return re.findall(r'<td class="hc (h\w)', row)


class ReportTool(JobTestCase):
    def result_file(self, ranks, hosts=HOSTS, **options):
        folder = tempfile.mkdtemp(dir=self.work)
        job = self.run_job(ranks, hosts=hosts[:ranks], cwd=folder, **options)
        [path] = job.result_files()
        return job, path

    def test_reads_back_every_figure_of_real_files(self):
        for ranks in (1, 2, 4):
            job, path = self.result_file(ranks)
            self.assertEqual(job.rc, 0, job.stderr)
            lines = job.result_lines()
            document = check_figures(self, lines, ranks, HOSTS, TEST_SIZES)
            # Every rank's seconds, to the digit: the figures follow from them.
            read = {"%sThe system spent: %g" % ("Thread:%d @%s " % (w["rank"], w["node"]) if w else "", seconds)
                    for m in document["measurements"]
                    for w, seconds in [(None, m["rank0"]["seconds"])] + [(w, w["seconds"]) for w in m["workers"]]}
            self.assertEqual(read, {l.split(" Secs.")[0] for l in lines if "The system spent: " in l})
            csv = report("--csv", path)
            self.assertEqual(csv.returncode, 0, csv.stderr)
            rows = csv.stdout.splitlines()
            self.assertEqual(rows[0], "file,time_stamp,time_zone,rank0_node,ranks,node,verdict,role,rank,measurement,"
                                      "unit,seconds,figure,ratio,low,failed,no_answer,own_normal,own_line,own_low,cause")
            self.assertEqual(len(rows), 1 + 6 * ranks + 6 * ranks)  # every rank on a node of its own
            text = report(path)
            self.assertEqual(text.returncode, 0, text.stderr)
            self.assertIn("File handling through streams\n    rank 0 alone: ", text.stdout)

    def test_several_files_and_standard_input(self):
        _, one = self.result_file(1)
        _, two = self.result_file(2)
        with open(two) as f:
            done = report("--json", one, "-", stdin=f.read())
        self.assertEqual(done.returncode, 0, done.stderr)
        document = json.loads(done.stdout)
        self.assertEqual([d["ranks"] for d in document], [1, 2])
        self.assertEqual(document[1]["file"], "-")

    def test_malformed_files_are_refused_with_their_line(self):
        _, path = self.result_file(2)
        with open(path) as f:
            lines = f.read().split("\n")[:-1]
        spent = lines.index(next(l for l in lines if l.startswith("The system spent:")))

        def refused(name, content, status, *expected):
            bad = os.path.join(self.work, name)
            with open(bad, "wb") as f:
                f.write(content if isinstance(content, bytes) else content.encode())
            done = report(bad)
            self.assertEqual(done.returncode, status, (name, done.stdout, done.stderr))
            for text in expected:
                self.assertIn(text, done.stderr, name)
            return done

        changed = list(lines)
        changed[spent] = changed[spent].replace("Secs.", "Secz.")
        refused("changed.txt", "\n".join(changed) + "\n", 1,
                "changed.txt:%d: expected \"The system spent: {number} Secs.\", found \"%s\"" % (spent + 1, changed[spent]))
        missing = lines[:spent] + lines[spent + 1:]
        refused("missing.txt", "\n".join(missing) + "\n", 1, "missing.txt:%d: expected" % (spent + 1))
        worker = lines.index(next(l for l in lines if l.startswith("Thread:1 @")))
        relabelled = list(lines)
        relabelled[worker] = relabelled[worker].replace("Thread:1 @", "Thread:7 @")
        refused("relabelled.txt", "\n".join(relabelled) + "\n", 1, "relabelled.txt:%d:" % (worker + 1), "for rank 1")
        refused("extra.txt", "\n".join(lines) + "\nmore\n", 1, "extra.txt:%d: expected the end of the file" % (len(lines) + 1))
        refused("empty.txt", "", 1, "empty.txt:1: expected the first line of a result file, the file is empty")
        moved = list(lines)
        moved[worker + 1] = moved[worker + 1].replace("@node one ", "@node onf ")
        refused("moved.txt", "\n".join(moved) + "\n", 1,
                'moved.txt:%d: expected node "node one" for rank 1 (as on line %d), found "node onf"' % (worker + 2, worker + 1))
        refused("long.txt", "\n".join(lines[:3]) + "\n" + "x" * 100000, 1, "found a line of more than 4096 bytes")
        cut = refused("cut.txt", "\n".join(lines[:spent + 1]) + "\n" + lines[spent + 1][:-9], 3,
                      "cut.txt is truncated: the file ends in the middle of line %d" % (spent + 2))
        self.assertIn("rank 0 alone: nan", cut.stdout)
        os.mkfifo(os.path.join(self.work, "fifo"))
        for name, reason in ((self.work, "is a directory"), (os.path.join(self.work, "fifo"), "is a FIFO")):
            done = report(name)
            self.assertEqual(done.returncode, 1)
            self.assertIn("stelvane-report: %s: %s" % (name, reason), done.stderr)
            self.assertIn("not a result file", done.stderr)
        for folder in (self.work, os.path.dirname(path)):
            os.chmod(folder, 0o755)  # only the file itself keeps the other user out
        os.chmod(path, 0o600)
        done = report(path, user=65534)
        self.assertEqual(done.returncode, 1)
        self.assertIn("%s: cannot be read: Permission denied" % path, done.stderr)
        refused("binary.bin", bytes(range(256)) * 8, 1, "binary.bin:")
        truncated = refused("truncated.txt", "\n".join(lines[:spent + 2]) + "\n", 3,
                            "truncated.txt is truncated: the file ends after line %d" % (spent + 2))
        self.assertIn("TRUNCATED", truncated.stdout)
        self.assertRegex(truncated.stdout, r"File handling through streams\n    rank 0 alone: [0-9.]+ (k |M )?files/s\n")
        self.assertIn("rank 0 alone: nan", truncated.stdout)  # what it never reached

    def slow_and_failed_run(self):
        """A real 5-rank file in which rank 3 could not write (nan), with the
        other ranks' figures and seconds set to fixed values and rank 1's
        figures a hundredth of the others', so that which node is slow does
        not depend on this machine."""
        job, path = self.result_file(5, setup={3: READ_ONLY})
        self.assertEqual(job.rc, 1)
        with open(path) as f:
            lines = f.read().split("\n")
        rate = re.compile(r"^((?:Thread:(\d+) @.* )?(?:The system could process  ?|It was: ))(\S+)( .*)$")
        spent = re.compile(r"^((?:Thread:\d+ @.* )?The system spent: )(\S+)( .*)$")
        for i, line in enumerate(lines):
            found = rate.match(line)
            if found and found.group(3) != "nan":
                lines[i] = found.group(1) + ("1000" if found.group(2) == "1" else "100000") + found.group(4)
            found = spent.match(line)
            if found:
                lines[i] = found.group(1) + "1" + found.group(3)
        with open(path, "w") as f:
            f.write("\n".join(lines))
        return job, path

    def test_slow_and_failed_nodes_in_text_json_and_page(self):
        _, path = self.slow_and_failed_run()
        done = report("--json", path)
        self.assertEqual(done.returncode, 0, done.stderr)
        document = json.loads(done.stdout)
        self.assertEqual((document["slow_nodes"], document["suspect_nodes"], document["failed_nodes"]),
                         (["node one"], [], ["node-three"]))
        self.assertEqual(document["rank0_node"], "zero")
        self.assertEqual([(n["node"], n["ranks"], n["verdict"]) for n in document["nodes"]][:2],
                         [("node-three", [3], "failed"), ("node one", [1], "slow")])
        self.assertEqual(document["nodes"][1]["slow_in"], list(KEYS))
        for measurement in document["measurements"]:
            self.assertEqual(measurement["slow_ranks"], [1], measurement["key"])
            self.assertEqual(measurement["failed_ranks"], [3], measurement["key"])
        text = report(path).stdout
        self.assertIn("Nodes: 1 slow, 0 suspect, 1 failed, 3 ok", text)
        self.assertIn("slow     node one (ranks 1): below its line, as a share of the other nodes' median, in "
                      "streams 0.01 (line 0.80)", text)
        self.assertIn("To drain (slow and failed): node-three\n", text)
        self.assertEqual(document["drain_host_list"], "node-three")
        # A hostile name reaches the terminal as printable text, never as the
        # bytes that would retitle it.
        with open(path, "rb") as f:
            hostile = f.read().replace(b"@node one", b"@a\x1b]0;owned\x07\xff")
        shown = subprocess.run([REPORT, "-"], input=hostile, capture_output=True, timeout=REPORT_SECONDS).stdout
        self.assertIn(b"slow     a\\x1b]0;owned\\x07\\xff (ranks 1)", shown)
        self.assertEqual([c for c in shown if not 32 <= c < 127 and c != 10], [])
        # The drain list: one harmless command per node; a name that is no
        # plain host name ("node one") is left out and said so.
        drain = report("--drain", path)
        self.assertEqual(drain.returncode, 0, drain.stderr)
        commands = [shlex.split(line) for line in drain.stdout.splitlines()]
        self.assertEqual(commands, [["scontrol", "update", "nodename=node-three", "state=drain",
                                     "reason=stelvane-mpi: failed in " + ", ".join(KEYS)]])
        self.assertIn('node "node one" is slow or failed but left out of the drain list', drain.stderr)
        self.check_html_page_of_a_few_ranks(path)

    def load_in_chromium(self, page):
        """The page's DOM as headless Chromium builds it, and its log."""
        chromium = shutil.which("chromium")
        self.assertIsNotNone(chromium, "chromium is not installed")
        with open(page) as f:
            html = f.read()
        self.assertNotRegex(html, r"<script|\ssrc=|\shref=|@import|url\(")  # self-contained
        profile = tempfile.mkdtemp(dir=self.work)
        dom = subprocess.run([chromium] + CHROMIUM_FLAGS + ["--user-data-dir=" + profile, "--enable-logging=stderr",
                                                            "--v=0", "--dump-dom", "file://" + page],
                             capture_output=True, text=True, timeout=120)
        self.assertEqual(dom.returncode, 0, dom.stderr)
        self.assertNotRegex(dom.stderr, r"CONSOLE.*(Error|error)|Uncaught")
        return html, dom.stdout

    def check_html_page_of_a_few_ranks(self, path):
        page = os.path.join(self.work, "report.html")
        done = report("--html", page, path)
        self.assertEqual(done.returncode, 0, done.stderr)
        html, dom = self.load_in_chromium(page)
        self.assertNotIn(HOSTS[4], html)
        self.assertIn(ESCAPED_HOST, html)
        self.assertEqual(dom.count("<i"), 0)  # no markup from a node name
        self.assertEqual(re.findall(r'<tr class="verdict (\w+)">', dom), ["failed", "slow"])
        self.assertEqual(len(re.findall(r'class="hc ', dom)), 5 * 6)  # every node, every measurement
        charts = re.findall(r'<svg class="chart" data-measurement="(\w+)".*?</svg>', dom, re.S)
        self.assertEqual(charts, list(KEYS))
        for chart in re.findall(r'<svg class="chart".*?</svg>', dom, re.S):
            bars = re.findall(r'<rect class="bar([^"]*)" data-rank="(\d+)"', chart)
            self.assertEqual([int(rank) for _, rank in bars], [1, 2, 3, 4])
            self.assertEqual([cls.strip() for cls, _ in bars], ["slow", "", "failed", ""])
            self.assertEqual(chart.count('class="rank0"'), 1)

    def make_result_file(self, folder, *args):
        os.makedirs(folder, exist_ok=True)
        done = subprocess.run([MAKE_RESULT_FILE, folder] + list(args), capture_output=True, text=True, check=True)
        return done.stdout.strip()

    def test_html_page_of_4096_ranks(self):
        slow = ["cn0007", "cn2048", "cn4000"]
        path = self.make_result_file(self.work, "--ranks", "4096", "--failed", "cn0100",
                                     *[a for node in slow for a in ("--slow", node + "=0.3")])
        page = os.path.join(self.work, "big.html")
        done = report("--html", page, path)
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertLess(os.path.getsize(page), 2.2e6)
        _, dom = self.load_in_chromium(page)
        rows = re.findall(r'<tr class="verdict (\w+)"><td class="l v">\w+</td><td class="l">(\w+)', dom)
        self.assertEqual(rows[0], ("failed", "cn0100"))
        self.assertEqual(sorted(rows[1:]), [("slow", node) for node in slow])
        self.assertEqual(len(re.findall(r'<i class="hc ', dom)), 4096 * 6)
        self.assertEqual(len(re.findall(r'<svg class="chart"', dom)), 6)
        self.assertNotIn('class="bar', dom)  # no bar per rank at this size
        self.assertEqual(len(re.findall(r'<circle class="dot slow"', dom)), 3 * 5)  # slow in the judged five

    def test_baseline_names_the_node_that_slowed_while_the_cluster_shifted(self):
        before = self.make_result_file(os.path.join(self.work, "a"), "--ranks", "64", "--seed", "1",
                                       "--time", "Sun Dec  6 09:00:00 2026")
        after = self.make_result_file(os.path.join(self.work, "b"), "--ranks", "60", "--seed", "2", "--scale", "0.8",
                                      "--slow", "cn0007=0.4", "--time", "Mon Dec  7 09:00:00 2026")
        done = report("--json", "--baseline", before, after)
        self.assertEqual(done.returncode, 0, done.stderr)
        comparison = json.loads(done.stdout)["comparison"]
        self.assertEqual(comparison["slower_nodes"], ["cn0007"])
        self.assertEqual(comparison["only_in_baseline"], ["cn0060", "cn0061", "cn0062", "cn0063"])
        self.assertAlmostEqual(comparison["shift"]["bytewise_write"], 0.8, delta=0.1)
        # Several runs: ordered by their time stamps, whatever the command line's order.
        middle = self.make_result_file(os.path.join(self.work, "c"), "--ranks", "64", "--seed", "3",
                                       "--time", "Sun Dec  6 21:00:00 2026")
        document = json.loads(report("--json", "--baseline", before, after, middle).stdout)
        self.assertEqual([run["time_stamp"] for run in document["runs"]],
                         ["2026-12-06T09:00:00", "2026-12-06T21:00:00", "2026-12-07T09:00:00"])
        [seventh] = [node for node in document["history"] if node["node"] == "cn0007"]
        self.assertEqual(len(seventh["figures"]["streams"]), 3)
        self.assertEqual(seventh["verdicts"][2], "slow")

    def test_history_folder_its_index_and_damaged_files(self):
        """A mixed fleet (nodes 15 % apart) in which cn0003 runs at 0.85 of its own speed in the last run kept and
        the one judged: slow against its own normal, though its peers see nothing; a damaged and a cut file in the
        folder are named and change no normal; the index gives the same answer, and a damaged index is remade."""
        folder, judged_folder = os.path.join(self.work, "history"), os.path.join(self.work, "judged")
        fleet = ["--ranks", "16", "--ranks-per-node", "2", "--spread", "0.01", "--fleet-spread", "0.15"]
        for day in range(1, 9):
            slow = ["--slow", "cn0003=0.85"] if day == 8 else []
            self.make_result_file(folder, *fleet, "--seed", str(day), "--time", "Sun Nov %2d 09:00:00 2026" % day, *slow)
        run = self.make_result_file(judged_folder, *fleet, "--seed", "99", "--slow", "cn0003=0.85")
        shutil.copy(run, folder)  # the run judged, also in the folder: not its own history
        [first] = [name for name in os.listdir(folder) if "Nov  1" in name]
        with open(os.path.join(folder, first)) as f:
            text = f.read()
        damaged = os.path.join(folder, first.replace("Nov  1", "Oct 30"))
        with open(damaged, "w") as f:
            f.write(text.replace("Thread:", "Threed:", 3))
        with open(os.path.join(folder, first.replace("Nov  1", "Oct 31")), "w") as f:
            f.write(text[:len(text) // 2])

        def judged(*extra):
            done = report("--json", "--history", folder, run, *extra)
            self.assertEqual(done.returncode, 0, done.stderr)
            return json.loads(done.stdout), done.stderr

        document, notes = judged()
        self.assertEqual(notes.count("history: left out"), 2, notes)
        self.assertIn("Oct 30", notes)
        self.assertEqual(document["history_runs"], 8)
        nodes = {node["node"]: node for node in document["nodes"]}
        third = nodes["cn0003"]
        self.assertEqual((third["verdict"], third["by_peers"], third["by_own_normal"]), ("slow", "ok", "slow"))
        self.assertEqual(third["cause"]["cause"], "cpu")
        self.assertEqual(third["own_normal"]["low_runs_of_last"], {"runs": 3, "low": 2})
        self.assertEqual([n for n in nodes if nodes[n]["verdict"] != "ok"], ["cn0003"])
        self.assertTrue(all(node["cause"] is None for name, node in nodes.items() if name != "cn0003"))
        index = os.path.join(folder, "stelvane-report-index.sqlite")
        self.assertTrue(os.path.exists(index))
        self.assertEqual(judged()[0], document)  # from the index
        with open(index, "r+b") as f:
            f.write(b"not a database at all" * 100)
        self.assertEqual(judged()[0], document)
        # Damaged in its nodes alone, its files' entries whole: read anew, not as runs without nodes.
        with contextlib.closing(sqlite3.connect(index)) as db:
            db.execute("ALTER TABLE nodes DROP COLUMN f5")
            db.commit()
        self.assertEqual(judged()[0], document)
        os.remove(damaged)
        os.remove(index)
        self.assertEqual(judged()[0]["nodes"], document["nodes"])  # the damaged file moved nothing

        drain = report("--drain", "--history", folder, run)
        self.assertEqual(drain.stdout, 'scontrol update nodename=cn0003 state=drain reason="stelvane-mpi: slower than '
                         'its own normal: ' + ", ".join(
                             "%s %.2f (own %.2f, line %.2f)" % (key, third["own_normal"]["ratio"][key], third["own_normal"]["normal"][key],
                                                                third["own_normal"]["line"][key])
                             for key in third["own_normal"]["low_in"]) + '; probably CPU or system-call cost"\n')
        text = report("--history", folder, run).stdout
        self.assertIn("Held against their own normal from 8 earlier runs: 8 of 8 nodes", text)
        self.assertIn("probably CPU or system-call cost: streams", text)
        rows = [row.split(",") for row in report("--csv", "--history", folder, run).stdout.splitlines()]
        self.assertIn(["cn0003", "slow", "node", "", "bytewise_read"], [row[5:10] for row in rows])
        # Slow by its own normal alone: its ranks are slow where it is low, in
        # the per-measurement detail of both outputs, and nowhere else.
        ranks = sorted(third["ranks"])
        for measurement in document["measurements"]:
            low = measurement["key"] in third["own_normal"]["low_in"]
            self.assertEqual(sorted(measurement["slow_ranks"]), ranks if low else [], measurement["key"])
            worker_rows = [row for row in rows[1:] if row[5] == "cn0003" and row[7] == "worker" and
                           row[9] == measurement["key"]]
            self.assertEqual({row[14] for row in worker_rows}, {"yes" if low else "no"}, measurement["key"])
        self.assertEqual({row[-1] for row in rows[1:] if row[5] == "cn0003" and row[7] == "node"}, {"cpu"})
        page = os.path.join(self.work, "history.html")
        self.assertEqual(report("--html", page, "--history", folder, run).returncode, 0)
        with open(page) as f:
            self.assertEqual(f.read().count('<svg class="trend"'), 1)

    def check_metrics(self, result, *options):
        """stelvane-report --prometheus on a result file: what promtool says, and the samples parsed back as
        {(metric, frozenset of labels): value}."""
        folder = tempfile.mkdtemp(dir=self.work)
        path = os.path.join(folder, "stelvane.prom")
        done = report("--prometheus", path, *options, result)
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertEqual(os.listdir(folder), ["stelvane.prom"])  # no temporary file left beside it
        with open(path, "rb") as f:
            text = f.read().decode("utf-8")  # valid UTF-8 whatever the names
        check = subprocess.run(["promtool", "check", "metrics"], input=text, capture_output=True, text=True)
        self.assertEqual(check.returncode, 0, check.stdout + check.stderr)
        samples = {}
        for line in text.splitlines():
            if line.startswith("#"):
                continue
            metric, labels, value = re.fullmatch(r'(\w+)(?:\{(.*)\})? (\S+)', line).groups()
            pairs = re.findall(r'(\w+)="((?:[^"\\]|\\.)*)"', labels or "")
            unescaped = [(k, re.sub(r'\\(.)', lambda m: "\n" if m.group(1) == "n" else m.group(1), v)) for k, v in pairs]
            key = (metric, frozenset(unescaped))
            self.assertNotIn(key, samples)
            samples[key] = float(value)
        return samples, path

    def test_groups_declared_seen_and_learned(self):
        """A fleet of two kinds (70 % at 1, 30 % at 0.6), 64 nodes: no kind drained, the older one named apart;
        declared groups name a node at 0.7 of its own slow; kept runs teach the kinds."""
        def made(folder, day, *args):
            done = subprocess.run([MAKE_RESULT_FILE, folder, "--ranks", "64", "--spread", "0.02", "--kind", "0.7=0.6",
                                   "--seed", str(day), "--time", "Mon Dec %2d 01:17:13 2026" % day] + list(args),
                                  capture_output=True, text=True, check=True)
            return done.stdout.strip()

        first = made(tempfile.mkdtemp(dir=self.work), 1)
        seen = json.loads(report("--json", first).stdout)
        self.assertEqual((seen["slow_nodes"], seen["drain_host_list"]), ([], ""))
        self.assertEqual([(g["name"], g["source"], g["nodes"], g["apart"]) for g in seen["groups"]],
                         [("kind 1", "seen", 45, False), ("kind 2", "seen", 19, True)])
        self.assertEqual(seen["groups"][1]["host_list"], "cn[0045-0063]")
        text = report(first).stdout
        self.assertIn("  Judged within groups, seen in this run:\n    kind 1: 45 nodes, the largest\n"
                      "    kind 2: 19 nodes, streams 0.60,", text)
        self.assertIn("  Group apart, not drained: kind 2 (cn[0045-0063]): if those nodes are a kind of their own, "
                      "declare it (--groups)", text)
        self.assertEqual(report("--drain", first).stdout, "")
        # Declared, with a comment, a node the run lacks and one in no group.
        groups = os.path.join(self.work, "groups")
        with open(groups, "w") as f:
            f.write("# the site's kinds\nnew cn[0000-0044]\nold cn[0045-0062],cn9999  # bought in 2019\n")
        slowed = made(tempfile.mkdtemp(dir=self.work), 2, "--slow", "cn0007=0.7")
        declared = report("--json", "--groups", groups, slowed)
        self.assertEqual(declared.returncode, 0, declared.stderr)
        document = json.loads(declared.stdout)
        # cn0063, in no group, is held against every node as without groups: an older node among mostly new.
        self.assertEqual((sorted(document["slow_nodes"]), document["suspect_nodes"]), (["cn0007", "cn0063"], []))
        self.assertEqual([(g["name"], g["source"], g["nodes"]) for g in document["groups"]],
                         [("new", "declared", 45), ("old", "declared", 18)])
        self.assertEqual({n["node"]: n["group"] for n in document["nodes"]}["cn0063"], None)
        csv = report("--csv", "--groups", groups, slowed).stdout.splitlines()
        self.assertTrue(csv[0].endswith(",cause,group"))
        self.assertEqual(len([row for row in csv if ",group," in row]), 2 * 6)
        with open(groups, "a") as f:
            f.write("again cn0003\n")
        refused = report("--groups", groups, slowed)
        self.assertEqual(refused.returncode, 2)
        self.assertIn(groups + ":4: node cn0003 is in group again and already in new (line 2)", refused.stderr)
        # Twelve kept runs: the kinds are learned, and the older kind's nodes have a normal of their own.
        history = tempfile.mkdtemp(dir=self.work)
        for day in range(3, 15):
            made(history, day)
        latest = made(tempfile.mkdtemp(dir=self.work), 20, "--slow", "cn0050=0.5")
        learned = json.loads(report("--json", "--history", history, latest).stdout)
        text = report("--history", history, latest).stdout
        self.assertIn("  Judged within groups, learned from the kept runs:\n    kind 1: 45 nodes, the largest\n"
                      "    kind 2: 19 nodes, streams 0.60,", text)
        self.assertIn("  Group apart, not drained: kind 2 (cn[0045-0063]): if those nodes are a kind of their own", text)
        samples, _ = self.check_metrics(latest, "--history", history)
        self.assertEqual(samples[("stelvane_group_nodes", frozenset({("group", "kind 2"), ("source", "learned"),
                                                                     ("apart", "1")}))], 19)
        self.assertEqual(samples[("stelvane_node_verdict", frozenset({("node", "cn0050"), ("verdict", "slow"),
                                                                       ("cause", "cpu"), ("group", "kind 2")}))], 1)
        self.assertEqual(samples[("stelvane_node_verdict", frozenset({("node", "cn0007"), ("verdict", "ok"),
                                                                       ("cause", ""), ("group", "kind 1")}))], 1)
        self.assertEqual([(g["name"], g["source"]) for g in learned["groups"]],
                         [("kind 1", "learned"), ("kind 2", "learned")])
        self.assertEqual(learned["slow_nodes"], ["cn0050"])
        self.assertTrue(all(n["own_normal"] is not None for n in learned["nodes"]))
        # The page colours each node against what judged it: a healthy node
        # of the older kind is as green as any, the slowed one is not.
        page = os.path.join(self.work, "kinds.html")
        self.assertEqual(report("--html", page, "--history", history, latest).returncode, 0)
        with open(page) as f:
            html = f.read()
        self.assertEqual(heat_row(html, "cn0055"), ["h4"] * 6)
        self.assertLessEqual(set(heat_row(html, "cn0050")[:4]), {"h1", "h2"})  # at 0.5 of its own speed
        # The whole older kind at 0.6 of itself: within the kind nothing moved,
        # against their own normals all fell; named as one, and red.
        fallen = made(tempfile.mkdtemp(dir=self.work), 21, "--kind", "0.7=0.36")
        document = json.loads(report("--json", "--history", history, fallen).stdout)
        self.assertEqual([(f["host_list"], f["group"]) for f in document["shared_falls"]], [("cn[0045-0063]", "kind 2")])
        self.assertIn("\n  19 nodes fell together, cn[0045-0063] (the whole of kind 2), 0.6",
                      report("--history", history, fallen).stdout)
        self.assertEqual(document["drain_host_list"], "cn[0045-0063]")
        self.assertEqual(report("--html", page, "--history", history, fallen).returncode, 0)
        with open(page) as f:
            self.assertEqual(heat_row(f.read(), "cn0055")[:4], ["h2"] * 4)

    def test_falls_shared_by_a_rack_and_by_the_whole_cluster(self):
        """64 nodes, 12 quiet runs kept: a rack of six at 0.6 is named as one fall in every output and drained;
        every node at 0.8 is the cluster's change, named, with nothing drained."""
        history = tempfile.mkdtemp(dir=self.work)

        def made(folder, day, *args):
            return self.make_result_file(folder, "--ranks", "64", "--spread", "0.02", "--short-blocks", "--seed",
                                         str(day), "--time", "Mon Dec %2d 01:17:13 2026" % day, *args)

        for day in range(1, 13):
            made(history, day)
        rack = made(tempfile.mkdtemp(dir=self.work), 20, *[a for n in range(20, 26) for a in ("--slow", "cn%04d=0.6" % n)])
        fell = "6 nodes fell together, cn[0020-0025], 0.6"
        text = report("--history", history, rack).stdout
        self.assertRegex(text, r"\n  6 nodes fell together, cn\[0020-0025\], 0\.6\d of their own normal in every "
                               r"measurement; probably CPU or system-call cost\n")
        self.assertNotIn("Judged within groups", text)  # the rack is no kind
        drained = report("--drain", "--history", history, rack).stdout.splitlines()
        self.assertEqual(sorted(re.match(r"scontrol update nodename=(cn\d{4}) state=drain reason=", line).group(1)
                                for line in drained), ["cn%04d" % n for n in range(20, 26)])
        self.assertTrue(all("; fell together with others; probably CPU" in line for line in drained), drained)
        document = json.loads(report("--json", "--history", history, rack).stdout)
        [fall] = document["shared_falls"]
        self.assertEqual((fall["host_list"], fall["count"], fall["everywhere"], fall["cause"]),
                         ("cn[0020-0025]", 6, True, "cpu"))
        self.assertTrue(fall["text"].startswith(fell))
        self.assertEqual(sorted(document["slow_nodes"]), ["cn%04d" % n for n in range(20, 26)])
        self.assertEqual({n["node"] for n in document["nodes"] if n["fell_together"]}, set(document["slow_nodes"]))
        self.assertIsNone(document["cluster_change"]["text"])
        rows = [row.split(",") for row in report("--csv", "--history", history, rack).stdout.splitlines()]
        fall_rows = [row for row in rows if row[7] == "fall"]
        self.assertEqual([row[9] for row in fall_rows], list(KEYS))
        self.assertEqual({(row[5], row[6], row[-1]) for row in fall_rows}, {("cn[0020-0025]", "slow", "cpu")})
        self.assertEqual([row[14] for row in fall_rows], ["yes"] * 4 + ["no"] * 2)  # the blocks too short to judge
        samples, _ = self.check_metrics(rack, "--history", history)
        self.assertEqual(samples[("stelvane_shared_fall_nodes", frozenset({("nodes", "cn[0020-0025]"),
                                                                           ("cause", "cpu")}))], 6)
        page = os.path.join(self.work, "fall.html")
        self.assertEqual(report("--html", page, "--history", history, rack).returncode, 0)
        with open(page) as f:
            html = f.read()
        self.assertIn(fell, html)
        # The heat map: the rack red where judged, a healthy node green.
        self.assertEqual(heat_row(html, "cn0020")[:4], ["h2"] * 4)
        self.assertEqual(heat_row(html, "cn0030")[:4], ["h4"] * 4)
        # The why column says each finding once.
        [why] = re.findall(r'<td class="l">cn0020</td><td class="l">20</td><td class="l">([^<]*)</td>', html)
        self.assertRegex(why, r"^below its line in streams, descriptors, bytewise_write, bytewise_read \(as low as "
                              r"0\.\d\d of the other nodes&#39; median, in \w+, line 0\.\d\d\); below its own normal in "
                              r"streams, descriptors, bytewise_write, bytewise_read \(as low as 0\.\d\d of it, in \w+, "
                              r"line 0\.\d\d\), as others fell with it$")

        cluster = made(tempfile.mkdtemp(dir=self.work), 21, "--scale", "0.8")
        text = report("--history", history, cluster).stdout
        self.assertIn("  Nodes: 0 slow, 0 suspect, 0 failed, 64 ok\n", text)
        self.assertRegex(text, r"\n  The cluster against its kept runs \(its median node, a share of theirs\): "
                               r"streams 0\.80 \(line 0\.96\), descriptors 0\.80")
        self.assertIn("\n  the whole cluster runs at 0.80 of its kept runs in every measurement: a change common to every "
                      "node \u2014 a kernel, firmware or setting\n", text)
        self.assertEqual(report("--drain", "--history", history, cluster).stdout, "")
        document = json.loads(report("--json", "--history", history, cluster).stdout)
        self.assertEqual(document["cluster_change"]["low_in"], list(KEYS[:4]))
        # Spreads as the quiet cluster's (file handling 0.074 and 0.057 from run
        # to run): a rack at 0.85 crosses the byte-wise lines only, and the fall
        # says where.
        quiet_spreads = ["--spread", "0.074,0.057,0.02,0.018,0.02,0.02"]
        quiet = tempfile.mkdtemp(dir=self.work)
        for day in range(1, 13):
            made(quiet, day, *quiet_spreads)
        rack = made(tempfile.mkdtemp(dir=self.work), 20, *quiet_spreads,
                    *[a for n in range(40, 46) for a in ("--slow", "cn%04d=0.85" % n)])
        self.assertRegex(report("--history", quiet, rack).stdout,
                         r"\n  6 nodes fell together, cn\[0040-0045\], 0\.8\d of their own normal in bytewise_write, "
                         r"bytewise_read; probably CPU or system-call cost\n")
        # Sixteen new nodes at 0.6 of the others: a group of their own, apart, nothing drained.
        grown = made(tempfile.mkdtemp(dir=self.work), 22, "--ranks", "80", "--new-from", "64=0.6")
        text = report("--history", history, grown).stdout
        self.assertIn("  Nodes: 0 slow, 0 suspect, 0 failed, 80 ok\n", text)
        self.assertIn("  Judged within groups, learned from the kept runs, new nodes' seen in this run:\n"
                      "    kind 1: 64 nodes, the largest\n    new kind 1: 16 nodes, streams 0.6", text)
        self.assertIn("  Group apart, not drained: new kind 1 (cn[0064-0079])", text)
        self.assertEqual(report("--drain", "--history", history, grown).stdout, "")
        samples, _ = self.check_metrics(cluster, "--history", history)
        for key in KEYS[:4]:
            self.assertAlmostEqual(samples[("stelvane_cluster_change_ratio", frozenset({("measurement", key)}))],
                                   0.8, delta=0.02)
            line = document["cluster_change"]["line"][key]
            self.assertEqual(samples[("stelvane_cluster_change_line_ratio", frozenset({("measurement", key)}))], line)
        # The CSV's cluster rows: the change as the ratio, its line and whether under it.
        rows = [row.split(",") for row in report("--csv", "--history", history, cluster).stdout.splitlines()]
        cluster_rows = {row[9]: row for row in rows if row[7] == "cluster"}
        self.assertEqual(sorted(cluster_rows), sorted(KEYS))
        for key in KEYS[:4]:
            self.assertAlmostEqual(float(cluster_rows[key][13]), 0.8, delta=0.02)
            self.assertEqual((float(cluster_rows[key][18]), cluster_rows[key][19]),
                             (document["cluster_change"]["line"][key], "yes"))

    def test_prometheus_metrics(self):
        # A real run, its node names hostile; then a hostile name no host could have, and 4,096 ranks.
        _, real = self.result_file(4)
        samples, path = self.check_metrics(real)
        verdicts = {dict(labels)["node"]: dict(labels)["verdict"] for (metric, labels) in samples
                    if metric == "stelvane_node_verdict"}
        self.assertEqual(set(verdicts), set(HOSTS[:4]))
        self.assertEqual(samples[("stelvane_run_ranks", frozenset())], 4)
        with open(real, "rb") as f:
            text = f.read()
        hostile = os.path.join(self.work, os.path.basename(real))
        with open(hostile, "wb") as f:
            f.write(text.replace(b"@node one", b'@a\\b"c\xff\xfed'))
        samples, _ = self.check_metrics(hostile)
        self.assertIn('a\\b"c\\xff\\xfed', {dict(labels).get("node") for (_, labels) in samples})

        big = self.make_result_file(os.path.join(self.work, "big"), "--ranks", "4096", "--slow", "cn0007=0.3",
                                    "--time", "Mon Dec  7 09:00:00 2026")
        samples, path = self.check_metrics(big)
        inode = os.stat(path).st_ino
        per_node = [labels for (metric, labels) in samples if metric.startswith("stelvane_node_")]
        self.assertLessEqual(len(per_node), 19 * 4096)
        self.assertIn(("stelvane_node_verdict", frozenset({("node", "cn0007"), ("verdict", "slow"), ("cause", "cpu")})),
                      samples)
        self.assertEqual(samples[("stelvane_nodes", frozenset({("verdict", "slow")}))], 1)
        self.assertEqual(samples[("stelvane_run_start_timestamp_seconds", frozenset())], 1796634000)
        # Written anew by a rename, never in place; a folder it cannot write into is an error.
        self.assertEqual(report("--prometheus", path, big).returncode, 0)
        self.assertNotEqual(os.stat(path).st_ino, inode)
        refused = report("--prometheus", "/nonexistent/stelvane.prom", big)
        self.assertEqual(refused.returncode, 1)
        self.assertIn("cannot write /nonexistent/stelvane.prom", refused.stderr)

    def test_command_line(self):
        self.assertEqual(report().returncode, 2)
        self.assertEqual(report("--json", "--csv", "x").returncode, 2)
        self.assertEqual(report("--bogus", "x").returncode, 2)
        self.assertEqual(report("/nonexistent/file").returncode, 1)
        helped = report("--help")
        self.assertEqual(helped.returncode, 0)
        self.assertIn("slow when low in at least 2 measurements", helped.stdout)
        version = report("--version")
        self.assertEqual((version.returncode, version.stdout.strip()), (0, "1.0.0"))


if __name__ == "__main__":
    unittest.main()
