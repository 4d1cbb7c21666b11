#!/usr/bin/python3
"""Writes the seed corpus of the fuzz targets: tests/fuzz/corpus/<target>/.

    tests/fuzz/make_seeds.py [DIR]     (default: tests/fuzz/corpus)

Standard library only; the output is the same on every run, and a test
checks that the committed corpus is what this script writes.  The plot
seeds are programs in the byte code that fuzz_plot.cpp reads (the first byte
chooses the output format, then the file name, then one call per opcode):
keep the tables below in step with that file.
"""
import math
import os
import struct
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
EXAMPLE = os.path.join(HERE, "..", "..", "examples", "datos.dat")


# ---- series: data files ---------------------------------------------------------

def series_seeds():
    with open(EXAMPLE, "rb") as f:
        lines = f.read().split(b"\n")
    head = b"\n".join(lines[:12]) + b"\n"
    s = {
        "example_head.dat": head,
        "example_crlf.dat": head.replace(b"\n", b"\r\n"),
        "example_tabs.dat": head.replace(b" ", b"\t"),
        "example_commas.dat": head.replace(b" ", b", "),
        "example_no_final_newline.dat": head.rstrip(b"\n"),
        "example_bom.dat": b"\xEF\xBB\xBF" + head,
        "layouts.dat": b"\xEF\xBB\xBF1.0 10\r\n\r\n2.0,20 trailing words ignored\r\n"
                       b"\t3.0\t30\t\r\n4.0\n  40  50\n5.5D+00 6.0d1\n-1.E-1 , -2\n",
        "lone_time_at_end.dat": b"1 2\n3 4\n5\n",
        "value_on_next_line.dat": b"1\n\n\n2\n3\n4 5 6\n",
        "empty.dat": b"",
        "blank_lines.dat": b"\n\n \t\r\n,,\n",
        "header_line.dat": b"tiempo valor\n1 2\n",
        "comment_line.dat": b"1 2\n# comentario\n3 4\n",
        "malformed_after_pairs.dat": b"1 2\n3 4\n\nabc 5\n",
        "semicolon.dat": b"1 2\n3 4;\n",
        "exponents.dat": b"1e5 -2E-3\n+.5 5.\n1.5D+03 2d-1\n7 1e2\n",
        "bad_exponents.dat": b"1e+ 2\n",
        "huge.dat": b"1.7976931348623157e308 -1.7976931348623157e308\n1e309 0\n",
        "tiny.dat": b"4.9406564584124654e-324 2.4703282292062327e-324\n1e-400 -1D-999\n",
        "many_digits.dat": b"0." + b"0" * 330 + b"1 " + b"9" * 320 + b"\n",
        "nul_bytes.dat": b"1 2\n\x00\x04\xff1\x1f 5\n",
        "nul_separated.dat": b"1\x002\n",
        "non_ascii.dat": b"1 2\n3 4\xc3\xb1\n",
        "hex_inf_nan.dat": b"0x10 1\ninf nan\n",
        "signs.dat": b"+1 -2\n+-1 2\n",
        "julian_days.dat": b"2450001.55693 12.3838\n2450001.63324 12.2295\n",
        "errors_column.dat": b"2458000.1 12.1 0.02\n2458000.2,12.3,0.03\n",
        "empty_field.dat": b"2458000.1,12.1,0.02\n2458000.2,,0.02\n",
        "empty_fields_ignored.dat": b"1,2,,x\n3,4,\n,,\n , \n5 , 6\n",
        "empty_first_field.dat": b"1 2\n,3,4\n",
        "empty_value_at_line_end.dat": b"19580510,317.1\n19580517,\n19580524,317.5\n",
    }
    return s


# ---- answers: two bytes of plan, then what the user types -------------------------

LETTER, REAL, INTEGER, RAW = 0, 1, 2, 3


def plan(*kinds):
    """Two bytes: eight reads of two bits each, the first in the lowest bits."""
    kinds = list(kinds) + [RAW] * (8 - len(kinds))
    v = 0
    for k, kind in enumerate(kinds):
        v |= kind << (2 * k)
    return struct.pack("<H", v)


def answer_seeds():
    dialogue = plan(LETTER, REAL, REAL, INTEGER, INTEGER, INTEGER)
    return {
        "dialogue.txt": dialogue + b"h\n0\n0.5\n5000\n3\n",
        "dialogue_crlf.txt": dialogue + b"h\r\n0\r\n0.5\r\n5000\r\n3\r\n",
        "dialogue_words.txt": dialogue + b"Hanning window\n  0.0 ,x\n.5d0\n+5000 pts\n0\n",
        "dialogue_blank_lines.txt": dialogue + b"\n\n   \nc\n\t\n1e-3\n2E1\n10\n",
        "dialogue_short.txt": dialogue + b"h\n0\n",
        "empty_lines_only.txt": plan(REAL) + b"\n \n\t\r\n",
        "empty.txt": plan(LETTER),
        "comma_first.txt": plan(LETTER, RAW, REAL) + b",x\n ,\n,5\n",
        "int_with_point.txt": plan(INTEGER) + b"2000.\n",
        "int_with_exponent.txt": plan(INTEGER) + b"1e3\n",
        "int_limits.txt": plan(INTEGER, INTEGER, INTEGER, INTEGER)
        + b"2147483647\n-2147483648\n2147483648\n0\n",
        "int_signs.txt": plan(INTEGER, INTEGER, INTEGER) + b"+3\n-4\n+-1\n",
        "real_bad.txt": plan(REAL) + b"1.5x\n",
        "real_overflow.txt": plan(REAL, REAL) + b"1e308\n1e309\n",
        "real_tiny.txt": plan(REAL, REAL) + b"1e-400\n-4.9e-324\n",
        "real_hex.txt": plan(REAL) + b"0x1p3\n",
        "nul_in_answer.txt": plan(REAL) + b"1\x00\x1b[2J\n",
        "non_ascii.txt": plan(LETTER, REAL) + b"\xc3\xb1\n\xc3\xb1\n",
        "no_final_newline.txt": plan(LETTER, REAL) + b"c\n0.25",
        "raw_values.txt": plan(RAW, RAW, RAW, RAW) + b"a b\nc,d\n\te\n f\r\n",
        "decimal_comma.txt": plan(LETTER, REAL, REAL, INTEGER) + b"c\n0,5\n-12,75e3\n0.5\n0, 5\n"
        b"1,5\n",
        "comma_lists.txt": plan(REAL, REAL, REAL) + b"1,x\n2.5,7\n+3,\n",
    }


# ---- plot: byte code of fuzz_plot.cpp ---------------------------------------------

FORMATS = ["PS", "EPS", "PDF", "BMP", "TIFF", "PNG", "PPM", "IMAG", "VIRT", "GKSL", "HPGL",
           "HPA4", "HPA1", "KYOC", "JAVA", "POST", "PSCL", "CGM", "WMF", "CONS", "TEKT",
           "XWIN", "XWND", "MET1", "SVG"]
INTS = [0, 1, -1, 2, 3, 4, 7, 8, 9, 10, 11, 16, 17, 18, 36, 89, 90, 255, 256, -255, 360, 999,
        1000, 1001, 2099, 2969, 10000, 10001, -999, 16777216, -16777216, 65536, 2**31 - 1,
        -2**31, 2**31 - 2, -2**31 + 1, 100000000, -100000000]
REALS = ["0", "-0", "1", "-1", "0.5", "2", "10", "100", "1e-35", "1e30", "-1e30", "nan", "inf",
         "-inf", "max", "-max", "min", "denorm", "2^31", "-2^31", "16777217", "0.1"]
OPS = ["disini", "disfin", "erase", "getver", "sendbf", "winupd", "metafl", "setfil", "line",
       "lintyp", "style", "myline", "setvlt", "color", "setclr", "areaf", "shdpat", "mypat",
       "pagfll", "axspos", "axslen", "graf", "ticks", "name", "posn", "curve", "grid", "xaxgit",
       "titlin", "title", "complx", "disalf", "height", "angle", "messag", "nlmess", "intcha",
       "fcha", "pagera", "paghdr", "quickplot", "messag2"]
TABLES = ["SMAL", "RAIN", "SPEC", "GREY", "RRAI", "RSPE", "RGRE", "VGA", "TEMP"]
COLOURS = ["WHITE", "RED", "GREEN", "YELLOW", "BLUE", "ORANGE", "CYAN", "MAGENTA", "BLACK",
           "FORE", "BACK"]
AXES = ["X", "Y", "Z", "XY", "XYZ"]


def op(name):
    return bytes([OPS.index(name)])


def i(v):
    """An integer argument."""
    if v in INTS and v not in range(-1024, 3072):
        return bytes([INTS.index(v)])
    assert -1024 <= v < 3072
    return bytes([128]) + struct.pack(">I", v + 1024)


def r(v):
    """A real argument: a special value by name, else a number with two decimals."""
    if isinstance(v, str):
        return bytes([REALS.index(v)])
    assert -100 <= v <= 100
    return bytes([128]) + struct.pack(">I", round(v * 100) + 10000)


def text(s):
    """A text argument: raw bytes, at most 63."""
    assert len(s) < 64
    return bytes([5, len(s)]) + s


def long_text(kind):
    return bytes([{"256": 2, "257": 3}[kind]])


def kw(index):
    return bytes([index])


def count_exact(n, most):
    assert n <= most
    return bytes([6, n])


def plot(fmt, *calls, name=b"\x00"):
    return bytes([FORMATS.index(fmt)]) + name + b"".join(calls)


def full_plot():
    """A plot as the program draws one: axes, labels, a curve, a title."""
    xs = [k * 0.5 for k in range(21)]
    ys = [round(math.sin(x) * 0.9, 2) for x in xs]
    return (op("disini") + op("pagera") + op("complx")
            + op("axspos") + i(450) + i(1800) + op("axslen") + i(2200) + i(1200)
            + op("name") + text(b"frecuencia x 100") + kw(0)
            + op("name") + text(b"Coef.Corr.Espec.") + kw(1)
            + op("ticks") + i(2) + kw(3)
            + op("titlin") + text(b"ESPECTRO") + i(1)
            + op("graf") + r(0) + r(10) + r(0) + r(2) + r(-1) + r(1) + r(-1) + r(0.5)
            + op("title") + op("grid") + i(1) + i(1) + op("xaxgit")
            + op("color") + kw(2)
            + op("curve") + count_exact(21, 255) + b"".join(r(x) for x in xs)
            + b"".join(r(y) for y in ys)
            + op("color") + kw(9) + op("disfin"))


def shapes():
    """Lines in every style, fills and text."""
    body = op("disini")
    for style in range(8):
        body += op("style") + bytes([style]) + op("line") + i(100) + i(100 + 60 * style) \
            + i(2800) + i(150 + 60 * style)
    body += op("myline") + count_exact(4, 12) + i(30) + i(10) + i(1) + i(10)
    body += op("line") + i(100) + i(700) + i(2800) + i(700)
    body += op("setvlt") + kw(2) + op("setclr") + i(200)
    body += op("shdpat") + i(16) + op("areaf") + count_exact(3, 64) \
        + i(500) + i(1000) + i(900) + i(1500) + i(1000) + i(1200)
    body += op("shdpat") + i(5) + op("mypat") + i(45) + i(1) + i(10) + i(1)
    body += op("areaf") + count_exact(4, 64) + i(1500) + i(2500) + i(2500) + i(1500) \
        + i(1000) + i(1000) + i(1800) + i(1800)
    body += op("height") + i(36) + op("angle") + i(90) + op("messag") + text(b"Hello") \
        + i(1000) + i(1000)
    body += op("angle") + i(0) + op("messag") + text(b"\xc3\xa1\xc3\xb1 \xe2\x82\xac ~") \
        + i(999) + i(999)
    body += op("paghdr") + text(b"cabecera") + text(b"pie") + i(4) + i(0)
    return body + op("disfin")


def plot_seeds():
    s = {}
    for fmt in FORMATS:
        s["full_" + fmt.lower() + ".bin"] = plot(fmt, full_plot())
    for fmt in ("PS", "PDF", "PNG", "GKSL", "BMP", "TIFF", "SVG"):
        s["shapes_" + fmt.lower() + ".bin"] = plot(fmt, shapes())
    s["empty.bin"] = b""
    s["just_open.bin"] = plot("PS", op("disini"))
    s["wrong_levels.bin"] = plot(
        "PDF", op("disfin"), op("curve"), count_exact(2, 255), r(0), r(1), r(0), r(1),
        op("graf") + r(0) + r(1) + r(0) + r(1) + r(0) + r(1) + r(0) + r(1), op("title"),
        op("disini"), op("metafl") + kw(0), op("setfil") + b"\x00", op("curve"),
        count_exact(2, 255), r(0), r(1), r(0), r(1), op("disini"), op("disfin"), op("erase"))
    s["graf_nan_inf.bin"] = plot(
        "PS", op("disini"), op("graf"), r("nan"), r("inf"), r(0), r("-inf"), r(0), r(0), r(0),
        r(0), op("graf"), r(0), r(1), r(0), r("nan"), r(0), r(1), r(0), r(0.5), op("graf"),
        r(0), r(10), r(0), r(2), r(-1), r(1), r(-1), r(0.5), op("curve"), count_exact(4, 255),
        r("nan"), r("inf"), r("-max"), r("denorm"), r("-inf"), r("max"), r("1e30"), r(0),
        op("posn"), r("inf"), op("posn"), r("nan"), op("disfin"))
    s["extreme_ints.bin"] = plot(
        "BMP", op("disini"), op("line"), i(2**31 - 1), i(-2**31), i(-2**31), i(2**31 - 1),
        op("height"), i(10001), op("height"), i(10000), op("messag"), text(b"X"), i(-2**31),
        i(2**31 - 1), op("axslen"), i(1), i(2**31 - 1), op("axspos"), i(-2**31), i(-2**31),
        op("setclr"), i(256), op("setclr"), i(-1), op("pagfll"), i(2**31 - 1),
        op("lintyp"), i(8), op("shdpat"), i(18), op("mypat"), i(2**31 - 1), i(-2**31), i(0),
        i(-1), op("ticks"), i(1001), kw(4), op("grid"), i(-1), i(2**31 - 1), op("disfin"))
    s["long_strings.bin"] = plot(
        "PDF", op("disini"), op("messag"), long_text("257"), i(10), i(500), op("name"),
        long_text("256"), kw(0), op("titlin"), long_text("257"), i(-4), op("titlin"),
        text(b""), i(5), op("paghdr"), long_text("257"), text(b"\x00\x01"), i(3), i(1),
        op("nlmess"), long_text("256"), op("disfin"))
    s["numbers_to_text.bin"] = plot(
        "GKSL", op("intcha"), i(-2**31), op("intcha"), i(0), op("fcha"), r("nan"), i(2),
        op("fcha"), r(9.96), i(1), op("fcha"), r("-max"), i(-1), op("fcha"), r(2), i(0),
        op("fcha"), r(1), i(1000))
    s["names.bin"] = plot(
        "PS", op("disini"), op("disfin"), op("setfil"), bytes([2, 30]), op("disini"),
        op("disfin"), op("setfil"), bytes([1]), op("disini"), op("disfin"), op("disini"),
        op("disfin"), op("setfil"), bytes([3]) + text(b".."), op("disini"), op("disfin"),
        name=bytes([1]))
    s["keywords.bin"] = plot(
        "GKSL", op("metafl"), bytes([24]), op("metafl"), bytes([25]), op("metafl"),
        bytes([29]), op("metafl"), bytes([225]) + text(b"\x00pdf"), op("disini"),
        op("setvlt"), bytes([10]), op("color"), bytes([11]), op("color"), bytes([12]),
        op("ticks"), i(3), bytes([8]), op("name"), text(b"y"), bytes([9]), op("disfin"))
    s["quick_plots.bin"] = plot(
        "PNG", op("quickplot"), r(5), r(0.5), op("disfin"), op("metafl"), kw(2),
        op("quickplot"), r("nan"), r("inf"), op("disfin"))
    return s


# ---- cli: the arguments after the program name, separated by NUL bytes -------------

def cli_seeds():
    lines = {
        "help.args": ["--help"],
        "version_short.args": ["-V"],
        "help_after_error.args": ["--bogus", "-h"],
        "example_peaks.args": ["--from", "0", "--to", "0.5", "--steps", "5000", "--peaks", "5",
                               "estrella.dat"],
        "example_csv.args": ["-w", "c", "--from", "0.01", "--to", "2", "--steps", "20000",
                             "-o", "espectro.csv", "-p", "espectro.pdf", "-q", "serie.dat"],
        "stdin_stdout.args": ["--from", "0", "--to", "1", "--steps", "1000", "-o", "-", "-"],
        "every_option.args": ["--window=square", "--from=1e-3", "--to=2D+00", "--steps=+10",
                              "--table=t.dat", "--plot=a.png", "-pb.BMP", "--plot", "c.tiff",
                              "--plot", "d.tif", "--plot", "e.eps", "--plot", "f.ps",
                              "--plot", "g.svg", "--size", "640x480", "--peaks=3", "--screen",
                              "-j2", "--quiet", "--", "-serie-"],
        "abbreviations.args": ["--fr", "0", "--t", "1", "--st", "5", "--wi", "h", "--pe", "1"],
        "options_after_operand.args": ["serie.dat", "--from", "0", "--to", "1", "--steps", "5"],
        "unknown.args": ["--bogus"],
        "ambiguous.args": ["--s", "5"],
        "missing_value.args": ["--from"],
        "missing_short_value.args": ["--from", "0", "--to", "1", "--steps", "5", "-o"],
        "missing_grid.args": ["--to", "1"],
        "from_above_to.args": ["--from", "3", "--to", "2"],
        "equal_limits.args": ["--from", "0.5", "--to", "0.5", "--steps", "5"],
        "zero_steps.args": ["--from", "0", "--to", "1", "--steps", "0"],
        "steps_limit.args": ["--from", "0", "--to", "1", "--steps", "9223372036854775806"],
        "steps_over_limit.args": ["--from", "0", "--to", "1", "--steps", "9223372036854775807"],
        "small_size.args": ["--from", "0", "--to", "1", "--steps", "5", "--size", "15x600"],
        "size_limits.args": ["--from", "0", "--to", "1", "--steps", "5", "--size", "16X16384"],
        "bad_window.args": ["--from", "0", "--to", "1", "--steps", "5", "-w", "hamming"],
        "two_series.args": ["--from", "0", "--to", "1", "--steps", "5", "a.dat", "b.dat"],
        "empty_series.args": ["--from", "0", "--to", "1", "--steps", "5", ""],
        "empty_table.args": ["--from", "0", "--to", "1", "--steps", "5", "-o", ""],
        "table_and_peaks_on_stdout.args": ["--from", "0", "--to", "1", "--steps", "5", "-o", "-",
                                           "--peaks", "2"],
        "no_extension.args": ["--from", "0", "--to", "1", "--steps", "5", "-p", "graph"],
        "dot_file.args": ["--from", "0", "--to", "1", "--steps", "5", "-p", "dir.pdf/.png"],
        "threads_limit.args": ["--from", "0", "--to", "1", "--steps", "5", "-j", "1024"],
        "threads_over_limit.args": ["--from", "0", "--to", "1", "--steps", "5", "-j", "1025"],
        "peaks_limit.args": ["--from", "0", "--to", "1", "--steps", "5", "--peaks", "1000000"],
        "numbers.args": ["--from", "-1.5D-3", "--to", "1.7976931348623157e308", "--steps", "7"],
        "huge_number.args": ["--from", "0", "--to", "1e309", "--steps", "7"],
        "tiny_numbers.args": ["--from", "-4.9e-324", "--to", "0", "--steps", "7"],
        "negative_zero.args": ["--from", "-0", "--to", "1e-300", "--steps", "1"],
        "comma_decimal.args": ["--from", "0,5", "--to", "1", "--steps", "1"],
        "inf_nan.args": ["--from", "-inf", "--to", "nan", "--steps", "1"],
        "non_ascii.args": ["--from", "0", "--to", "1", "--steps", "5", "-o", "espectro\u00f1.dat",
                           "-p", "gr\u00e1fico.PDF"],
        "dash_values.args": ["--from", "0", "--to", "1", "--steps", "5", "-o", "-x", "-p",
                             "-y.png", "--", "--from"],
        "empty_argument.args": [""],
        "errors_auto_grid.args": ["-e", "--peaks", "3", "estrella.dat"],
        "only_to.args": ["--errors", "--to", "2", "--oversample", "2.5"],
        "oversample_and_steps.args": ["--oversample", "4", "--steps", "10"],
        "bad_oversample.args": ["--oversample", "0"],
    }
    return {name: b"\0".join(a.encode("utf-8") for a in args) for name, args in lines.items()}


def engine_input(window, digits, threads, path, steps, f_ini, f_fin, width, pairs):
    head = struct.pack("<BBBBhddd", window, digits, threads, path, steps, f_ini, f_fin, width)
    return head + b"".join(struct.pack("<dd", t, x) for t, x in pairs)


def engine_seeds():
    wave = [(0.37 * k + 0.1 * (k % 3), math.sin(0.9 * k)) for k in range(20)]
    jd = [(2451545.0 + 1.31 * k, 12.0 + 0.1 * math.cos(0.4 * k)) for k in range(16)]
    return {
        "plain.bin": engine_input(0, 0, 1, 0, 40, 0.0, 2.0, 0.05, wave),
        "square_full.bin": engine_input(1, 1, 2, 0, 12, 0.01, 1.0, 0.0, wave),
        "julian_nufft.bin": engine_input(0, 0, 0, 2, 60, 0.0, 5.0, 0.1, jd),
        "scalar_lanes.bin": engine_input(1, 1, 1, 5, 8, 0.99, 1.01, 0.0, jd),
        "integer_times.bin": engine_input(1, 0, 1, 1, 4, 0.5, 2.0, 0.0,
                                          [(float(k), float(k * k % 7)) for k in range(8)]),
        "huge_frequency.bin": engine_input(1, 0, 1, 0, 1, 0.0, 1e308, 0.0, [(1, 1), (2, 2)]),
        "huge_time.bin": engine_input(0, 0, 1, 0, 3, 0.0, 1.0, 0.0,
                                      [(1, 1), (1e308, 2), (3, 1)]),
        "edge_phase.bin": engine_input(1, 0, 1, 0, 2, 1e294, 2e294, 0.0, jd),
        "huge_values.bin": engine_input(1, 0, 1, 0, 5, 0.1, 1.0, 0.0,
                                        [(0, 1e300), (1, -1e300), (2.5, 3e299), (4, 1)]),
        "tiny_values.bin": engine_input(0, 1, 1, 0, 5, 0.1, 1.0, 0.0,
                                        [(0, 1e-310), (1, -2e-310), (2.5, 5e-324), (4, 0)]),
        "no_steps.bin": engine_input(1, 0, 1, 0, 0, 0.0, 1.0, 0.0, wave),
        "bad_settings.bin": engine_input(2, 2, 3, 3, -3, math.inf, math.nan, -1.0, wave),
    }


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(HERE, "corpus")
    for target, seeds in (("series", series_seeds()), ("answers", answer_seeds()),
                          ("cli", cli_seeds()), ("plot", plot_seeds()),
                          ("engine", engine_seeds())):
        d = os.path.join(out, target)
        os.makedirs(d, exist_ok=True)
        for old in os.listdir(d):
            os.remove(os.path.join(d, old))
        for name, data in seeds.items():
            with open(os.path.join(d, name), "wb") as f:
                f.write(data)


if __name__ == "__main__":
    main()
