"""Several frequencies at once: the simultaneous fit, prewhitening, trends
and the spectral window.

Every point weighs its window weight (Hanning 2 sin^2(pi d/D), d its
distance to the nearer end of the series and D the time span, or 1 for the
square window) over dy**2 (dy = 1 for every point when it is None).

>>> import numpy as np, fasogram
>>> t = np.sort(np.random.default_rng(2).uniform(0, 300, 1500))
>>> y = 0.5 * np.cos(2 * np.pi * 0.31 * t) + 0.2 * np.cos(2 * np.pi * (1.07 * t - 0.3))
>>> y = y + np.random.default_rng(3).normal(0, 0.05, t.size)
>>> result = fasogram.prewhiten(t, y, 5, fmin=0.01, fmax=2.0, steps=20000)
>>> [round(f, 3) for f in result.frequencies]
[0.31, 1.07]
"""

from collections import namedtuple

import numpy as np

from . import _fasogram

__all__ = ["fit", "prewhiten", "trend", "spectral_window", "FitResult", "Trend", "FitTerm"]

FitTerm = namedtuple("FitTerm", "index harmonic frequency frequency_error frequency_error_analytic "
                                "amplitude amplitude_error amplitude_error_analytic "
                                "phase phase_error phase_error_analytic snr")
FitTerm.__doc__ = """One term of a fit: harmonic `harmonic` of frequency `index` (from 0),
amplitude * cos(2 pi (frequency (t - epoch) - phase)), the phase in cycles
(0 <= phase < 1).  The errors are 1-sigma, from the covariance matrix and the
analytic ones of Montgomery & O'Donoghue (1999); snr is None outside
prewhitening."""


class Trend:
    """A polynomial trend: Legendre polynomials of u = (t - centre)/scale.

    Call it with times to get its values.
    """

    __slots__ = ("centre", "scale", "coefficients")

    def __init__(self, centre, scale, coefficients):
        self.centre, self.scale = float(centre), float(scale)
        self.coefficients = np.asarray(coefficients, dtype=np.float64)

    @property
    def degree(self):
        return len(self.coefficients) - 1

    def __call__(self, t):
        from . import _series
        return _fasogram.trend_values(self.centre, self.scale, self.coefficients,
                                      _series(np.atleast_1d(t), "t"))

    def __repr__(self):
        return f"<fasogram.Trend of degree {self.degree}>"


class FitResult:
    """The simultaneous fit of several frequencies.

    frequencies, frequency_errors
        the fitted frequencies f_k and their 1-sigma errors (arrays of K)
    amplitudes, amplitude_errors, phases, phase_errors
        arrays of K (one harmonic) or of shape (K, H); phases in cycles
    frequency_errors_analytic, amplitude_errors_analytic, phase_errors_analytic
        the analytic errors of an evenly sampled series of the same N, span
        and residual scatter, shaped the same way
    terms      every term as a `FitTerm`
    snr        the S/N of each frequency (prewhiten only; None otherwise)
    c0, c0_error, epoch
        the constant and the time the phases refer to
    residuals  y less the model at the points given
    trend      the `Trend` removed first, or None
    harmonics, residual_rms, points, time_span, converged, iterations,
    errors_scaled (True when the errors were scaled by the residual variance)

    model(t) is the trend plus c0 plus every frequency's harmonics;
    component(k, t) frequency k's harmonics alone.
    """

    def __init__(self, fit, trend=None, snr=None):
        self._fit = fit
        self.trend = trend
        self.snr = None if snr is None else np.asarray(snr, dtype=np.float64)
        self.frequencies = fit.frequencies
        self.frequency_errors = fit.frequency_errors
        self.harmonics = fit.harmonics
        k, h = len(self.frequencies), fit.harmonics

        def shaped(values):
            values = np.asarray(values, dtype=np.float64)
            return values if h == 1 else values.reshape(k, h)

        self.amplitudes = shaped(fit.amplitude)
        self.amplitude_errors = shaped(fit.amplitude_error)
        self.phases = shaped(fit.phase)
        self.phase_errors = shaped(fit.phase_error)
        self.frequency_errors_analytic = shaped(fit.term_frequency_error_analytic)
        self.amplitude_errors_analytic = shaped(fit.amplitude_error_analytic)
        self.phase_errors_analytic = shaped(fit.phase_error_analytic)
        self.residuals = fit.residuals
        self.c0, self.c0_error, self.epoch = fit.c0, fit.c0_error, fit.epoch
        self.residual_rms, self.points = fit.residual_rms, fit.points
        self.time_span, self.converged = fit.time_span, fit.converged
        self.iterations, self.errors_scaled = fit.iterations, fit.errors_scaled

    @property
    def terms(self):
        f = self._fit
        columns = zip(f.index, f.harmonic, f.term_frequency, f.term_frequency_error,
                      f.term_frequency_error_analytic, f.amplitude, f.amplitude_error,
                      f.amplitude_error_analytic, f.phase, f.phase_error, f.phase_error_analytic)
        return [FitTerm(int(i), int(h), *map(float, rest),
                        None if self.snr is None else float(self.snr[i]))
                for i, h, *rest in columns]

    def model(self, t):
        from . import _series
        t = _series(np.atleast_1d(t), "t")
        values = self._fit.model(t)
        if self.trend is not None:
            values = values + self.trend(t)
        return values

    def component(self, k, t):
        from . import _series, _whole_number
        return self._fit.component(_whole_number(k, "k"), _series(np.atleast_1d(t), "t"))

    def __repr__(self):
        freqs = ", ".join(f"{f:.8g}" for f in self.frequencies)
        return f"<fasogram.FitResult: {len(self.frequencies)} frequencies [{freqs}]>"


def _prepare(t, y, dy, window, detrend):
    from . import _series, _whole_number
    t = _series(t, "t")
    y = _series(y, "y")
    if len(t) != len(y):
        raise ValueError(f"t and y differ in length ({len(t)} and {len(y)})")
    if dy is not None:
        dy = _series(dy, "dy")
        if len(dy) != len(t):
            raise ValueError(f"dy and t differ in length ({len(dy)} and {len(t)})")
    if not isinstance(window, str):
        raise ValueError(f"unknown window {window!r}: use 'hanning' or 'square'")
    removed = None
    if detrend is not None:
        degree = _whole_number(detrend, "detrend")
        removed = trend(t, y, degree, dy=dy, window=window)
        y = y - removed(t)
    return t, y, dy, removed


def _harmonics(value):
    from . import _whole_number
    h = _whole_number(value, "harmonics")
    if not 1 <= h <= 20:
        raise ValueError(f"harmonics must be from 1 to 20, got {h}")
    return h


def _threads(threads):
    from . import _threads as engine_threads
    return engine_threads(threads)


def trend(t, y, degree, dy=None, window="hanning"):
    """The weighted least-squares polynomial of `degree` (0 to 20) in time, as a `Trend`.

    The times are centred on the middle of the series and scaled by half its
    span first, so that Julian dates and high degrees stay well conditioned.
    """
    from . import _series, _whole_number
    t, y = _series(t, "t"), _series(y, "y")
    degree = _whole_number(degree, "degree")
    dy = None if dy is None else _series(dy, "dy")
    centre, scale, coefficients, _ = _fasogram.trend(t, y, dy, window, degree)
    return Trend(centre, scale, coefficients)


def fit(t, y, frequencies, dy=None, harmonics=1, window="hanning", detrend=None, epoch=None,
        max_iterations=200):
    """Fits all `frequencies` together, with their amplitudes, phases and the mean.

    Nonlinear weighted least squares (Levenberg-Marquardt) started at the
    given frequencies, each with `harmonics` harmonics (f, 2f, ... Hf).  The
    errors come from the covariance matrix, scaled by the residual variance
    when dy is None.  `detrend` (a degree) removes a polynomial trend first;
    `epoch` is the time the phases refer to (None: the weighted mean time).

    Returns a `FitResult`.
    """
    from . import _series, _real_number, _whole_number
    t, y, dy, removed = _prepare(t, y, dy, window, detrend)
    frequencies = _series(np.atleast_1d(frequencies), "frequencies")
    epoch = None if epoch is None else _real_number(epoch, "epoch")
    result = _fasogram.fit_frequencies(t, y, dy, frequencies, window, _harmonics(harmonics),
                                       epoch, _whole_number(max_iterations, "max_iterations"))
    return FitResult(result, removed)


def prewhiten(t, y, k, dy=None, *, fmin, fmax, steps, window="hanning", harmonics=1,
              detrend=None, snr_min=4.0, snr_band=None, threads=None):
    """Finds up to k frequencies one after the other.

    Each round takes the highest peak of the spectrum of the current
    residuals (fmin to fmax in `steps` steps, the model of `harmonics`
    harmonics), fits it together with every frequency found before and
    computes new residuals.  A candidate is kept when its amplitude over the
    mean amplitude of the new residuals' spectrum within +-snr_band of it
    (None: 100 line widths) is at least snr_min; the search stops at the
    first that is not.  At the end a frequency whose S/N in the final
    residuals fell below snr_min (an alias taken before its true frequency)
    is dropped and the rest fitted again.

    Returns a `FitResult` with snr set, and the attributes stop ("count",
    "snr" or "no_peak"), rejected (frequency, snr) of the candidate that
    stopped the search, dropped (the frequencies dropped at the end) and
    snr_band (the half width used).
    """
    from . import _real_number, _whole_number
    t, y, dy, removed = _prepare(t, y, dy, window, detrend)
    k = _whole_number(k, "k")
    if k < 1:
        raise ValueError(f"k must be 1 or more, got {k}")
    steps = _whole_number(steps, "steps")
    snr_min = _real_number(snr_min, "snr_min")
    band = 0.0 if snr_band is None else _real_number(snr_band, "snr_band")
    if snr_band is not None and not band > 0:
        raise ValueError(f"snr_band must be positive, got {snr_band!r}")
    out = _fasogram.prewhiten(t, y, dy, k, _real_number(fmin, "fmin"), _real_number(fmax, "fmax"),
                              steps, window, _harmonics(harmonics), snr_min, band,
                              _threads(threads))
    result = FitResult(out["fit"], removed, out["snr"])
    result.stop = out["stop"]
    result.rejected = (out["rejected_frequency"], out["rejected_snr"])
    result.dropped = out["dropped"]
    result.snr_band = out["snr_half_width"]
    return result


def spectral_window(t, fmin, fmax, steps, dy=None, window="hanning", threads=None):
    """The spectral window |sum w exp(2 pi i f t)| / sum w at fmin + j (fmax - fmin)/steps.

    Returns (frequency, amplitude) arrays; the amplitude is 1 at f = 0, and
    its peaks elsewhere are where a signal shows aliases.
    """
    from . import _real_number, _series, _whole_number
    t = _series(t, "t")
    dy = None if dy is None else _series(dy, "dy")
    return _fasogram.spectral_window(t, dy, _real_number(fmin, "fmin"),
                                     _real_number(fmax, "fmax"), _whole_number(steps, "steps"),
                                     window, _threads(threads))
