#!/usr/bin/env python3
"""Fault injection against the two import runs of tankload.

Drives the program on generated summaries and breaks its runs from outside: kill -9 at
a random moment, the PostgreSQL server stopped, a full disk, a read-only file, a lock
held by another process, a second import of the same project at the same time. After
every trial the database is compared with the states the run may leave behind:

  run by SQL statements  exactly the rows before it, or exactly the rows of a complete run
  run through the table  the rows before it, followed by an exact prefix of the file's rows

Rows are compared per project, in ID order, by count and checksum of every column but
ID and the import day (Variant), against states taken from uninterrupted reference runs.
SQLite files must also pass PRAGMA integrity_check. A run that ends by itself must say
what happened: exit status 0 only with the complete state, otherwise a message on
standard error. Kill moments are random; the checks are exact, so they do not depend on
the machine's speed.

Called by scripts/faults, which starts the private PostgreSQL cluster and cleans up."""

import argparse
import hashlib
import os
import random
import select
import shutil
import signal
import sqlite3
import subprocess
import sys
import time

PROJECT = "TOrva_1"
OTHER_PROJECT = "TOther_2"
COLUMNS = ("Tank, Designation, Frame, Board, Deck, Volume, Fperm, Volume_Netto, "
           "SpecificWeight, FactorExpansion, AccountDeadStock, DeadSstock, AccountSstock, "
           "Xpvm, Ypvm, Zpvm, Mx, Mz, dmh, dM, LPP")
ROWS_SQL = f"SELECT Project, {COLUMNS} FROM FromExcel ORDER BY ID"
# A run that has not ended after this long is taken as hung.
HANG_SECONDS = 180


class Interrupted(Exception):
    pass


def on_signal(signum, frame):
    raise Interrupted(f"signal {signum}")


# ---- summaries ------------------------------------------------------------------------

def write_summary(path, lines, seed, tag):
    """A summary as a spreadsheet application on Russian Windows saves it: Windows-1251,
    tab-separated, CR LF, decimal commas; a header line before every group of tanks, a
    blank line after it, now and then a total line with column B filled (skipped by the
    import). Texts carry quotes and backslashes now and then."""
    rng = random.Random(seed)
    boards = ["ЛБ", "ПБ", "ДП"]
    kinds = ["Цистерны топлива", "Балластные цистерны", "Цистерны пресной воды",
             "Цистерны масла", "Льяльные цистерны"]
    out = []
    group = 0

    def num(x):
        return str(x).replace(".", ",")

    while len(out) < lines:
        group += 1
        out.append(f"{kinds[group % len(kinds)]} № {group} ({tag})")
        for i in range(rng.randint(10, 30)):
            if rng.random() < 0.02:
                out.append(f"Итого {group}\tвсего\t\t\t\t123,4")
                continue
            frame = rng.randint(1, 140)
            volume = round(rng.uniform(2, 400), 2)
            sg = rng.choice([0.85, 0.84, 1.0, 1.025, 0.9])
            name = f"Ц-{tag}-{group}-{i + 1}"
            if rng.random() < 0.05:
                name += " 'о'Брайен'"
            if rng.random() < 0.05:
                name += " C:\\Data\\"
            cells = [name, "", f"{frame}-{frame + rng.randint(2, 12)}", rng.choice(boards),
                     str(rng.randint(1, 4)), num(volume), num(round(rng.uniform(1, 80), 2)),
                     num(round(volume * 0.98, 2)), num(sg),
                     num(round(rng.uniform(1.0, 1.03), 3)), num(round(rng.uniform(0, 2), 2)),
                     num(round(rng.uniform(0, 2), 2)), num(round(volume * sg, 2)),
                     num(round(rng.uniform(-60, 60), 3)), num(round(rng.uniform(-8, 8), 3)),
                     num(round(rng.uniform(0, 12), 3)), num(round(rng.uniform(-20000, 20000), 1)),
                     num(round(rng.uniform(0, 5000), 1)), "", str(rng.randint(1, 40)),
                     str(rng.randint(1, 12))]
            out.append("\t".join(cells))
        out.append("")
    with open(path, "wb") as f:
        f.write(("\r\n".join(out[:lines]) + "\r\n").encode("cp1251"))
    return path


# ---- database states ------------------------------------------------------------------

class State:
    """The rows of FromExcel per project, in ID order, as texts."""

    def __init__(self, rows):
        self.projects = {}
        for project, text in rows:
            self.projects.setdefault(project, []).append(text)

    def __eq__(self, other):
        return self.projects == other.projects

    def rows(self, project):
        return self.projects.get(project, [])

    def describe(self):
        parts = []
        for project in sorted(self.projects, key=str):
            rows = self.projects[project]
            digest = hashlib.md5("\n".join(rows).encode()).hexdigest()[:10]
            parts.append(f"{project}: {len(rows)} rows md5 {digest}")
        return "; ".join(parts) or "no rows"


def sql_outcome(state, before, afters):
    """'before', 'after' or None for the state a run by SQL statements left."""
    if state == before:
        return "before"
    if any(state == a for a in afters):
        return "after"
    return None


def table_outcome(state, before, full):
    """The number of the file's rows that a run through the table added, when the state
    is the rows before it followed by an exact prefix of them; otherwise None."""
    projects = set(state.projects) | set(before.projects)
    for p in projects - {PROJECT}:
        if state.rows(p) != before.rows(p):
            return None
    old, now = before.rows(PROJECT), state.rows(PROJECT)
    added = full.rows(PROJECT)[len(old):]
    if now[:len(old)] != old or len(now) - len(old) > len(added):
        return None
    k = len(now) - len(old)
    return k if now[len(old):] == added[:k] else None


class Sqlite:
    name = "SQLite"

    def __init__(self, suite):
        self.suite = suite
        self.dir = os.path.join(suite.work, "sqlite")
        os.makedirs(self.dir)
        self.seeds = {}

    def conn(self, path, busy_ms=None):
        text = f"Provider=SQLite;Data Source={path}"
        return text + (f";Busy Timeout={busy_ms}" if busy_ms is not None else "")

    def prepare(self, seed_file):
        path = os.path.join(self.dir, "seed.mdb")
        self.suite.must(["--create-database", "--database", self.conn(path)])
        self.suite.must(["--from-text", seed_file, "--database", self.conn(path)])
        con = sqlite3.connect(path, isolation_level=None)
        con.execute(f"INSERT INTO FromExcel (Project, Variant, {COLUMNS}) "
                    f"SELECT '{OTHER_PROJECT}', Variant, {COLUMNS} FROM FromExcel "
                    f"WHERE Project = '{PROJECT}' AND ID % 3 = 0")
        con.execute("PRAGMA wal_checkpoint(TRUNCATE)")
        con.execute("PRAGMA journal_mode = DELETE")
        con.close()
        self.seeds["delete"] = path
        wal = os.path.join(self.dir, "seed-wal.mdb")
        shutil.copyfile(path, wal)
        con = sqlite3.connect(wal, isolation_level=None)
        con.execute("PRAGMA journal_mode = WAL")
        con.close()
        self.seeds["wal"] = wal
        for p in self.seeds.values():
            assert not os.path.exists(p + "-wal") and not os.path.exists(p + "-journal")
        self.before = self.state(path)[0]

    def fresh(self, journal="wal", directory=None):
        """A copy of the seeded database in a file of its own, in WAL or rollback-journal
        mode."""
        directory = directory or self.dir
        self.suite.count += 1
        path = os.path.join(directory, f"t{self.suite.count}-{journal}.mdb")
        shutil.copyfile(self.seeds[journal], path)
        return path

    def state(self, path):
        """The rows and the answer of PRAGMA integrity_check."""
        con = sqlite3.connect(path, timeout=30)
        try:
            rows = [(r[0], "\x1f".join(repr(v) for v in r[1:])) for r in con.execute(ROWS_SQL)]
            check = "; ".join(r[0] for r in con.execute("PRAGMA integrity_check"))
        finally:
            con.close()
        return State(rows), check

    def reference(self, run_args, journal="wal"):
        path = self.fresh(journal)
        start = time.monotonic()
        self.suite.must(run_args + ["--database", self.conn(path)])
        return self.state(path)[0], time.monotonic() - start


class Postgres:
    name = "PostgreSQL"

    def __init__(self, suite, args):
        self.suite = suite
        self.bin = args.pg_bin
        self.data = args.pg_data
        self.port = args.pg_port
        self.socket = args.pg_socket
        self.log = args.pg_log
        self.owner = ["runuser", "-u", "postgres", "--"] if os.geteuid() == 0 else []
        self.conninfo = f"host=127.0.0.1 port={self.port} dbname=faults user=faults"
        self.env = dict(os.environ, PGPASSWORD="faults", PGCONNECT_TIMEOUT="10")

    def conn(self, busy_ms=None):
        text = f"Provider=PostgreSQL;Data Source=127.0.0.1:{self.port}/faults;User ID=faults;" \
               "Password=faults"
        return text + (f";Busy Timeout={busy_ms}" if busy_ms is not None else "")

    def psql(self, sql):
        r = subprocess.run(["psql", "-X", "-q", "-At", "-v", "ON_ERROR_STOP=1", "-d",
                            self.conninfo, "-c", sql], env=self.env, capture_output=True,
                           text=True, timeout=120)
        if r.returncode != 0:
            raise RuntimeError(f"psql failed: {sql}\n{r.stderr}")
        return r.stdout

    def holder(self, statements):
        """A psql session that runs the statements and stays in its transaction until
        released."""
        env = dict(self.env, PGAPPNAME="faults-holder")
        p = self.suite.spawn(["psql", "-X", "-q", "-v", "ON_ERROR_STOP=1", "-d", self.conninfo],
                             stdin=subprocess.PIPE, stdout=subprocess.DEVNULL,
                             stderr=subprocess.DEVNULL, env=env, text=True)
        p.stdin.write(statements + "\n")
        p.stdin.flush()
        deadline = time.monotonic() + 30
        while time.monotonic() < deadline:
            if self.psql("SELECT state FROM pg_stat_activity WHERE application_name = "
                         "'faults-holder'").strip() == "idle in transaction":
                return p
            if p.poll() is not None:
                break
            time.sleep(0.05)
        raise RuntimeError("the locking session did not take its lock")

    def release(self, p):
        end_holder(self.suite, p, "ROLLBACK;\n")

    def pg_ctl(self, *args):
        subprocess.run(self.owner + [os.path.join(self.bin, "pg_ctl"), "-D", self.data, *args],
                       check=True, stdout=subprocess.DEVNULL, timeout=120)

    def restart_server(self):
        self.pg_ctl("-l", self.log, "-w", "-t", "60", "-o",
                    f"-p {self.port} -k {self.socket} -c listen_addresses=127.0.0.1", "start")

    def wait_idle(self):
        """Waits until no other client is connected: a killed client's server process
        ends when it notices, and it may still hold the locks of its transaction."""
        sql = ("SELECT count(*) FROM pg_stat_activity WHERE datname = current_database() "
               "AND pid <> pg_backend_pid() AND backend_type = 'client backend'")
        deadline = time.monotonic() + 60
        while self.psql(sql).strip() != "0":
            if time.monotonic() > deadline:
                raise RuntimeError("server processes of killed clients do not end")
            time.sleep(0.05)

    def prepare(self, seed_file):
        self.suite.must(["--create-database", "--database", self.conn()])
        self.suite.must(["--from-text", seed_file, "--database", self.conn()])
        self.psql(f"INSERT INTO FromExcel (Project, Variant, {COLUMNS}) "
                  f"SELECT '{OTHER_PROJECT}', Variant, {COLUMNS} FROM FromExcel "
                  f"WHERE Project = '{PROJECT}' AND ID % 3 = 0")
        self.psql("CREATE TABLE faults_seed AS SELECT * FROM FromExcel")
        self.reset()
        self.before = self.state()

    def reset(self):
        """Back to the seeded rows, the identity continuing after them."""
        self.wait_idle()
        self.psql("BEGIN; DELETE FROM FromExcel; INSERT INTO FromExcel SELECT * FROM faults_seed; "
                  "SELECT setval(pg_get_serial_sequence('fromexcel', 'id'), "
                  "(SELECT max(ID) FROM FromExcel)); COMMIT")

    def state(self):
        out = self.psql(f"COPY ({ROWS_SQL}) TO STDOUT")
        rows = []
        for line in out.split("\n"):
            if line:
                project, _, rest = line.partition("\t")
                rows.append((project, rest))
        return State(rows)

    def reference(self, run_args):
        self.reset()
        start = time.monotonic()
        self.suite.must(run_args + ["--database", self.conn()])
        took = time.monotonic() - start
        state = self.state()
        self.reset()
        return state, took


# ---- runs of the program --------------------------------------------------------------

class Run:
    """One started run of the program, its output kept in files."""

    def __init__(self, suite, args, prefix=()):
        suite.count += 1
        base = os.path.join(suite.logs, f"run{suite.count}")
        self.out_path, self.err_path = base + ".out", base + ".err"
        self.args = args
        with open(self.out_path, "wb") as out, open(self.err_path, "wb") as err:
            self.proc = suite.spawn([*prefix, suite.program] + args, stdout=out, stderr=err,
                                    cwd=suite.logs, env=suite.env)
        self.suite = suite
        self.started = time.monotonic()
        self.killed = False
        self.hung = False
        self.rc = None
        self.took = None

    def kill_after(self, seconds):
        """kill -9 after the given time unless the run ends before."""
        try:
            self.rc = self.proc.wait(timeout=seconds)
            self.took = time.monotonic() - self.started
        except subprocess.TimeoutExpired:
            self.proc.send_signal(signal.SIGKILL)
            self.proc.wait()
            self.killed = True
        self.suite.forget(self.proc)

    def finish(self, timeout=HANG_SECONDS):
        try:
            self.rc = self.proc.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            self.proc.send_signal(signal.SIGKILL)
            self.proc.wait()
            self.hung = True
        self.suite.forget(self.proc)
        return self

    def stdout(self):
        with open(self.out_path, "rb") as f:
            return f.read().decode("utf-8", "replace")

    def stderr(self):
        with open(self.err_path, "rb") as f:
            return f.read().decode("utf-8", "replace").strip()

    def summary(self):
        if self.hung:
            return f"no end after {HANG_SECONDS} s (killed)"
        if self.killed:
            return "killed"
        text = self.stderr().replace("\n", " | ")
        return f"exit {self.rc}" + (f", message: {text[:300]}" if text else ", no message")


def judge_end(run, complete, allow_complete_on_failure=False):
    """A run that ended by itself: exit 0 only with the complete state, a failure with a
    message and, unless the failure may come after the commit, without it. Returns a
    reason for a miss or None."""
    if run.hung:
        return "the run hung"
    if run.killed:
        return None
    if run.rc == 0 and not complete:
        return "exit status 0, but the run's rows are not all there"
    if run.rc != 0:
        if not run.stderr():
            return f"exit status {run.rc} without a message"
        if complete and not allow_complete_on_failure:
            return f"exit status {run.rc}, but the run's rows were stored"
    return None


def unexpected_end(run, expect):
    """A run that had to fail (a lock held to the end, a full disk) or to succeed (a lock
    released in time, room again) and did not."""
    if expect == "fail" and run.rc == 0:
        return "the run succeeded where it cannot have"
    if expect == "succeed" and run.rc != 0:
        return "the run failed although nothing stood in its way any more"
    return None


class Scenario:
    def __init__(self, suite, title):
        self.suite, self.title = suite, title
        self.trials = self.survived = 0
        self.outcomes = {}
        self.started = time.monotonic()
        # What the next trial tries, when the title does not say it all.
        self.case = None

    def trial(self, ok, outcome, detail=""):
        self.trials += 1
        name = f"trial {self.trials}" + (f" ({self.case})" if self.case else "")
        if ok:
            self.survived += 1
            self.outcomes[outcome] = self.outcomes.get(outcome, 0) + 1
        else:
            print(f"  MISS {self.title}, {name}: {detail}", flush=True)
        if ok and self.suite.verbose:
            print(f"  {name}: {outcome}: {detail}", flush=True)

    def report(self):
        figures = ", ".join(f"{k} {v}" for k, v in sorted(self.outcomes.items()))
        took = time.monotonic() - self.started
        print(f"{self.title}: survived {self.survived} of {self.trials}"
              + (f" ({figures})" if figures else "") + f" [{took:.0f} s]", flush=True)
        self.suite.scenarios.append(self)


def sql_trial(scenario, run, state, before, afters, integrity="ok",
              allow_complete_on_failure=False, expect=None, ended=None):
    outcome = sql_outcome(state, before, afters)
    reason = None
    if integrity != "ok":
        reason = f"integrity_check: {integrity}"
    elif outcome is None:
        reason = "the rows are neither those before the run nor those after it"
    else:
        reason = judge_end(run, outcome == "after", allow_complete_on_failure)
    reason = reason or unexpected_end(run, expect)
    label = outcome if run.killed or outcome is None else ended or f"{outcome}, exit {run.rc}"
    scenario.trial(reason is None, label,
                   f"{reason or 'ok'}; run: {run.summary()}; rows: {state.describe()}")


def table_trial(scenario, run, state, before, full, integrity="ok", expect=None, ended=None,
                allow_complete_on_failure=False):
    k = table_outcome(state, before, full)
    total = len(full.rows(PROJECT)) - len(before.rows(PROJECT))
    reason = None
    if integrity != "ok":
        reason = f"integrity_check: {integrity}"
    elif k is None:
        reason = "the rows are not the earlier rows followed by a prefix of the file's rows"
    else:
        reason = judge_end(run, k == total, allow_complete_on_failure)
    reason = reason or unexpected_end(run, expect)
    if k is None:
        label = None
    elif k == 0:
        label = "none added"
    elif k == total:
        label = "all added"
    else:
        label = "prefix"
    if label and not run.killed:
        label = ended or f"{label}, exit {run.rc}"
    scenario.trial(reason is None, label,
                   f"{reason or 'ok'}; run: {run.summary()}; rows: {state.describe()}")


# ---- the suite ------------------------------------------------------------------------

class Suite:
    def __init__(self, args):
        self.program = args.program
        self.work = args.work
        self.logs = os.path.join(self.work, "runs")
        os.makedirs(self.logs)
        self.trials = args.trials
        self.rng = random.Random(args.seed)
        self.env = dict(os.environ, QT_QPA_PLATFORM="offscreen", LC_ALL="C.UTF-8")
        self.count = 0
        self.children = []
        self.mounts = []
        self.scenarios = []
        self.skipped = []
        self.root = os.geteuid() == 0

    # processes
    def spawn(self, argv, **kwargs):
        p = subprocess.Popen(argv, **kwargs)
        self.children.append(p)
        return p

    def forget(self, p):
        if p in self.children:
            self.children.remove(p)

    def reap(self, p, timeout=30):
        try:
            p.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            p.kill()
            p.wait()
        self.forget(p)

    def run(self, args, prefix=()):
        return Run(self, args, prefix)

    def must(self, args):
        r = self.run(args).finish()
        if r.rc != 0:
            raise RuntimeError(f"tankload {' '.join(args)}: {r.summary()}")

    # mounts
    def mount_refusal(self):
        """Why no file system can be mounted here (not root, or a container that forbids
        it); None when mounts work."""
        if not hasattr(self, "_mount_refusal"):
            self._mount_refusal = None
            probe = os.path.join(self.work, "mount-probe")
            os.makedirs(probe)
            if not self.root:
                self._mount_refusal = "mounts need root"
            else:
                r = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=64k", "tmpfs", probe],
                                   capture_output=True, text=True)
                if r.returncode != 0:
                    self._mount_refusal = f"mount refused: {r.stderr.strip()}"
                else:
                    subprocess.run(["umount", probe], check=True)
            os.rmdir(probe)
        return self._mount_refusal

    def mount_tmpfs(self, path, size):
        os.makedirs(path, exist_ok=True)
        subprocess.run(["mount", "-t", "tmpfs", "-o", f"size={size},mode=0755", "tmpfs", path],
                       check=True)
        self.mounts.append(path)

    def remount(self, path, options):
        subprocess.run(["mount", "-o", f"remount,{options}", path], check=True)

    def unmount(self, path):
        if subprocess.run(["umount", path], stderr=subprocess.DEVNULL).returncode != 0:
            # Busy: a run is still working there (an interrupted trial).
            self.end_children()
            if subprocess.run(["umount", path]).returncode != 0:
                subprocess.run(["umount", "-l", path])
        self.mounts.remove(path)

    def end_children(self):
        for p in list(self.children):
            if p.poll() is None:
                p.kill()
            try:
                p.wait(timeout=30)
            except subprocess.TimeoutExpired:
                pass
        self.children.clear()

    def cleanup(self):
        self.end_children()
        for path in reversed(list(self.mounts)):
            self.unmount(path)


def kill_trials(suite, engine, kind, summary, before, full, took):
    """kill -9 at a random moment between the start and the end of an uninterrupted run
    (the shortest seen so far)."""
    table = kind == "table"
    scenario = Scenario(suite, f"{engine.name}, {'table run' if table else 'SQL run'}, kill -9")
    run_args = ["--from-text", summary] + (["--through-table"] if table else [])
    for i in range(suite.trials):
        delay = suite.rng.uniform(0.0, took)
        if engine.name == "SQLite":
            journal = "wal" if i % 2 == 0 else "delete"
            scenario.case = f"{journal} journal, kill after {delay:.2f} s"
            path = engine.fresh(journal)
            run = suite.run(run_args + ["--database", engine.conn(path)])
            run.kill_after(delay)
            state, integrity = engine.state(path)
            os.remove(path)
        else:
            scenario.case = f"kill after {delay:.2f} s"
            run = suite.run(run_args + ["--database", engine.conn()])
            run.kill_after(delay)
            engine.wait_idle()
            state, integrity = engine.state(), "ok"
            engine.reset()
        if run.took is not None:
            took = min(took, run.took)
        ended = "ended before the kill"
        if table:
            table_trial(scenario, run, state, before, full, integrity, ended=ended)
        else:
            sql_trial(scenario, run, state, before, [full], integrity, ended=ended)
    scenario.report()


def server_stop_trials(suite, pg, cases):
    """The server stopped (immediate) at a random moment of a run, then started again. A
    run that ends before the moment comes is tried again with an earlier one."""
    scenario = Scenario(suite, "PostgreSQL, server stopped (immediate) mid-run")
    for kind, summary, full, took in cases:
        table = kind == "table"
        scenario.case = f"{'table' if table else 'SQL'} run"
        for attempt in range(4):
            run = suite.run(["--from-text", summary, "--database", pg.conn()]
                            + (["--through-table"] if table else []))
            try:
                run.proc.wait(timeout=suite.rng.uniform(0.2, 0.8) * took)
            except subprocess.TimeoutExpired:
                pass
            stopped = run.proc.poll() is None
            if stopped:
                pg.pg_ctl("-m", "immediate", "stop")
            run.finish()
            if stopped:
                pg.restart_server()
            elif attempt < 3:
                took = min(took, time.monotonic() - run.started)
                pg.reset()
                continue
            state = pg.state()
            ended = None if stopped else "ended before the stop"
            if table:
                # The last row's commit may be lost on its way back.
                table_trial(scenario, run, state, pg.before, full, ended=ended,
                            allow_complete_on_failure=True)
            else:
                # So may the commit's answer.
                sql_trial(scenario, run, state, pg.before, [full], allow_complete_on_failure=True,
                          ended=ended)
            pg.reset()
            break
    scenario.report()


def disk_full_trials(suite, sq, big, sql_full, table_full):
    scenario = Scenario(suite, "SQLite, disk full")
    seed_size = os.path.getsize(sq.seeds["delete"])
    for journal in ("wal", "delete"):
        for table in (False, True):
            scenario.case = f"{'table' if table else 'SQL'} run, {journal} journal"
            mount = os.path.join(suite.work, f"full-{journal}-{int(table)}")
            # Room for the seeded file and a little more, far less than the import needs
            # (the table run gets a few of its batches in).
            suite.mount_tmpfs(mount, seed_size + (2048 if table else 256) * 1024)
            try:
                path = sq.fresh(journal, mount)
                args = ["--from-text", big] + (["--through-table"] if table else [])
                run = suite.run(args + ["--database", sq.conn(path)]).finish()
                state, integrity = sq.state(path)
                if table:
                    table_trial(scenario, run, state, sq.before, table_full, integrity,
                                expect="fail")
                else:
                    sql_trial(scenario, run, state, sq.before, [sql_full], integrity,
                              expect="fail")
                    # With room again the same import goes through.
                    suite.remount(mount, "size=256m")
                    run = suite.run(args + ["--database", sq.conn(path)]).finish()
                    state, integrity = sq.state(path)
                    sql_trial(scenario, run, state, sq.before, [sql_full], integrity,
                              expect="succeed")
            finally:
                suite.unmount(mount)
    scenario.report()


def file_digest(path):
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


def read_only_trials(suite, sq, big):
    scenario = Scenario(suite, "SQLite, read-only database file")

    def attempt(path, prefix=()):
        digest = file_digest(path)
        for table in (False, True):
            scenario.case = f"{'table' if table else 'SQL'} run"
            args = ["--from-text", big] + (["--through-table"] if table else [])
            run = suite.run(args + ["--database", sq.conn(path)], prefix).finish()
            reason = judge_end(run, False)
            if reason is None and run.rc == 0:
                reason = "the run reported success on a read-only file"
            if reason is None and file_digest(path) != digest:
                reason = "the file changed"
            scenario.trial(reason is None, f"refused, exit {run.rc}",
                           f"{reason or 'ok'}; {path}; run: {run.summary()}")

    if not suite.mount_refusal():
        # A read-only mount: not even root may write.
        mount = os.path.join(suite.work, "ro")
        suite.mount_tmpfs(mount, "64m")
        try:
            paths = [sq.fresh(j, mount) for j in ("wal", "delete")]
            suite.remount(mount, "ro")
            for path in paths:
                attempt(path)
        finally:
            suite.unmount(mount)
    else:
        suite.skipped.append(f"read-only mount ({suite.mount_refusal()})")
    # A file without write permission in a writable folder. Root may write anyway, so
    # its runs go without the capabilities that override permissions.
    prefix = []
    if suite.root:
        if shutil.which("setpriv"):
            caps = "-dac_override,-dac_read_search"
            prefix = ["setpriv", f"--inh-caps={caps}", f"--bounding-set={caps}", "--"]
        else:
            suite.skipped.append("file without write permission (root without setpriv)")
            scenario.report()
            return
    folder = os.path.join(suite.work, "ro-perm")
    os.makedirs(folder)
    for journal in ("wal", "delete"):
        path = sq.fresh(journal, folder)
        os.chmod(path, 0o444)
        attempt(path, prefix)
    scenario.report()


def sqlite_holder(suite, path, statements):
    """A sqlite3 shell that runs the statements and keeps its transaction open."""
    p = suite.spawn(["sqlite3", "-batch", path], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                    stderr=subprocess.STDOUT, text=True)
    # Only the marker reaches the pipe, so the first line read says whether it worked.
    p.stdin.write(f".output /dev/null\n{statements}\n.output stdout\nSELECT 'holding';\n")
    p.stdin.flush()
    ready, _, _ = select.select([p.stdout], [], [], 30)
    line = p.stdout.readline().strip() if ready else "(no answer)"
    if line != "holding":
        raise RuntimeError(f"the sqlite3 shell did not take its lock: {line}")
    return p


def end_holder(suite, p, commands):
    """Ends a session that holds a lock: sends it `commands`, closes its input, reaps it."""
    try:
        p.stdin.write(commands)
        p.stdin.close()
    except OSError:
        pass
    suite.reap(p)


def sqlite_release(suite, p):
    end_holder(suite, p, "ROLLBACK;\n.quit\n")


def lock_trials(suite, engine, sql, table, cases):
    """Each case: a description, the lock holder's statements, the journal mode (SQLite),
    whether the run goes through the table, the seconds after which the lock is released
    (None: held to the end) and what the run must do. sql and table are the summary and
    the complete state of each run."""
    scenario = Scenario(suite, f"{engine.name}, lock held by another "
                               f"{'process' if engine.name == 'SQLite' else 'session'}")
    for name, statements, journal, through_table, release_after, expect in cases:
        summary, full = table if through_table else sql
        args = ["--from-text", summary] + (["--through-table"] if through_table else [])
        mode = f", {journal} journal" if journal else ""
        scenario.case = f"{name}, {'table' if through_table else 'SQL'} run{mode}"
        # Held to the end: a short wait that ends in a message. Released: a wait long
        # enough to outlast the holder.
        busy = 800 if release_after is None else 60000
        if engine.name == "SQLite":
            path = engine.fresh(journal)
            holder = sqlite_holder(suite, path, statements)
            run = suite.run(args + ["--database", engine.conn(path, busy)])
        else:
            holder = engine.holder(statements)
            run = suite.run(args + ["--database", engine.conn(busy)])
        if release_after is not None:
            try:
                run.proc.wait(timeout=release_after)
            except subprocess.TimeoutExpired:
                pass
            release(suite, engine, holder)
        run.finish()
        if release_after is None:
            release(suite, engine, holder)
        if engine.name == "SQLite":
            state, integrity = engine.state(path)
        else:
            engine.wait_idle()
            state, integrity = engine.state(), "ok"
            engine.reset()
        if through_table:
            table_trial(scenario, run, state, engine.before, full, integrity, expect)
        else:
            sql_trial(scenario, run, state, engine.before, [full], integrity, expect=expect)
    scenario.report()


def release(suite, engine, holder):
    if engine.name == "SQLite":
        sqlite_release(suite, holder)
    else:
        engine.release(holder)


def concurrent_trials(suite, engine, first, second, trials):
    """Two runs by SQL statements of the same project, started a moment apart, each from
    its own file: afterwards the project's rows are exactly those of one of them."""
    scenario = Scenario(suite, f"{engine.name}, two SQL runs of one project at once")
    (file_a, after_a, took_a), (file_b, after_b, _) = first, second
    for i in range(trials):
        if engine.name == "SQLite":
            path = engine.fresh("wal" if i % 2 == 0 else "delete")
            conn = engine.conn(path, 60000)
        else:
            conn = engine.conn(60000)
        order = [(file_a, after_a), (file_b, after_b)]
        if suite.rng.random() < 0.5:
            order.reverse()
        scenario.case = f"{os.path.basename(order[0][0])} first"
        runs = []
        for n, (summary, _) in enumerate(order):
            if n:
                time.sleep(suite.rng.uniform(0.0, min(0.5, took_a / 3)))
            runs.append(suite.run(["--from-text", summary, "--database", conn]))
        for r in runs:
            r.finish()
        if engine.name == "SQLite":
            state, integrity = engine.state(path)
        else:
            engine.wait_idle()
            state, integrity = engine.state(), "ok"
            engine.reset()
        outcome = sql_outcome(state, engine.before, [after_a, after_b])
        succeeded = [(r, after) for r, (_, after) in zip(runs, order) if r.rc == 0]
        reason = None
        if integrity != "ok":
            reason = f"integrity_check: {integrity}"
        elif any(r.hung for r in runs):
            reason = "a run hung"
        elif any(r.rc != 0 and not r.stderr() for r in runs):
            reason = "a run failed without a message"
        elif outcome is None:
            reason = "the project's rows are not exactly those of one run"
        elif not succeeded and outcome != "before":
            reason = "both runs failed, yet the rows changed"
        elif succeeded and not any(state == after for _, after in succeeded):
            reason = "the rows are not those of a run that reported success"
        elif len(succeeded) == 2:
            # The run whose rows stayed came second: it must have deleted the first one's.
            winner, _ = next((r, a) for r, a in succeeded if state == a)
            loser_after = next(a for r, a in succeeded if r is not winner)
            deleted = f"Delete records: {len(loser_after.rows(PROJECT))}"
            if deleted not in winner.stdout().splitlines():
                reason = f"the run that came second did not log \"{deleted}\""
        label = f"{len(succeeded)} of 2 succeeded"
        scenario.trial(reason is None, label,
                       f"{reason or 'ok'}; runs: {runs[0].summary()} / {runs[1].summary()}; "
                       f"rows: {state.describe()}")
    scenario.report()


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--program", required=True)
    parser.add_argument("--work", required=True)
    parser.add_argument("--seed", type=int, default=None)
    parser.add_argument("--trials", type=int, default=12)
    parser.add_argument("--verbose", action="store_true", help="a line for every trial")
    parser.add_argument("--only", help="comma-separated: sqlite, pg, kill, stop, full, "
                                       "readonly, lock, concurrent")
    parser.add_argument("--pg-bin")
    parser.add_argument("--pg-data")
    parser.add_argument("--pg-port")
    parser.add_argument("--pg-socket")
    parser.add_argument("--pg-log")
    args = parser.parse_args()
    if args.seed is None:
        args.seed = random.SystemRandom().randrange(1, 10 ** 9)
    signal.signal(signal.SIGTERM, on_signal)
    signal.signal(signal.SIGINT, on_signal)

    suite = Suite(args)
    suite.verbose = args.verbose
    print(f"faults: random seed {args.seed} (FAULTS_SEED={args.seed} repeats the kill moments)",
          flush=True)
    started = time.monotonic()
    try:
        body(suite, args)
    except Interrupted as e:
        print(f"faults: interrupted ({e})", file=sys.stderr)
        return 130
    finally:
        suite.cleanup()
    missed = [s for s in suite.scenarios if s.survived != s.trials]
    for note in suite.skipped:
        print(f"faults: skipped: {note}")
    print(f"faults: {len(suite.scenarios) - len(missed)} of {len(suite.scenarios)} scenarios "
          f"without a miss, {time.monotonic() - started:.0f} s")
    return 1 if missed else 0


def body(suite, args):
    only = set(args.only.split(",")) if args.only else set()
    engines, kinds = {"sqlite", "pg"}, {"kill", "stop", "full", "readonly", "lock", "concurrent"}

    def want(engine, kind):
        """Scenarios chosen by --only: engines and kinds, all of either when none is named."""
        return ((not only & engines or engine in only)
                and (not only & kinds or kind in only))

    data = os.path.join(suite.work, "data")
    os.makedirs(data)
    seed_file = write_summary(os.path.join(data, "before.txt"), 300, 11, "B")

    if any(want("sqlite", k) for k in kinds):
        big = write_summary(os.path.join(data, "big.txt"), 40000, 12, "A")
        other = write_summary(os.path.join(data, "other.txt"), 12000, 13, "C")
        sq = Sqlite(suite)
        sq.prepare(seed_file)
        sql_full, sql_took = sq.reference(["--from-text", big])
        table_full, table_took = sq.reference(["--from-text", big, "--through-table"])
        other_full, _ = sq.reference(["--from-text", other])
        print(f"SQLite: {len(sql_full.rows(PROJECT))} rows; SQL run {sql_took:.2f} s, table run "
              f"{table_took:.2f} s", flush=True)
        if want("sqlite", "kill"):
            kill_trials(suite, sq, "sql", big, sq.before, sql_full, sql_took)
            kill_trials(suite, sq, "table", big, sq.before, table_full, table_took)
        if want("sqlite", "full"):
            if not suite.mount_refusal():
                disk_full_trials(suite, sq, big, sql_full, table_full)
            else:
                suite.skipped.append(f"disk full on a small tmpfs ({suite.mount_refusal()})")
        if want("sqlite", "readonly"):
            read_only_trials(suite, sq, big)
        if want("sqlite", "lock"):
            lock_trials(suite, sq, (big, sql_full), (big, table_full), [
                ("write lock held", "BEGIN IMMEDIATE;", "wal", False, None, "fail"),
                ("exclusive lock held", "BEGIN EXCLUSIVE;", "wal", True, None, "fail"),
                ("exclusive lock held", "BEGIN EXCLUSIVE;", "delete", False, None, "fail"),
                ("reader holding a shared lock", "BEGIN; SELECT count(*) FROM FromExcel;",
                 "delete", False, None, "fail"),
                ("reader in WAL mode", "BEGIN; SELECT count(*) FROM FromExcel;", "wal", False,
                 None, "succeed"),
                ("write lock released after 1 s", "BEGIN IMMEDIATE;", "wal", False, 1.0,
                 "succeed"),
                ("write lock released after 1 s", "BEGIN IMMEDIATE;", "delete", True, 1.0,
                 "succeed"),
            ])
        if want("sqlite", "concurrent"):
            concurrent_trials(suite, sq, (big, sql_full, sql_took), (other, other_full, None), 6)

    if not any(want("pg", k) for k in kinds):
        return
    if not args.pg_bin:
        suite.skipped.append("PostgreSQL scenarios (no PostgreSQL server installed)")
        return
    pg = Postgres(suite, args)
    pg_big = write_summary(os.path.join(data, "pg-big.txt"), 12000, 14, "P")
    pg_other = write_summary(os.path.join(data, "pg-other.txt"), 5000, 15, "Q")
    pg.prepare(seed_file)
    pg_sql_full, pg_sql_took = pg.reference(["--from-text", pg_big])
    # Every row of the table run is a transaction of its own, waiting for the disk: a few
    # hundred rows take from a fraction of a second to seconds, by the disk. The file
    # grows until a run takes about a second.
    lines = 500
    while True:
        pg_small = write_summary(os.path.join(data, "pg-small.txt"), lines, 16, "S")
        pg_table_full, pg_table_took = pg.reference(["--from-text", pg_small, "--through-table"])
        if pg_table_took >= 0.8 or lines >= 8000:
            break
        lines = min(8000, int(lines * 1.5 / max(pg_table_took, 0.1)))
    pg_other_full, _ = pg.reference(["--from-text", pg_other])
    print(f"PostgreSQL: SQL run of {len(pg_sql_full.rows(PROJECT))} rows {pg_sql_took:.2f} s, "
          f"table run of {len(pg_table_full.rows(PROJECT)) - len(pg.before.rows(PROJECT))} "
          f"rows {pg_table_took:.2f} s", flush=True)
    if want("pg", "kill"):
        kill_trials(suite, pg, "sql", pg_big, pg.before, pg_sql_full, pg_sql_took)
        kill_trials(suite, pg, "table", pg_small, pg.before, pg_table_full, pg_table_took)
    if want("pg", "stop"):
        server_stop_trials(suite, pg, [("sql", pg_big, pg_sql_full, pg_sql_took)] * 4
                           + [("table", pg_small, pg_table_full, pg_table_took)] * 2)
    if want("pg", "lock"):
        # The SQL run's lock of its project: a transaction-level advisory lock keyed by
        # the table and the project.
        advisory = "BEGIN; SELECT pg_advisory_xact_lock(hashtext('FromExcel'), hashtext('{}'));"
        lock_trials(suite, pg, (pg_big, pg_sql_full), (pg_small, pg_table_full), [
            ("the project's import lock held", advisory.format(PROJECT), None, False, None,
             "fail"),
            ("the project's import lock, released after 1 s", advisory.format(PROJECT), None,
             False, 1.0, "succeed"),
            ("another project's import lock held", advisory.format(OTHER_PROJECT), None, False,
             None, "succeed"),
            ("table locked (SHARE ROW EXCLUSIVE)",
             "BEGIN; LOCK TABLE FromExcel IN SHARE ROW EXCLUSIVE MODE;", None, False, None,
             "fail"),
            ("table locked (SHARE ROW EXCLUSIVE)",
             "BEGIN; LOCK TABLE FromExcel IN SHARE ROW EXCLUSIVE MODE;", None, True, None,
             "fail"),
            ("project's rows locked (FOR UPDATE)",
             f"BEGIN; SELECT count(*) FROM (SELECT ID FROM FromExcel WHERE Project = '{PROJECT}' "
             "FOR UPDATE) t;", None, False, None, "fail"),
            ("table locked (ACCESS EXCLUSIVE)",
             "BEGIN; LOCK TABLE FromExcel IN ACCESS EXCLUSIVE MODE;", None, False, None, "fail"),
            ("table locked, released after 1 s",
             "BEGIN; LOCK TABLE FromExcel IN EXCLUSIVE MODE;", None, False, 1.0, "succeed"),
            ("table locked, released after 1 s",
             "BEGIN; LOCK TABLE FromExcel IN EXCLUSIVE MODE;", None, True, 1.0, "succeed"),
        ])
    if want("pg", "concurrent"):
        concurrent_trials(suite, pg, (pg_big, pg_sql_full, pg_sql_took),
                          (pg_other, pg_other_full, None), 5)


if __name__ == "__main__":
    sys.exit(main())
