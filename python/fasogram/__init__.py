"""Spectra of unevenly sampled time series.

At each trial frequency f the series is fitted with

    y = c1 + c2 cos(2 pi f t) + c3 sin(2 pi f t)

by weighted least squares; the spectral correlation coefficient rho is the
share of the weighted variance of y that the fitted sinusoid explains
(0 to 1).  Frequencies are in cycles per unit of time of t.

>>> import numpy as np, fasogram
>>> t = np.sort(np.random.default_rng(1).uniform(0, 100, 400))
>>> y = 12.5 + 0.3 * np.cos(2 * np.pi * t / 2.7)
>>> result = fasogram.spectrum(t, y, 0.01, 1.0, 5000)
>>> best = result.peaks(1)[0]
>>> round(best.period, 3)
2.7

With measurement errors and the grid chosen from the sampling:

>>> dy = np.full(t.size, 0.05)
>>> round(fasogram.spectrum(t, y, dy=dy).peaks(1)[0].period, 3)
2.7

The same engine computes the table of the command line program `fasogram`;
for a whole directory of light curves see `python3 -m fasogram.survey`.
"""

import math
import numbers
import os
import operator
import warnings
from collections import namedtuple

import numpy as np

from . import _fasogram

LightCurveError = _fasogram.LightCurveError

__all__ = ["spectrum", "spectra", "read_series", "LightCurveError", "SeriesData", "Spectrum",
           "Peak", "BootstrapFap", "Point", "Grid", "UndersampledGridWarning",
           "fit", "prewhiten", "trend", "spectral_window", "FitResult", "FitTerm", "Trend"]

Peak = namedtuple("Peak", "frequency period rho amplitude phase fap", defaults=(None,))
Peak.__doc__ = """A peak of a spectrum, refined to its maximum between the grid neighbours.

frequency  where rho is highest (cycles per unit of time)
period     1/|frequency|
rho        the spectral correlation coefficient there
amplitude  sqrt(c2**2 + c3**2)
phase      in cycles, 0 <= phase < 1: the fit is c1 + amplitude*cos(2 pi (f t - phase))
fap        the false-alarm probability of a highest peak this high over the grid's
           band (Baluev's approximation; see Spectrum.false_alarm_probability),
           None for a series of 4 points or fewer
"""

Point = namedtuple("Point", "frequency rho c1 c2 c3")
Point.__doc__ = """The values of a spectrum at one frequency, as `Spectrum` indexing gives them.

frequency  the trial frequency (cycles per unit of time)
rho        the spectral correlation coefficient (also `Spectrum.power`)
c1, c2, c3 the fitted y = c1 + c2 cos(2 pi f t) + c3 sin(2 pi f t)
"""

Grid = namedtuple("Grid", "fmin fmax steps")
Grid.__doc__ = """The frequency grid of a spectrum: steps + 1 frequencies from fmin to fmax."""


class UndersampledGridWarning(UserWarning):
    """The grid's frequencies lie more than half a line width apart: a peak can fall
    between two of them and be missed or shown far too low."""


class Spectrum:
    """The spectrum of a series, as returned by `spectrum`.

    Attributes
    ----------
    frequency : numpy.ndarray
        The trial frequencies (float64, one entry per frequency).
    rho : numpy.ndarray
        The spectral correlation coefficient at each frequency: the share of
        the weighted variance of y that the fitted sinusoid explains.
    power : numpy.ndarray
        The same array as `rho`, under the name other period-search tools
        give it.
    c1, c2, c3 : numpy.ndarray
        The fitted y = c1 + c2 cos(2 pi f t) + c3 sin(2 pi f t).
    window : str
        "hanning" or "square".
    line_width : float
        2/D for the Hanning window, 1/D for the square one, D the time span.
    mean, variance : float
        Weighted, of y.
    grid : Grid or None
        The limits and steps computed (those chosen from the sampling
        included); None for frequencies given one by one.
    has_errors : bool
        Whether the points were weighted by dy.

    Notes
    -----
    Each of rho, c1, c2 and c3, rounded to eight significant digits, is the
    exact fit's value correctly rounded (ties to even), as the program's
    table prints it: the engine proves those digits from its error bound
    and computes again at higher precision where it cannot.  The doubles
    promise no more: past the eighth digit they can differ from the exact
    value (by many units of the last place where the fit is nearly
    singular); they do not depend on the number of threads, to the last
    bit.  The program's CSV table (``-o
    file.csv``) has all 17 digits correctly rounded.  Coefficients below
    the normal range of doubles (under 2.2e-308, from series of tiny
    values) are the nearest subnormal doubles, which hold fewer digits, and
    those beyond the largest double are infinite: the program's tables print
    their exact digits.

    At a frequency where the fit is singular every value but the frequency
    is NaN.  The result unpacks as the tuple of the five arrays
    (frequency, rho, c1, c2, c3); ``len(result)`` is the number of
    frequencies, ``result[i]`` the `Point` of the i-th one, and
    ``numpy.asarray(result)`` the table of those points, one row each.

    Examples
    --------
    >>> import numpy as np, fasogram
    >>> t = np.arange(200) * 0.37
    >>> y = np.sin(2 * np.pi * 0.25 * t)
    >>> result = fasogram.spectrum(t, y, frequency=[0.25, 0.1])
    >>> len(result)
    2
    >>> point = result[0]
    >>> float(point.frequency), round(float(point.rho), 6)
    (0.25, 1.0)
    >>> np.asarray(result).shape
    (2, 5)
    >>> result.power is result.rho
    True
    >>> f, rho, c1, c2, c3 = result
    """

    __slots__ = ("frequency", "rho", "c1", "c2", "c3", "_result", "_bootstraps")

    def __init__(self, result):
        self._result = result
        self._bootstraps = {}
        self.frequency, self.rho, self.c1, self.c2, self.c3 = result.arrays

    def __iter__(self):
        return iter((self.frequency, self.rho, self.c1, self.c2, self.c3))

    def __len__(self):
        return len(self.frequency)

    def __getitem__(self, index):
        if isinstance(index, (bool, np.bool_)):
            raise TypeError("a spectrum is indexed by a whole number, not a boolean")
        try:
            i = operator.index(index)
        except TypeError:
            raise TypeError(f"a spectrum is indexed by a whole number, got {index!r}") from None
        n = len(self.frequency)
        if not -n <= i < n:
            raise IndexError(f"frequency index {i} out of range for {n} frequencies")
        return Point(float(self.frequency[i]), float(self.rho[i]), float(self.c1[i]),
                     float(self.c2[i]), float(self.c3[i]))

    def __array__(self, dtype=None, copy=None):
        table = np.column_stack((self.frequency, self.rho, self.c1, self.c2, self.c3))
        return table if dtype is None else table.astype(dtype)

    @property
    def power(self):
        return self.rho

    @property
    def window(self):
        return self._result.window

    @property
    def line_width(self):
        return self._result.line_width

    @property
    def mean(self):
        return self._result.mean

    @property
    def variance(self):
        return self._result.variance

    @property
    def grid(self):
        grid = self._result.grid
        return None if grid is None else Grid(*grid)

    @property
    def has_errors(self):
        return self._result.has_errors

    def peaks(self, k=1):
        """The k highest peaks, highest rho first.

        A peak is a frequency whose rho is above that of its lower neighbour
        and not below its upper one (neighbours in increasing frequency,
        whatever the order the frequencies were given in); it is refined by
        fitting between the two neighbours to where rho is highest.

        Parameters
        ----------
        k : int
            How many peaks, 0 or more.

        Returns
        -------
        list of Peak
            Fewer than k when the spectrum has fewer peaks.

        Raises
        ------
        ValueError
            When k is not a whole number of 0 or more (booleans included).

        Examples
        --------
        >>> import numpy as np, fasogram
        >>> t = np.arange(200) * 0.37
        >>> y = np.sin(2 * np.pi * 0.25 * t)
        >>> best = fasogram.spectrum(t, y, 0.0, 1.0, 1000).peaks(1)[0]
        >>> round(best.period, 6)
        4.0
        """
        k = _whole_number(k, "k")
        return [Peak(*p, fap=self._peak_fap(p[2])) for p in self._result.peaks(k)]

    def _peak_fap(self, rho):
        # None where the approximation has nothing to go on (4 points or
        # fewer, times too large for their spread to be finite).
        # A harmonic model has none either: the approximation is for one sinusoid.
        try:
            return self._result.false_alarm_probability(rho)
        except (ValueError, AttributeError):
            return None

    def false_alarm_probability(self, rho, method="baluev", n=1000, seed=0):
        """The probability that a series without signal gives a highest peak of at least rho.

        The band searched is the grid's.  Neither method gives the
        probability that the signal is real.

        Parameters
        ----------
        rho : float or array_like
            The peak height(s).
        method : {"baluev", "bootstrap"}
            "baluev": Baluev's (2008) approximation for white Gaussian noise
            with the given errors sampled at these times, an upper bound that
            is close at small probabilities.  "bootstrap": the share of `n`
            resamples of the series (the values drawn with their errors, with
            replacement, and put at the same times) whose highest rho over
            the grid is at least rho; the null hypothesis is that the values
            carry no periodic signal and are exchangeable across the times.
        n : int
            Resamples of the bootstrap, 1 or more (ignored by "baluev").
        seed : int
            The seed of the bootstrap's resamples, 0 to 2**64 - 1: the same
            seed gives the same resamples on every machine and whatever the
            number of threads.  The resamples of one (n, seed) are drawn once
            per spectrum and kept.

        Returns
        -------
        float, BootstrapFap or numpy.ndarray
            "baluev": a float (an array for an array).  "bootstrap": for one
            rho a `BootstrapFap`, a float (k/n, k the resamples that reach
            rho) that also carries its binomial standard error, or, when no
            resample reaches rho, 1/n marked as an upper bound; for an array
            the floats alone.

        Raises
        ------
        ValueError
            For an unknown method, n below 1, a seed out of range, rho NaN,
            or a spectrum of frequencies given one by one (no band).

        Examples
        --------
        >>> import numpy as np, fasogram
        >>> rng = np.random.default_rng(4)
        >>> t = np.sort(rng.uniform(0, 50, 200))
        >>> y = np.sin(2 * np.pi * t / 3.1) + rng.normal(0, 1, t.size)
        >>> result = fasogram.spectrum(t, y, 0.02, 2.0, 2000)
        >>> best = result.peaks(1)[0]
        >>> fap = result.false_alarm_probability(best.rho, method="bootstrap", n=200)
        >>> fap.upper_bound, float(fap)
        (True, 0.005)
        >>> fap
        BootstrapFap(<0.005)
        >>> low = result.false_alarm_probability(0.02, method="bootstrap", n=200)
        >>> low.upper_bound, float(low), low.error
        (False, 1.0, 0.0)
        """
        if _fap_method(method) == "baluev":
            return _elementwise(self._result.false_alarm_probability, rho)
        boot = self._bootstrap(n, seed)
        arr = np.asarray(rho, dtype=float)
        if arr.ndim == 0:
            return BootstrapFap(*boot.probability(float(arr)))
        return np.vectorize(lambda r: boot.probability(r)[0], otypes=[float])(arr)

    def false_alarm_level(self, p, method="baluev", n=1000, seed=0):
        """The rho whose false-alarm probability is p (0 < p < 1).

        Parameters
        ----------
        p : float or array_like
            The probability, 0 < p < 1.
        method, n, seed
            As for `false_alarm_probability`.  The bootstrap's level is the
            k-th highest of the resamples' highest rho, k = floor(p n), whose
            probability is k/n (at most p); it needs n >= 1/p.

        Returns
        -------
        float or numpy.ndarray

        Raises
        ------
        ValueError
            For p outside (0, 1), p n below 1, or as `false_alarm_probability`.

        Examples
        --------
        >>> import numpy as np, fasogram
        >>> rng = np.random.default_rng(5)
        >>> t = np.sort(rng.uniform(0, 50, 200))
        >>> result = fasogram.spectrum(t, rng.normal(0, 1, t.size), 0.02, 2.0, 2000)
        >>> level = result.false_alarm_level(0.1, method="bootstrap", n=100)
        >>> float(result.false_alarm_probability(level, method="bootstrap", n=100))
        0.1
        """
        if _fap_method(method) == "baluev":
            return _elementwise(self._result.false_alarm_level, p)
        return _elementwise(self._bootstrap(n, seed).level, p)

    def _bootstrap(self, n, seed):
        n = _whole_number(n, "n")
        if n < 1:
            raise ValueError(f"n must be 1 or more, got {n}")
        seed = _whole_number(seed, "seed")
        if not 0 <= seed < 2 ** 64:
            raise ValueError(f"seed must lie from 0 to 2**64 - 1, got {seed}")
        key = (n, seed)
        if key not in self._bootstraps:
            if not hasattr(self._result, "bootstrap"):
                raise ValueError("the bootstrap is for the spectrum of one sinusoid, not of a "
                                 "harmonic model")
            self._bootstraps[key] = self._result.bootstrap(n, seed)
        return self._bootstraps[key]

    def __repr__(self):
        n = len(self.frequency)
        if n == 0:
            return f"<fasogram.Spectrum: no frequencies, {self.window} window>"
        return (f"<fasogram.Spectrum: {n} frequencies from {self.frequency[0]!r} "
                f"to {self.frequency[-1]!r}, {self.window} window>")


def _fap_method(method):
    if method not in ("baluev", "bootstrap"):
        raise ValueError(f"method must be 'baluev' or 'bootstrap', got {method!r}")
    return method


class BootstrapFap(float):
    """A false-alarm probability from the bootstrap: the float is the probability.

    Attributes
    ----------
    error : float
        The binomial standard error sqrt(p (1 - p) / n); 0.0 for a bound.
    upper_bound : bool
        No resample reached the height: the probability is below the value,
        which is then 1/n.
    exceeding : int
        The resamples whose highest rho is at least the height (k).
    resamples : int
        n.
    """

    __slots__ = ("error", "upper_bound", "exceeding", "resamples")

    def __new__(cls, probability, error, upper_bound, exceeding, resamples):
        self = super().__new__(cls, probability)
        self.error = error
        self.upper_bound = bool(upper_bound)
        self.exceeding = int(exceeding)
        self.resamples = int(resamples)
        return self

    def __repr__(self):
        if self.upper_bound:
            return f"BootstrapFap(<{float(self)!r})"
        return f"BootstrapFap({float(self)!r} +- {self.error:.2g})"

    def __reduce__(self):
        return (BootstrapFap, (float(self), self.error, self.upper_bound, self.exceeding,
                               self.resamples))


def _elementwise(func, value):
    arr = np.asarray(value, dtype=float)
    if arr.ndim == 0:
        return func(float(arr))
    return np.vectorize(func, otypes=[float])(arr)


def _whole_number(value, name):
    if isinstance(value, (bool, np.bool_)):
        raise ValueError(f"{name} must be a whole number, got {value!r}")
    if isinstance(value, numbers.Integral):
        return int(value)
    if isinstance(value, numbers.Real) and math.isfinite(value) and float(value).is_integer():
        return int(value)
    raise ValueError(f"{name} must be a whole number, got {value!r}")


def _real_number(value, name):
    if isinstance(value, (bool, np.bool_)):
        raise ValueError(f"{name} must be a number, got {value!r}")
    try:
        return float(value)
    except (TypeError, ValueError):
        raise ValueError(f"{name} must be a number, got {value!r}") from None


def _series(values, name):
    """Any array-like of real numbers as one contiguous float64 array (converted at most once)."""
    try:
        if np.iscomplexobj(values):
            raise ValueError("complex numbers")
        if isinstance(values, (bool, np.bool_)) or (
                isinstance(values, np.ndarray) and values.dtype == np.bool_) or (
                isinstance(values, (list, tuple)) and any(
                    isinstance(v, (bool, np.bool_)) for v in values)):
            raise ValueError("booleans are not numbers")
        array = np.ascontiguousarray(values, dtype=np.float64)
    except (TypeError, ValueError) as error:
        raise ValueError(f"{name} must be a sequence of real numbers ({error})") from None
    if array.ndim != 1:
        raise ValueError(f"{name} must be one-dimensional, got shape {array.shape}")
    return array


def _errors(dy, n):
    """dy as one float64 array of n errors: a scalar is every point's error."""
    if np.ndim(dy) == 0 and not isinstance(dy, (str, bytes)):
        value = _real_number(dy, "dy")
        if not (math.isfinite(value) and value > 0):
            raise ValueError(f"dy must be a finite number above 0, got {dy!r}")
        return np.full(n, value)
    array = _series(dy, "dy")
    if array.shape[0] != n:
        raise ValueError(f"t and dy differ in length ({n} and {array.shape[0]})")
    return array


def _check_window(window):
    if not isinstance(window, str):
        raise ValueError(f"unknown window {window!r}: use 'hanning' or 'square'")


def _threads(threads):
    """The engine's thread count: 0 (every core) for None."""
    if threads is None:
        return 0
    threads = _whole_number(threads, "threads")
    if threads < 1:
        raise ValueError(f"threads must be 1 or more (or None for every core), got {threads}")
    return threads


def spectrum(t, y, fmin=None, fmax=None, steps=None, window="hanning", threads=None, dy=None,
             oversample=10, harmonics=1, detrend=None, frequency=None):
    """The spectrum of the series (t, y) on a frequency grid or at given frequencies.

    Parameters
    ----------
    t, y : array_like
        Times and values: sequences of real numbers of the same length
        (lists, numpy arrays of any float type, strided views), at least 2
        points, all finite; the order of the points does not matter.
    fmin, fmax : float, optional
        The frequency range, fmax > fmin, in cycles per unit of time.
    steps : int, optional
        The number of steps: the spectrum is computed at the steps + 1
        frequencies fmin + j*(fmax - fmin)/steps, j = 0 .. steps, except
        those closer to zero than a hundredth of the line width (left out).
        fmin, fmax and steps may each be left out: the step is then
        line_width/oversample, fmin one such step, and fmax the highest
        fmin + k*step not above 1/(2 s), s the median spacing of the
        distinct times, at most 1000000 steps above fmin.  A grid whose
        frequencies lie more than half a line width apart warns
        (UndersampledGridWarning) with the number of steps that would
        sample every peak.
    window : {"hanning", "square"}
        The Hanning taper over the time span D (line width 2/D) or equal
        weights (1/D).
    threads : int, optional
        How many threads compute the spectrum; None uses every core, except
        for a spectrum of a few milliseconds' work or less, which is
        computed on the calling thread alone (waking the other threads
        would cost more CPU time than they save).  The results do not
        depend on it, to the last bit of every double.  The GIL is released
        meanwhile.
    dy : array_like or float, optional
        The measurement error of each value (or one number for all), finite
        and above 0: each point then weighs its window weight divided by
        dy**2.  With the square window rho is the standard generalised
        periodogram power of (t, y, dy).
    oversample : float
        Grid points per line width where the steps are chosen.
    harmonics : int
        H: the model of each frequency has H harmonics (f, 2f, ... Hf) and
        rho is the share of the weighted variance they explain; c1 is the
        constant and c2, c3 the fundamental's coefficients.
    detrend : int, optional
        A degree D: the weighted least-squares polynomial of degree D in
        time is removed from y first (see `trend`).
    frequency : array_like, optional
        The frequencies to fit, one-dimensional, finite, in any order
        (repeats allowed), instead of a grid: the result keeps their order
        and its grid is None.  It excludes fmin, fmax, steps and harmonics
        above 1.

    Returns
    -------
    Spectrum
        The numpy arrays frequency, rho (also power), c1, c2, c3, which
        unpack as a tuple in that order, and the method peaks(k).  The values
        are those of the program's table fasogram.dat for the same series and
        answers.

    Raises
    ------
    ValueError
        For input that has no spectrum: lengths that differ, fewer than 2
        points, times, values, errors or frequencies that are not finite, an
        error not above 0 (each naming the first bad index), all times
        equal, values that do not vary under the window, fmax <= fmin,
        steps < 1, oversample not above 0, an unknown window, a boolean where
        a number is expected, frequency together with a grid.

    Examples
    --------
    >>> import numpy as np, fasogram
    >>> t = np.arange(200) * 0.37
    >>> y = np.sin(2 * np.pi * 0.25 * t)
    >>> f, rho, c1, c2, c3 = fasogram.spectrum(t, y, 0.0, 1.0, 1000, window="square")
    >>> float(f[rho.argmax()])
    0.25

    At frequencies of one's own, in their order:

    >>> result = fasogram.spectrum(t, y, frequency=[0.3, 0.25, 0.2])
    >>> [round(float(r), 3) for r in result.power]
    [0.0, 1.0, 0.0]
    >>> result.grid is None
    True
    """
    if frequency is not None:
        if fmin is not None or fmax is not None or steps is not None:
            raise ValueError("frequency excludes fmin, fmax and steps")
        if np.asarray(frequency).dtype == np.bool_:
            raise ValueError("frequency must be a sequence of real numbers, got booleans")
        if _harmonics(harmonics) != 1:
            raise ValueError("frequency works with harmonics=1 only")
        frequency = _series(np.atleast_1d(frequency), "frequency")
    t = _series(t, "t")
    y = _series(y, "y")
    if dy is not None:
        dy = _errors(dy, t.shape[0])
    fmin = None if fmin is None else _real_number(fmin, "fmin")
    fmax = None if fmax is None else _real_number(fmax, "fmax")
    steps = None if steps is None else _whole_number(steps, "steps")
    oversample = _real_number(oversample, "oversample")
    _check_window(window)
    threads = _threads(threads)
    if steps is not None and steps >= 2**63:
        raise ValueError(f"steps is too large: {steps}")
    if detrend is not None:
        y = y - trend(t, y, _whole_number(detrend, "detrend"), dy=dy, window=window)(t)
    if isinstance(harmonics, (bool, np.bool_)) or harmonics != 1:
        harmonics = _harmonics(harmonics)
        if harmonics > 1:
            if fmin is None or fmax is None or steps is None:
                raise ValueError("harmonics above 1 need fmin, fmax and steps")
            return Spectrum(_fasogram.harmonic_spectrum(t, y, dy, fmin, fmax, steps, window,
                                                        harmonics, threads))
    if frequency is not None:
        return Spectrum(_fasogram.compute_at(t, y, dy, frequency, window, threads))
    result = Spectrum(_fasogram.compute(t, y, dy, fmin, fmax, steps, window, threads, oversample))
    needed = result._result.resolving_steps
    if needed is not None:
        grid = result.grid
        remedy = (f"{needed} steps from fmin={grid.fmin!r} to fmax={grid.fmax!r} sample every peak"
                  if needed > 0 else "no grid of these limits samples every peak")
        warnings.warn(
            f"the grid's step {(grid.fmax - grid.fmin) / grid.steps!r} is more than half the "
            f"line width {result.line_width!r}: a peak can fall between two frequencies; "
            + remedy, UndersampledGridWarning, stacklevel=2)
    return result


def spectra(curves, fmin, fmax, steps, window="hanning", threads=None, peaks=0,
            failures="raise"):
    """The spectra of many series on one grid, the series spread over threads.

    Parameters
    ----------
    curves : iterable
        Series as (t, y) or (t, y, dy) tuples, each as `spectrum` takes them
        (dy None, an array or one number).
    fmin, fmax, steps, window
        The grid and the window, as in `spectrum` (all three limits given).
    threads : int, optional
        How many series are computed at once, each on one thread; None uses
        every core.  The results do not depend on it.
    peaks : int
        When above 0, each spectrum's `peaks(peaks)` is found on the same
        threads (and returned by that call without more work).
    failures : {"raise", "return"}
        What a series without a spectrum does: raise its ValueError (the
        first in the list) or take the exception's place in the list.

    Returns
    -------
    list
        A `Spectrum` per series, in their order (with failures="return", the
        ValueError or MemoryError of a series that has none instead).  Each
        equals `spectrum(t, y, fmin, fmax, steps, window, dy=dy)`.

    Examples
    --------
    >>> import numpy as np, fasogram
    >>> t = np.arange(300) * 0.37
    >>> curves = [(t, np.sin(2 * np.pi * f * t)) for f in (0.1, 0.2, 0.3)]
    >>> [round(s.peaks(1)[0].frequency, 6) for s in fasogram.spectra(curves, 0, 1, 2000)]
    [0.1, 0.2, 0.3]
    """
    if failures not in ("raise", "return"):
        raise ValueError(f"failures must be 'raise' or 'return', got {failures!r}")
    fmin = _real_number(fmin, "fmin")
    fmax = _real_number(fmax, "fmax")
    steps = _whole_number(steps, "steps")
    if steps >= 2**63:
        raise ValueError(f"steps is too large: {steps}")
    peaks = _whole_number(peaks, "peaks")
    _check_window(window)
    threads = _threads(threads)
    converted = []
    for curve in curves:
        try:
            if not isinstance(curve, (tuple, list)) or len(curve) not in (2, 3):
                raise ValueError("each series must be (t, y) or (t, y, dy)")
            t = _series(curve[0], "t")
            y = _series(curve[1], "y")
            dy = curve[2] if len(curve) == 3 else None
            if dy is not None:
                dy = _errors(dy, t.shape[0])
            converted.append((t, y, dy))
        except ValueError as error:
            if failures == "raise":
                raise
            converted.append(error)
    pending = [c for c in converted if not isinstance(c, BaseException)]
    results = iter(_fasogram.compute_many(pending, fmin, fmax, steps, window, threads, peaks))
    out = []
    for item in converted:
        if not isinstance(item, BaseException):
            item = next(results)
        if isinstance(item, BaseException):
            if failures == "raise":
                raise item
            out.append(item)
        else:
            out.append(Spectrum(item))
    return out


class SeriesData:
    """A series as `read_series` gives it.

    t, y : numpy.ndarray   times and values (float64), in file order
    dy : numpy.ndarray     the errors, read with errors=True; else None
    header : str           the header line skipped ("" when none)
    header_line : int      its line number (0 when none)
    third_column_line : int
        Without errors=True: the first line whose pair is followed by a third
        number (a column of errors that is not read, perhaps); 0 when none.
    more : bool            reading stopped at the limit with data left

    It unpacks as (t, y), or (t, y, dy) when read with errors=True.
    """

    __slots__ = ("t", "y", "dy", "header", "header_line", "third_column_line", "more")

    def __init__(self, t, y, dy, header, header_line, third_column_line, more):
        self.t, self.y, self.dy = t, y, dy
        self.header = header.decode("utf-8", "replace")
        self.header_line, self.third_column_line, self.more = (
            header_line, third_column_line, more)

    def __iter__(self):
        return iter((self.t, self.y) if self.dy is None else (self.t, self.y, self.dy))

    def __len__(self):
        return len(self.t)

    def __repr__(self):
        return (f"SeriesData({len(self.t)} points{', with errors' if self.dy is not None else ''}"
                f"{', header on line %d' % self.header_line if self.header_line else ''})")


def read_series(source, errors=False, header=True, limit=None, name=None):
    """Reads a series file: the reader of the program `fasogram`.

    Each pair starts on a new line; its two numbers are separated by blanks,
    tabs or a comma and may stand on consecutive lines; whatever follows the
    second number on its line is ignored.  Numbers take any decimal or
    exponent notation, Fortran D exponents included (1.5D+03); nan, inf and
    values beyond a double are not numbers.  Empty lines, lines of separators
    alone and comment lines (whose first character other than a blank is #
    or %) are skipped; CR LF line ends and a UTF-8 byte order mark are
    accepted; a lone time at the end is dropped.  With `header`, a first
    line (not empty, not a comment) holding no number is a header.  With
    `errors` every line holds time, value and error (finite, above 0).

    Parameters
    ----------
    source : str, os.PathLike, bytes, bytearray or memoryview
        A file's path, or the file's contents.
    errors : bool
        Read (time, value, error) triples.
    header : bool
        Skip a header line.
    limit : int, optional
        Read at most this many pairs (SeriesData.more tells whether data
        follows).
    name : str, optional
        The name messages give the file; by default its path ("<bytes>" for
        contents).

    Raises
    ------
    LightCurveError
        A ValueError naming the file and the line at fault, with the
        program's words: "NAME, line N: malformed number: 'x'".
    OSError
        When the file cannot be read.

    >>> import fasogram
    >>> t, y = fasogram.read_series(b"time mag\\n# t y\\n1.0 2.5\\n2.0, 3.5D0 comment\\n")
    >>> t.tolist(), y.tolist()
    ([1.0, 2.0], [2.5, 3.5])
    """
    if limit is not None:
        limit = _whole_number(limit, "limit")
        if limit < 0:
            raise ValueError(f"limit must be 0 or more, got {limit}")
        limit = min(limit, 2**63 - 1)
    if isinstance(source, (bytes, bytearray, memoryview)):
        data = bytes(source)
        name = "<bytes>" if name is None else name
    else:
        path = os.fspath(source)
        with open(path, "rb") as file:
            data = file.read()
        name = (path if isinstance(path, str) else os.fsdecode(path)) if name is None else name
    try:
        parts = _fasogram.read_series(data, bool(errors), bool(header), limit)
    except LightCurveError as error:
        raise LightCurveError(f"{name}, {error}") from None
    return SeriesData(*parts)


from .multifreq import FitResult, FitTerm, Trend, fit, prewhiten, spectral_window, trend  # noqa: E402
from .multifreq import _harmonics  # noqa: E402
