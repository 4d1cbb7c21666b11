"""The module's conventions: spectra at frequencies of one's own, the result
as a sequence of points, the power alias, booleans refused, and the examples
of the docstrings run as doctests."""
import doctest
import re

import numpy as np
import pytest

import fasogram


@pytest.fixture(scope="module")
def series():
    rng = np.random.default_rng(7)
    t = np.sort(rng.uniform(0.0, 60.0, 300))
    y = 3.0 + 0.8 * np.cos(2 * np.pi * 0.41 * t + 0.3) + rng.normal(0.0, 0.2, t.size)
    return t, y


class TestGivenFrequencies:
    def test_match_the_grid_in_the_given_order(self, series):
        t, y = series
        grid = fasogram.spectrum(t, y, 0.1, 1.0, 120, window="square")
        order = np.random.default_rng(3).permutation(len(grid))
        given = fasogram.spectrum(t, y, frequency=grid.frequency[order], window="square")
        assert len(given) == len(grid)
        np.testing.assert_array_equal(given.frequency, grid.frequency[order])
        for name in ("rho", "c1", "c2", "c3"):
            np.testing.assert_allclose(getattr(given, name), getattr(grid, name)[order],
                                       rtol=1e-12, atol=1e-14)
        assert given.grid is None

    def test_repeats_lists_scalars_and_errors(self, series):
        t, y = series
        one = fasogram.spectrum(t, y, frequency=0.41, dy=0.2)
        assert len(one) == 1 and one.has_errors
        rep = fasogram.spectrum(t, y, frequency=[0.41, 0.2, 0.41], dy=0.2)
        assert rep.rho[0] == rep.rho[2] == one.rho[0]
        assert rep.rho[0] > 0.8 > rep.rho[1]

    def test_peaks_follow_increasing_frequency_whatever_the_order(self, series):
        t, y = series
        f = np.linspace(0.3, 0.5, 401)
        shuffled = fasogram.spectrum(t, y, frequency=f[::-1])
        best = shuffled.peaks(1)[0]
        assert best.frequency == pytest.approx(0.41, abs=0.005)
        assert best.period == pytest.approx(1 / best.frequency)

    @pytest.mark.parametrize("bad, message", [
        ([0.1, np.nan], "frequency"), ([[0.1, 0.2]], "one-dimensional"),
        (["a"], "frequency"), ([True, False], "boolean"), ([1e300], "beyond the phases")])
    def test_bad_frequencies(self, series, bad, message):
        t, y = series
        with pytest.raises(ValueError, match=message):
            fasogram.spectrum(t, y, frequency=bad)

    def test_frequency_excludes_a_grid(self, series):
        t, y = series
        for extra in ({"fmin": 0.1}, {"fmax": 1.0}, {"steps": 60}, {"harmonics": 2}):
            with pytest.raises(ValueError):
                fasogram.spectrum(t, y, frequency=[0.2], **extra)


class TestResultAsSequence:
    def test_len_index_and_namedtuple(self, series):
        t, y = series
        r = fasogram.spectrum(t, y, 0.1, 1.0, 60)
        assert len(r) == r.frequency.size == 61
        p = r[5]
        assert isinstance(p, fasogram.Point)
        assert p._fields == ("frequency", "rho", "c1", "c2", "c3")
        assert p == (r.frequency[5], r.rho[5], r.c1[5], r.c2[5], r.c3[5])
        assert r[-1].frequency == r.frequency[-1] == r[60].frequency
        assert r[np.int64(2)].rho == r.rho[2]
        for i in (61, -62):
            with pytest.raises(IndexError):
                r[i]
        for i in (True, 1.0, "1", slice(0, 2)):
            with pytest.raises(TypeError):
                r[i]

    def test_arrays_for_numpy(self, series):
        t, y = series
        r = fasogram.spectrum(t, y, 0.1, 1.0, 60)
        table = np.asarray(r)
        assert table.shape == (61, 5) and table.dtype == np.float64
        np.testing.assert_array_equal(table[:, 1], r.rho)
        np.testing.assert_array_equal(table[7], tuple(r[7]))
        assert np.asarray(r, dtype=np.float32).dtype == np.float32
        for name in ("frequency", "rho", "power", "c1", "c2", "c3"):
            a = np.asarray(getattr(r, name))
            assert a.dtype == np.float64 and a.shape == (61,) and a.flags.c_contiguous
        # The five arrays still unpack in order.
        f, rho, c1, c2, c3 = r
        assert f is r.frequency and rho is r.rho

    def test_power_is_rho(self, series):
        t, y = series
        r = fasogram.spectrum(t, y, frequency=[0.41, 0.2])
        assert r.power is r.rho


class TestBooleansRefused:
    @pytest.mark.parametrize("kwargs", [
        {"fmin": 0.1, "fmax": 1.0, "steps": True}, {"fmin": False, "fmax": 1.0, "steps": 60},
        {"fmin": 0.1, "fmax": True, "steps": 60}, {"oversample": True}, {"dy": True},
        {"threads": True}, {"harmonics": True, "fmin": 0.1, "fmax": 1.0, "steps": 60},
        {"detrend": False}, {"fmin": 0.1, "fmax": 1.0, "steps": np.True_}])
    def test_keywords(self, series, kwargs):
        t, y = series
        with pytest.raises(ValueError):
            fasogram.spectrum(t, y, **kwargs)

    def test_series_and_peaks(self, series):
        t, y = series
        with pytest.raises(ValueError, match="boolean"):
            fasogram.spectrum(t, [True, False] * 150, 0.1, 1.0, 60)
        with pytest.raises(ValueError, match="boolean"):
            fasogram.spectrum(np.ones(4, dtype=bool), y[:4], 0.1, 1.0, 60)
        r = fasogram.spectrum(t, y, 0.1, 1.0, 60)
        with pytest.raises(ValueError):
            r.peaks(True)
        # Whole numbers of other types still count.
        assert len(fasogram.spectrum(t, y, 0.1, 1.0, np.int32(60))) == 61
        assert len(fasogram.spectrum(t, y, 0.1, 1.0, 60.0)) == 61


def test_docstrings_have_numpydoc_sections():
    def sections(doc):
        return set(re.findall(r"\n\s*(\w+)\n\s*-+\n", doc))
    assert {"Parameters", "Returns", "Raises", "Examples"} <= sections(fasogram.spectrum.__doc__)
    assert {"Parameters", "Returns", "Raises", "Examples"} <= sections(
        fasogram.Spectrum.peaks.__doc__)
    assert {"Attributes", "Examples"} <= sections(fasogram.Spectrum.__doc__)


def test_doctests_pass():
    finder = doctest.DocTestFinder()
    runner = doctest.DocTestRunner(optionflags=doctest.ELLIPSIS | doctest.NORMALIZE_WHITESPACE)
    tests = [d for d in finder.find(fasogram, "fasogram") if d.examples]
    names = {d.name for d in tests}
    assert {"fasogram.spectrum", "fasogram.Spectrum", "fasogram.Spectrum.peaks"} <= names
    for test in tests:
        runner.run(test)
    result = runner.summarize(verbose=False)
    assert result.failed == 0
    assert result.attempted >= 15
