"""fasogram.spectrum gives the same bits on any number of threads, on every
path the engine takes: the direct sums on small grids, the transforms on
large ones, the careful evaluation near the aliases of daily sampling."""

import numpy as np
import pytest

import fasogram


def survey_series(n, seed):
    rng = np.random.default_rng(seed)
    nights = np.arange(1500)
    nights = nights[np.fmod(nights, 365.25) / 365.25 < 0.68]
    t = np.sort(2455000.0 + rng.choice(nights, n) + rng.uniform(0.0, 0.2, n))
    y = 12.0 + 0.3 * np.cos(2 * np.pi * t / 2.7) + rng.normal(0.0, 0.1, n)
    return t, y


def same_bits(a, b):
    return all(x.tobytes() == z.tobytes() for x, z in zip(a, b))


@pytest.mark.parametrize("window", ["hanning", "square"])
@pytest.mark.parametrize("points,steps", [(800, 3000), (3000, 300000)])
def test_spectrum_bits_do_not_depend_on_threads(window, points, steps):
    t, y = survey_series(points, seed=points)
    one = fasogram.spectrum(t, y, 0.0, 6.0, steps, window=window, threads=1)
    assert len(one.frequency) == steps  # f = 0 left out
    for threads in (2, 3, 7):
        other = fasogram.spectrum(t, y, 0.0, 6.0, steps, window=window, threads=threads)
        assert same_bits(one, other), f"{threads} threads"


def test_near_singular_fits_do_not_depend_on_threads():
    # Nightly at the same hour: near 1 cycle a day the fits are nearly
    # singular and are evaluated the careful way.
    rng = np.random.default_rng(2)
    t = 2455000.3 + np.arange(400) + rng.uniform(-1e-6, 1e-6, 400)
    y = 12.0 + 0.2 * np.sin(0.21 * np.arange(400)) + rng.normal(0.0, 0.1, 400)
    one = fasogram.spectrum(t, y, 0.999, 1.001, 20000, window="hanning", threads=1)
    two = fasogram.spectrum(t, y, 0.999, 1.001, 20000, window="hanning", threads=2)
    assert same_bits(one, two)
    assert np.array([tuple(p) for p in one.peaks(3)]).tobytes() == \
        np.array([tuple(p) for p in two.peaks(3)]).tobytes()


def test_a_forked_child_runs_on_threads_of_its_own():
    # The parent's pool has threads running; the child has none of them and
    # must neither wait for them nor share their work.
    import os
    import signal

    t, y = survey_series(3000, seed=5)
    parent = fasogram.spectrum(t, y, 0.0, 6.0, 300000, window="square", threads=2)
    pid = os.fork()
    if pid == 0:
        code = 1
        try:
            signal.alarm(120)  # a child stuck on a lost thread fails the test
            child = fasogram.spectrum(t, y, 0.0, 6.0, 300000, window="square", threads=2)
            small = fasogram.spectrum(t, y, 0.1, 0.5, 3000, threads=3)
            code = 0 if same_bits(parent, child) and len(small.frequency) == 3001 else 2
        finally:
            os._exit(code)
    _, status = os.waitpid(pid, 0)
    assert os.WIFEXITED(status) and os.WEXITSTATUS(status) == 0, status
    again = fasogram.spectrum(t, y, 0.0, 6.0, 300000, window="square", threads=2)
    assert same_bits(parent, again)
