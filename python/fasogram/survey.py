"""The spectra and best peaks of every light curve in a directory, on Dask.

    fasogram-survey DIR --from F --to F --steps N [--window W] [--errors]
                    [--bootstrap B [--seed S]]
                    [--scheduler ADDRESS] [--workers N] -o results.csv
    python3 -m fasogram.survey ...    (the same)

Every file in DIR (not in its subdirectories; names starting with a dot are
left out) is read as a light curve by the program's reader (see
fasogram.read_series: headers, comments and numbers as `fasogram` reads
them), its spectrum computed from --from to --to in --steps steps, and its
two highest peaks written as one CSV row:

    file, points, frequency, period, rho, amplitude, phase,
    frequency2, period2, rho2, error, fap, fap2

(the second peak's frequency, period and rho after the first's; fap and
fap2 the false-alarm probabilities of the two peaks over the band, by
Baluev's approximation, or with --bootstrap B the share of B resamples of
the curve whose highest rho reaches the peak, "<" and 1/B (as "<0.001")
when none does; --seed S, 0 by default, picks the resamples).  Numbers are written
with all their digits.  A light curve that cannot be read or has no
spectrum gets a row with the number of points read, if any, and its error;
the other columns stay empty.  Rows follow the order of the file names.

With --errors every line holds time, value and error, the error finite and
above 0 (else the file's row names the line at fault), and each point weighs
1/error^2.  Without it, a file whose pairs carry a third number gets one
note saying that the column is not read.

The results go to a new file beside the output, renamed over it once the
survey is complete and on disk: an earlier results file stays as it was
until then, and after an error or an interruption.  A file that is replaced
keeps its mode (and its owner, where the system allows).  A symbolic link
given as the output is followed, unless it sits in a sticky directory that
anybody may write (/tmp) and belongs neither to the user nor to the
directory's owner.  A device or a pipe (-o /dev/null) is written into, and
-o - writes to the standard output.

Without --scheduler the work runs on a distributed.LocalCluster started on
this machine (one single-threaded worker process per core, or --workers,
forked from the survey's own process, which has loaded Dask), listening on
the loopback interface only and without a dashboard; with
--scheduler on the existing Dask cluster at ADDRESS (such as
tcp://10.0.0.5:8786), whose workers need the fasogram package and must see
DIR under the same path.  When a worker dies (a task that brings its process
down), the files of its task are tried again one at a time, so that only the
file at fault gets an error row; so does a file whose retry leaves the
cluster without any worker for a minute.

Progress and notes go to the standard error, as a line that updates itself
on a terminal and as a line every tenth of the way otherwise.  The exit
status is 0 when every light curve has its peaks, 1 when some failed (their
count is the last note) or the survey could not run, 2 for a usage error,
and 128 + the signal's number after SIGINT, SIGTERM or SIGHUP.
"""

import argparse
import contextlib
import csv
import io
import logging
import math
import os
import secrets
import signal
import stat
import sys

from fasogram.lightcurve import COLUMNS, analyse_batch

PROG = "fasogram-survey"

# The signals that stop a survey, leaving the earlier results in place.
STOP_SIGNALS = (signal.SIGINT, signal.SIGTERM, signal.SIGHUP)


class SurveyError(Exception):
    """A survey that cannot start or finish; the message says why."""


class Interrupted(BaseException):
    """A stop signal received; a BaseException, so that no library takes it for an error of its own."""

    def __init__(self, signum):
        super().__init__(signum)
        self.signum = signum


def note(message):
    """A note on the standard error."""
    sys.stderr.write(f"{PROG}: {message}\n")
    sys.stderr.flush()


def _reason(error):
    return (error.strerror or str(error)) if isinstance(error, OSError) else str(error)


# --- the output file ---

class _Held:
    """Blocks of code that a stop signal does not cut short: one that arrives
    inside them is acted on when the outermost block ends.  (Python runs its
    signal handlers in the main thread, whichever thread the kernel chose.)"""

    def __init__(self):
        self.depth = 0
        self.signum = None  # a signal waiting for the end of the block
        self.act = None     # what a signal does: StopSignals' handler

    def __enter__(self):
        self.depth += 1

    def __exit__(self, *exc):
        self.depth -= 1
        if self.depth == 0 and self.signum is not None:
            signum, self.signum = self.signum, None
            self.act(signum)
        return False


_signals_held = _Held()


def follow_links(name):
    """The path that `name` leads to through symbolic links in its last part.

    A link is followed only where the kernel's protected_symlinks rule would
    follow it: not when it sits in a sticky, world-writable directory and
    belongs neither to the effective user nor to the directory's owner.  A
    link to nothing leads to the path it names."""
    path = name
    for _ in range(40):
        try:
            info = os.lstat(path)
        except FileNotFoundError:
            return path
        except OSError as error:
            raise SurveyError(f"cannot write {name}: {_reason(error)}") from None
        if not stat.S_ISLNK(info.st_mode):
            return path
        directory = os.path.dirname(path) or "."
        try:
            parent = os.stat(directory)
            target = os.readlink(path)
        except OSError as error:
            raise SurveyError(f"cannot write {name}: {_reason(error)}") from None
        sticky_public = stat.S_ISVTX | stat.S_IWOTH
        if (parent.st_mode & sticky_public == sticky_public
                and info.st_uid not in (os.geteuid(), parent.st_uid)):
            raise SurveyError(
                f"will not follow the symbolic link {path}: it belongs to user {info.st_uid}, "
                f"neither you nor the owner of {directory}, a sticky directory anybody may write")
        path = os.path.join(os.path.dirname(path), target)
    raise SurveyError(f"cannot write {name}: too many levels of symbolic links")


class Output:
    """Where the results go.

    A regular file (or a name not taken) gets them through a temporary file
    created beside it when the survey starts (exclusively, under a name
    nobody can guess, mode 0666 less the umask or the mode of the file it
    replaces) and renamed over it once written and synced: until then the
    earlier file stays whole, and `discard` removes the temporary file and
    nothing else.  A device or a pipe is written into directly, and "-" is
    the standard output."""

    def __init__(self, name):
        self.name = name
        self.path = None       # the file renamed over at the end
        self.temporary = None  # the temporary file, while it exists
        self.fd = None         # where the CSV is written
        self.direct = False    # a device, a pipe or the standard output
        self.committed = False

    def open(self):
        if self.name == "-":
            self.direct = True
            return
        path = follow_links(self.name)
        try:
            info = os.stat(path)
        except FileNotFoundError:
            info = None
        except OSError as error:
            raise SurveyError(f"cannot write {self.name}: {_reason(error)}") from None
        try:
            if info is not None and stat.S_ISDIR(info.st_mode):
                raise SurveyError(f"cannot write {self.name}: it is a directory")
            if info is not None and not stat.S_ISREG(info.st_mode):
                self.fd = os.open(path, os.O_WRONLY | os.O_APPEND | os.O_NOCTTY | os.O_CLOEXEC)
                self.direct = True
                return
            if info is not None:
                # Writable by this user?  (Opened without truncating it.)
                os.close(os.open(path, os.O_WRONLY | os.O_NOFOLLOW | os.O_CLOEXEC))
            self._create_temporary(path, info)
        except OSError as error:
            raise SurveyError(f"cannot write {self.name}: {_reason(error)}") from None
        self.path = path

    def _create_temporary(self, path, replaced):
        directory, base = os.path.split(path)
        for _ in range(100):
            candidate = os.path.join(directory, f".{base[:200]}.{secrets.token_hex(8)}.tmp")
            with _signals_held:
                try:
                    fd = os.open(candidate, os.O_WRONLY | os.O_CREAT | os.O_EXCL | os.O_NOFOLLOW
                                 | os.O_CLOEXEC, 0o666)
                except FileExistsError:
                    continue
                self.fd, self.temporary = fd, candidate
            break
        else:
            raise SurveyError(f"cannot write {self.name}: no free temporary name beside it")
        if replaced is not None:
            for uid, gid in ((replaced.st_uid, replaced.st_gid), (-1, replaced.st_gid)):
                try:
                    os.fchown(fd, uid, gid)
                    break
                except PermissionError:
                    continue
            os.fchmod(fd, stat.S_IMODE(replaced.st_mode))

    def commit(self, text):
        """Writes `text` and puts it in place of the earlier file."""
        data = text.encode("utf-8")
        if self.name == "-":
            try:
                sys.stdout.buffer.write(data)
                sys.stdout.buffer.flush()
            except OSError as error:
                raise SurveyError(f"cannot write the standard output: {_reason(error)}") from None
            self.committed = True
            return
        try:
            view = memoryview(data)
            while view:
                view = view[os.write(self.fd, view):]
            if not self.direct:
                os.fsync(self.fd)
        except OSError as error:
            raise SurveyError(f"cannot write {self.name}: {_reason(error)}") from None
        with _signals_held:
            try:
                os.close(self.fd)
                self.fd = None
                if not self.direct:
                    os.rename(self.temporary, self.path)
                    self.temporary = None
            except OSError as error:
                raise SurveyError(f"cannot write {self.name}: {_reason(error)}") from None
            self.committed = True
        if not self.direct:
            # The rename itself on disk.
            with contextlib.suppress(OSError):
                directory = os.open(os.path.dirname(self.path) or ".", os.O_RDONLY | os.O_CLOEXEC)
                try:
                    os.fsync(directory)
                finally:
                    os.close(directory)

    def discard(self):
        """Removes the temporary file, if any (nothing else)."""
        with _signals_held:
            if self.fd is not None:
                with contextlib.suppress(OSError):
                    os.close(self.fd)
                self.fd = None
            if self.temporary is not None:
                with contextlib.suppress(FileNotFoundError):
                    os.unlink(self.temporary)
                self.temporary = None


class StopSignals:
    """SIGINT, SIGTERM and SIGHUP raise Interrupted, once the temporary file
    is gone; a second one ends the process at once.  A signal ignored when the
    survey starts (nohup, a background job) stays ignored."""

    def __init__(self):
        self.output = None
        self.received = None
        self.saved = {}
        self.pid = None  # the survey's process

    def __enter__(self):
        global _stop_signals
        _stop_signals = self
        self.pid = os.getpid()
        _signals_held.act = self._act
        for signum in STOP_SIGNALS:
            if signal.getsignal(signum) is not signal.SIG_IGN:
                self.saved[signum] = signal.signal(signum, self._handle)
        return self

    def __exit__(self, *exc):
        global _stop_signals
        for signum, handler in self.saved.items():
            signal.signal(signum, handler)
        _signals_held.act = None
        _stop_signals = None
        return False

    def _handle(self, signum, frame):
        if os.getpid() != self.pid:
            # A worker forked from the survey, before its handlers are reset:
            # it ends, as it would by default, and leaves the output alone.
            os._exit(128 + signum)
        if _signals_held.depth:
            _signals_held.signum = signum
        else:
            self._act(signum)

    def _act(self, signum):
        if self.output is not None:
            self.output.discard()
        if self.received is not None:
            os._exit(128 + signum)  # the cluster's shutdown, say, is taking too long
        self.received = signum
        raise Interrupted(signum)


_stop_signals = None  # the StopSignals in force, if any


# The signals a terminal sends to every process of the job (Ctrl-C, a
# hangup), which the survey process alone handles: it shuts its cluster down.
# The processes of the local cluster start with them blocked.
TERMINAL_SIGNALS = (signal.SIGINT, signal.SIGHUP)


def dask_setup(worker):
    """Worker start (a preload of the local cluster): the worker's own Python
    messages (a traceback from Dask when a restarted worker shuts down, say) go
    nowhere; a light curve's failure shows in its row."""
    sys.stderr = open(os.devnull, "w", encoding="utf-8")


# --- the survey ---

def light_curve_files(directory):
    """The light curve files of `directory`, sorted by name."""
    try:
        names = sorted(os.listdir(directory))
    except OSError as error:
        raise SurveyError(f"cannot read the directory {directory}: {_reason(error)}") from None
    return [os.path.join(directory, name) for name in names
            if not name.startswith(".") and os.path.isfile(os.path.join(directory, name))]


def batches(paths, workers):
    """The paths cut into tasks: a few per worker, each large enough to outweigh Dask's overhead."""
    size = max(1, min(64, math.ceil(len(paths) / (4 * max(1, workers)))))
    return [paths[i:i + size] for i in range(0, len(paths), size)]


class Progress:
    """How many light curves are done, on the standard error: a line that
    updates itself on a terminal, a line every tenth of the way otherwise."""

    def __init__(self, total, stream=None):
        self.stream = stream if stream is not None else sys.stderr
        self.terminal = self.stream.isatty()
        self.total = total
        self.done = 0
        self.shown = -1  # the last tenth shown, away from a terminal

    def advance(self, count):
        self.done += count
        percent = 100 * self.done // max(1, self.total)
        line = f"{PROG}: {percent:3d}% ({self.done} of {self.total} light curves)"
        if self.terminal:
            self.stream.write("\r" + line + ("\n" if self.done >= self.total else ""))
        elif percent // 10 > self.shown:
            self.shown = percent // 10
            self.stream.write(line + "\n")
        self.stream.flush()


class _NoWorkers(Exception):
    """The cluster has had no worker for a while: a task waiting for one would wait forever."""


# How long a task may wait while the cluster has no worker at all (a local
# worker restarts within seconds).
NO_WORKER_PATIENCE = 60.0


def _result(client, future):
    """The result of `future`; _NoWorkers when the cluster stays without workers
    (its last one died on this task and none came back)."""
    import time

    alone_since = None
    while True:
        try:
            return future.result(timeout=2)
        except TimeoutError:
            pass
        if client.scheduler_info().get("workers"):
            alone_since = None
        elif alone_since is None:
            alone_since = time.monotonic()
        elif time.monotonic() - alone_since > NO_WORKER_PATIENCE:
            future.cancel()
            raise _NoWorkers() from None


def _failure_row(path, error):
    from distributed.scheduler import KilledWorker

    row = dict.fromkeys(COLUMNS, "")
    row["file"] = os.path.basename(path)
    if isinstance(error, (KilledWorker, _NoWorkers)):
        row["error"] = "the Dask worker analysing it died"
    else:
        row["error"] = f"task failed: {type(error).__name__}: {error}"
    return row


def run_survey(client, paths, fmin, fmax, steps, window="hanning", progress=None, errors=False,
               bootstrap=0, seed=0):
    """The survey rows of `paths` computed on the Dask cluster of `client`, in the order of `paths`.

    The files of a task that fails as a whole (its worker died, say) run again
    one at a time, once the other tasks are done: each alone on the cluster, so
    that a file that fails then is the one at fault, and gets an error row."""
    from distributed import as_completed

    workers = len(client.scheduler_info().get("workers", {}))

    def submit(tasks):
        return client.map(analyse_batch, tasks, fmin=fmin, fmax=fmax, steps=steps,
                          window=window, threads=1, errors=errors, bootstrap=bootstrap,
                          seed=seed, pure=False)

    def advance(count):
        if progress is not None:
            progress.advance(count)

    tasks = batches(paths, workers)
    task_of = dict(zip(submit(tasks), tasks))
    rows = {}
    again = []
    for future in as_completed(list(task_of)):
        task = task_of.pop(future)
        if future.status == "finished":
            rows.update(zip(task, future.result()))
            advance(len(task))
        else:
            again.extend(task)
    order = {path: i for i, path in enumerate(paths)}
    for path in sorted(again, key=order.get):
        (future,) = submit([[path]])
        try:
            (rows[path],) = _result(client, future)
        except Exception as error:
            rows[path] = _failure_row(path, error)
        advance(1)
    return [rows[path] for path in paths]


def write_rows(rows, file):
    """Writes the rows as CSV with a header line; numbers keep all their digits."""
    writer = csv.DictWriter(file, fieldnames=COLUMNS, lineterminator="\n", extrasaction="ignore")
    writer.writeheader()
    for row in rows:
        writer.writerow({key: repr(value) if isinstance(value, float) else value
                         for key, value in row.items()})


def _parser():
    parser = argparse.ArgumentParser(
        prog=PROG,
        description="Spectra and best peaks of every light curve file in a directory, on Dask.")
    parser.add_argument("directory", metavar="DIR", help="directory of light curve files")
    parser.add_argument("--from", dest="fmin", type=float, required=True, metavar="F",
                        help="lowest frequency (cycles per unit of time)")
    parser.add_argument("--to", dest="fmax", type=float, required=True, metavar="F",
                        help="highest frequency")
    parser.add_argument("--steps", type=int, required=True, metavar="N",
                        help="number of frequency steps (N + 1 frequencies)")
    parser.add_argument("--window", choices=("hanning", "square"), default="hanning",
                        help="spectral window (default: hanning)")
    parser.add_argument("--errors", action="store_true",
                        help="each line holds time, value and error; points weigh 1/error^2")
    parser.add_argument("--bootstrap", type=int, metavar="B",
                        help="fap and fap2 from B bootstrap resamples (default: Baluev's "
                             "approximation)")
    parser.add_argument("--seed", type=int, default=0, metavar="S",
                        help="seed of the bootstrap's resamples, 0 to 2**64-1 (default: 0)")
    parser.add_argument("--scheduler", metavar="ADDRESS",
                        help="address of an existing Dask scheduler (default: a local cluster)")
    parser.add_argument("--workers", type=int, metavar="N",
                        help="worker processes of the local cluster (default: one per core)")
    parser.add_argument("-o", "--output", required=True, metavar="FILE",
                        help="CSV file to write (- for the standard output)")
    return parser


# Dask's settings for the local cluster, which serves this survey alone and
# has no dashboard: what they leave out costs CPU time in every process of
# the cluster while it runs, and nothing reads it.
LOCAL_CLUSTER_CONFIG = {
    # Workers forked from this process, which has loaded Dask, numpy and the
    # module already, rather than each started afresh (or forked from a
    # server that loads them all again).
    "distributed.worker.multiprocessing-method": "fork",
    # Dask's statistical profiler samples a task's stack a hundred times a
    # second, for the dashboard.
    "distributed.worker.profile.enabled": False,
    # Checks of the event loops' health, fifty times a second in every
    # process by default.
    "distributed.admin.tick.interval": "1s",
    # CPU, memory, network and disk counters, for the dashboard.  (A worker's
    # memory limit is checked on counts of its own.)
    "distributed.admin.system-monitor.interval": "5s",
    "distributed.admin.system-monitor.disk": False,
    # A worker's memory measured, by itself and by its nanny, twice a second
    # rather than ten times.
    "distributed.worker.memory.monitor-interval": "500ms",
    # A survey's tasks wait at the scheduler until a worker is free: nothing
    # to steal, nor replicas to drop.
    "distributed.scheduler.work-stealing": False,
    "distributed.scheduler.active-memory-manager.start": False,
}


def _fork_safely():
    """Makes a worker forked from this process (from one of Dask's threads)
    safe to start: Dask's configuration lock held across the fork, so that
    the child never starts with it taken by another thread, and the child's
    stop signals back to what they were before the survey (a worker that gets
    SIGTERM ends; it does not act for the survey)."""
    import dask.config

    lock = getattr(dask.config, "config_lock", None)

    def before():
        if lock is not None:
            lock.acquire()

    def after_in_parent():
        if lock is not None:
            lock.release()

    def after_in_child():
        after_in_parent()
        _signals_held.act = None
        _signals_held.signum = None
        if _stop_signals is not None:
            _stop_signals.output = None
            for signum, handler in _stop_signals.saved.items():
                signal.signal(signum, handler)

    os.register_at_fork(before=before, after_in_parent=after_in_parent,
                        after_in_child=after_in_child)


_fork_made_safe = False


def _local_cluster(workers):
    """A cluster of this machine's, listening on the loopback interface only and
    without a dashboard.  (The scheduler and the workers serve a few HTTP routes
    all the same, health and metrics: on free loopback ports, not 8787.)"""
    global _fork_made_safe
    import multiprocessing

    import dask
    from distributed import LocalCluster, Nanny

    class LoopbackNanny(Nanny):
        def __init__(self, *args, **kwargs):
            kwargs["dashboard_address"] = "127.0.0.1:0"
            super().__init__(*args, **kwargs)

    # The worker processes read their logging level when they start.
    os.environ.setdefault("DASK_LOGGING__DISTRIBUTED", "critical")
    settings = dict(LOCAL_CLUSTER_CONFIG)
    forked = "fork" in multiprocessing.get_all_start_methods()
    if not forked:
        del settings["distributed.worker.multiprocessing-method"]  # Dask's default
    else:
        if not _fork_made_safe:
            _fork_safely()
            _fork_made_safe = True
        # The client and every worker report to the scheduler the versions of
        # the packages Dask names, importing those not loaded yet: pandas, for
        # one, which takes a worker a fifth of a second of CPU time and which
        # nothing here uses.  The processes of this cluster being forks of
        # this one, they run the same packages: the versions of those loaded
        # are reported, taken once here, before the workers are forked.
        with contextlib.suppress(Exception):
            from distributed import versions
            versions.optional_packages = [package for package in versions.optional_packages
                                          if package[0] in sys.modules]
            versions.get_versions()
    dask.config.set(settings)
    preload = list(dask.config.get("distributed.worker.preload", None) or []) + ["fasogram.survey"]
    # The processes started meanwhile (the workers, those the nannies restart
    # later from the threads started now, and multiprocessing's resource
    # tracker where the workers are not forked) inherit the blocked signals.
    # One that comes meanwhile acts when they are unblocked here.
    held = signal.pthread_sigmask(signal.SIG_BLOCK, TERMINAL_SIGNALS)
    cluster = None
    try:
        if not forked:
            from multiprocessing import resource_tracker
            # Started with the signals blocked, it unblocks SIGINT and SIGTERM
            # in this thread when it has started (and leaves them alone later on).
            resource_tracker.ensure_running()
            signal.pthread_sigmask(signal.SIG_BLOCK, TERMINAL_SIGNALS)
        cluster = LocalCluster(n_workers=workers, threads_per_worker=1, processes=True,
                               host="127.0.0.1", dashboard_address=None,
                               worker_class=LoopbackNanny,
                               scheduler_kwargs={"dashboard_address": "127.0.0.1:0"},
                               silence_logs=logging.CRITICAL, preload=preload)
    finally:
        try:
            signal.pthread_sigmask(signal.SIG_SETMASK, held)
        except BaseException:
            if cluster is not None:
                with contextlib.suppress(Exception):
                    cluster.close(timeout=20)
            raise
    return cluster


def _cpu_count():
    try:
        return len(os.sched_getaffinity(0))
    except (AttributeError, OSError):
        return os.cpu_count() or 1


def _survey_on_dask(args, paths):
    try:
        from distributed import Client
    except ImportError as error:
        raise SurveyError(f"the survey needs Dask's distributed package: {error}") from None
    # Dask's own messages (workers lost and restarted, connections closed at
    # shutdown) would drown the notes; the rows and the exit status tell.
    logging.getLogger("distributed").setLevel(logging.CRITICAL)
    # Some of its errors are logged under the name of the module they pass
    # through (asyncio's, when a worker's restart is cancelled at shutdown),
    # which Python's last-resort handler would print: the command's own
    # logging goes nowhere.
    logging.getLogger().addHandler(logging.NullHandler())

    cluster = client = None
    try:
        if args.scheduler:
            try:
                client = Client(args.scheduler, timeout="30s")
            except (OSError, TimeoutError, ValueError) as error:
                raise SurveyError(f"cannot reach the Dask scheduler at {args.scheduler}: "
                                  f"{error}") from None
        else:
            cluster = _local_cluster(args.workers or _cpu_count())
            client = Client(cluster)
        workers = len(client.scheduler_info().get("workers", {}))
        note(f"{len(paths)} light curves, {workers} workers at {client.scheduler.address}")
        return run_survey(client, paths, args.fmin, args.fmax, args.steps, args.window,
                          Progress(len(paths)), errors=args.errors,
                          bootstrap=args.bootstrap or 0, seed=args.seed)
    finally:
        if client is not None:
            with contextlib.suppress(Exception):
                client.close(timeout=10)
        if cluster is not None:
            with contextlib.suppress(Exception):
                cluster.close(timeout=20)


def _check(parser, args):
    if not (math.isfinite(args.fmin) and math.isfinite(args.fmax)):
        parser.error("--from and --to must be finite numbers")
    if not args.fmax > args.fmin:
        parser.error(f"--to ({args.fmax!r}) must be greater than --from ({args.fmin!r})")
    if args.steps < 1:
        parser.error(f"--steps must be 1 or more, got {args.steps}")
    if args.bootstrap is not None and args.bootstrap < 1:
        parser.error(f"--bootstrap must be 1 or more, got {args.bootstrap}")
    if not 0 <= args.seed < 2 ** 64:
        parser.error(f"--seed must lie from 0 to 2**64-1, got {args.seed}")
    if args.workers is not None and args.workers < 1:
        parser.error(f"--workers must be 1 or more, got {args.workers}")
    if args.workers is not None and args.scheduler:
        parser.error("--workers applies to the local cluster only, not with --scheduler")


def _same_file(path, info):
    try:
        other = os.stat(path)
    except OSError:
        return False
    return (other.st_dev, other.st_ino) == (info.st_dev, info.st_ino)


def main(argv=None):
    parser = _parser()
    args = parser.parse_args(argv)
    _check(parser, args)
    output = Output(args.output)
    with StopSignals() as stop:
        try:
            try:
                paths = light_curve_files(args.directory)
                stop.output = output
                output.open()
                if output.path is not None:
                    # The results file (of an earlier run) is no light curve.
                    paths = [p for p in paths
                             if os.path.abspath(p) != os.path.abspath(output.path)]
                    with contextlib.suppress(OSError):
                        earlier = os.stat(output.path)
                        paths = [p for p in paths if not _same_file(p, earlier)]
                if not paths:
                    raise SurveyError(f"no light curve files in {args.directory}")
                rows = _survey_on_dask(args, [os.path.abspath(p) for p in paths])
                for row in rows:
                    if row.get("note"):
                        note(row["note"])
                text = io.StringIO()
                write_rows(rows, text)
                output.commit(text.getvalue())
            finally:
                output.discard()
        except Interrupted as interruption:
            name = signal.Signals(interruption.signum).name
            if output.committed:
                note(f"stopped by {name}, after writing {args.output}")
            else:
                note(f"stopped by {name}; {args.output} left as it was")
            return 128 + interruption.signum
        except SurveyError as error:
            note(f"error: {error}")
            return 1
        except Exception as error:  # whatever else: one line, not a traceback
            note(f"error: {type(error).__name__}: {error}")
            return 1
    failed = sum(1 for row in rows if row["error"])
    if failed:
        note(f"{failed} of {len(rows)} light curves failed")
        return 1
    note(f"{len(rows)} light curves, none failed: {args.output}")
    return 0


def command(argv=None):
    """The command fasogram-survey: main's exit status, and the process ends
    at once.  On its way out the interpreter would run Dask's exit handlers
    (for a client and a cluster closed already) and take apart every module
    loaded: a tenth of a second of CPU time that changes nothing, the results
    and the notes being written and the cluster closed by then."""
    status = main(argv)
    for stream in (sys.stdout, sys.stderr):
        with contextlib.suppress(Exception):
            stream.flush()
    os._exit(status)


if __name__ == "__main__":
    command()
