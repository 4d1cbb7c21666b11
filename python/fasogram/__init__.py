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
import warnings
from collections import namedtuple

import numpy as np

from . import _fasogram

__all__ = ["spectrum", "Spectrum", "Peak", "Grid", "UndersampledGridWarning",
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

Grid = namedtuple("Grid", "fmin fmax steps")
Grid.__doc__ = """The frequency grid of a spectrum: steps + 1 frequencies from fmin to fmax."""


class UndersampledGridWarning(UserWarning):
    """The grid's frequencies lie more than half a line width apart: a peak can fall
    between two of them and be missed or shown far too low."""


class Spectrum:
    """The spectrum of a series, as returned by `spectrum`.

    Attributes (one-dimensional float64 arrays, one entry per frequency):

    frequency  the trial frequencies
    rho        the spectral correlation coefficient
    c1, c2, c3 the fitted y = c1 + c2 cos(2 pi f t) + c3 sin(2 pi f t)

    and window ("hanning" or "square"), line_width (2/D for the Hanning
    window, 1/D for the square one, D the time span of the series), mean and
    variance (weighted, of y), grid (a `Grid`: the limits and steps
    computed, those chosen from the sampling included) and has_errors
    (whether the points were weighted by dy).  At a frequency where the fit
    is singular every value but the frequency is NaN.

    The result unpacks as a tuple:

    >>> f, rho, c1, c2, c3 = fasogram.spectrum(t, y, 0.01, 1.0, 5000)  # doctest: +SKIP
    """

    __slots__ = ("frequency", "rho", "c1", "c2", "c3", "_result")

    def __init__(self, result):
        self._result = result
        self.frequency, self.rho, self.c1, self.c2, self.c3 = result.arrays

    def __iter__(self):
        return iter((self.frequency, self.rho, self.c1, self.c2, self.c3))

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
        return Grid(*self._result.grid)

    @property
    def has_errors(self):
        return self._result.has_errors

    def peaks(self, k=1):
        """The k highest peaks, highest rho first, as a list of `Peak`.

        A peak is a grid frequency whose rho is above its lower neighbour
        and not below its upper one; it is refined by fitting between the
        two neighbours to where rho is highest.  Fewer than k are returned
        when the spectrum has fewer peaks.

        >>> result.peaks(2)  # doctest: +SKIP
        [Peak(frequency=0.37037..., period=2.7000..., rho=0.99..., amplitude=0.30..., phase=0.0...), ...]
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

    def false_alarm_probability(self, rho, method="baluev"):
        """The probability that pure noise gives a highest peak of at least rho.

        The null hypothesis: the values are white Gaussian noise with the
        given errors, sampled at these times; the band searched is the
        grid's.  method="baluev" is Baluev's (2008) approximation, an upper
        bound that is close at small probabilities.  rho may be a number or
        an array.  It is not the probability that the signal is real.
        """
        _fap_method(method)
        return _elementwise(self._result.false_alarm_probability, rho)

    def false_alarm_level(self, p, method="baluev"):
        """The rho whose false-alarm probability is p (0 < p < 1)."""
        _fap_method(method)
        return _elementwise(self._result.false_alarm_level, p)

    def __repr__(self):
        n = len(self.frequency)
        if n == 0:
            return f"<fasogram.Spectrum: no frequencies, {self.window} window>"
        return (f"<fasogram.Spectrum: {n} frequencies from {self.frequency[0]!r} "
                f"to {self.frequency[-1]!r}, {self.window} window>")


def _fap_method(method):
    if method != "baluev":
        raise ValueError(f"method must be 'baluev', got {method!r}")


def _elementwise(func, value):
    arr = np.asarray(value, dtype=float)
    if arr.ndim == 0:
        return func(float(arr))
    return np.vectorize(func, otypes=[float])(arr)


def _whole_number(value, name):
    if isinstance(value, bool):
        raise ValueError(f"{name} must be a whole number, got {value!r}")
    if isinstance(value, numbers.Integral):
        return int(value)
    if isinstance(value, numbers.Real) and math.isfinite(value) and float(value).is_integer():
        return int(value)
    raise ValueError(f"{name} must be a whole number, got {value!r}")


def _real_number(value, name):
    try:
        return float(value)
    except (TypeError, ValueError):
        raise ValueError(f"{name} must be a number, got {value!r}") from None


def _series(values, name):
    """Any array-like of real numbers as one contiguous float64 array (converted at most once)."""
    try:
        if np.iscomplexobj(values):
            raise ValueError("complex numbers")
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


def spectrum(t, y, fmin=None, fmax=None, steps=None, window="hanning", threads=None, dy=None,
             oversample=10, harmonics=1, detrend=None):
    """The spectrum of the series (t, y) from fmin to fmax in `steps` steps.

    t, y     times and values: any sequences of real numbers of the same length
             (lists, numpy arrays of any float type, strided views), at least 2
             points, all finite; the order of the points does not matter.
    fmin, fmax
             the frequency range, fmax > fmin, in cycles per unit of time.
    steps    the number of steps: the spectrum is computed at the steps + 1
             frequencies fmin + j*(fmax - fmin)/steps, j = 0 .. steps, except
             those closer to zero than a hundredth of the line width (they are
             left out of the result).
    window   "hanning" (the points weighted by a Hanning taper over the time
             span D, line width 2/D) or "square" (equal weights, 1/D).
    threads  how many threads compute the spectrum; None uses every core.  The
             result does not depend on it.  The GIL is released meanwhile.
    dy       the measurement error of each value (a sequence of the length of
             t, or one number for all), finite and above 0: each point then
             weighs its window weight divided by dy**2.  With the square
             window rho is astropy's LombScargle(t, y, dy) standard power.
    oversample
             grid points per line width where the steps are chosen (below).

    fmin, fmax and steps may each be left out (None): the step is then
    line_width/oversample, fmin one such step, and fmax the highest
    fmin + k*step not above 1/(2 s), s the median spacing of the distinct
    times (the Nyquist frequency of evenly spaced times, of the spacing
    within the nights of clustered ones), at most 1000000 steps above fmin.
    The result's grid tells what was chosen.  A grid whose frequencies lie
    more than half a line width apart warns (UndersampledGridWarning) with
    the number of steps that would sample every peak.
    harmonics
             H: the model of each frequency has H harmonics (f, 2f, ... Hf) and
             rho is the share of the weighted variance they explain; c1 is then
             the constant and c2, c3 the fundamental's coefficients (computed by
             a path of its own, good to about 1e-12 of the variance).
    detrend  a degree D: the weighted least-squares polynomial of degree D in
             time is removed from y first (see `trend`).

    Returns a `Spectrum`: numpy arrays frequency, rho, c1, c2, c3, which also
    unpack as a tuple in that order, and the method peaks(k).  The values are
    those of the program's table fasogram.dat for the same series and answers.

    Raises ValueError for input that has no spectrum: lengths that differ,
    fewer than 2 points, times, values or errors that are not finite, an
    error not above 0 (each naming the first bad index), all times equal,
    values that do not vary under the window, fmax <= fmin, steps < 1,
    oversample not above 0, an unknown window.

    Example:

    >>> import numpy as np, fasogram
    >>> t = np.arange(200) * 0.37
    >>> y = np.sin(2 * np.pi * 0.25 * t)
    >>> f, rho, c1, c2, c3 = fasogram.spectrum(t, y, 0.0, 1.0, 1000, window="square")
    >>> float(f[rho.argmax()])
    0.25
    """
    t = _series(t, "t")
    y = _series(y, "y")
    if dy is not None:
        dy = _errors(dy, t.shape[0])
    fmin = None if fmin is None else _real_number(fmin, "fmin")
    fmax = None if fmax is None else _real_number(fmax, "fmax")
    steps = None if steps is None else _whole_number(steps, "steps")
    oversample = _real_number(oversample, "oversample")
    if not isinstance(window, str):
        raise ValueError(f"unknown window {window!r}: use 'hanning' or 'square'")
    if threads is None:
        threads = 0
    else:
        threads = _whole_number(threads, "threads")
        if threads < 1:
            raise ValueError(f"threads must be 1 or more (or None for every core), got {threads}")
    if steps is not None and steps >= 2**63:
        raise ValueError(f"steps is too large: {steps}")
    if detrend is not None:
        y = y - trend(t, y, _whole_number(detrend, "detrend"), dy=dy, window=window)(t)
    if harmonics != 1:
        harmonics = _harmonics(harmonics)
        if harmonics > 1:
            if fmin is None or fmax is None or steps is None:
                raise ValueError("harmonics above 1 need fmin, fmax and steps")
            return Spectrum(_fasogram.harmonic_spectrum(t, y, dy, fmin, fmax, steps, window,
                                                        harmonics, threads))
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


from .multifreq import FitResult, FitTerm, Trend, fit, prewhiten, spectral_window, trend  # noqa: E402
from .multifreq import _harmonics  # noqa: E402
