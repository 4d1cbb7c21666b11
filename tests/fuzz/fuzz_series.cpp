// Fuzz target: the series reader on any bytes taken as a data file.  Its
// result is compared with a plain reference reader written from the rules of
// the data file: the same pairs, bit for bit, or the same error line.
#include "error.hpp"
#include "fuzz_check.hpp"
#include "reference_readers.hpp"
#include "series.hpp"

#include <cstdint>
#include <cstring>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr std::string_view kName = "datos.dat";

struct Outcome {
    std::vector<double> t, x;
    std::string error; // empty: read without error
};

bool separates(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == ',';
}

// The rules, one character at a time: lines end at '\n'; blanks, tabs, CR
// and commas separate numbers; a comma with no number since the line's start
// or the comma before it, and a last comma with none after it, stand for an
// empty field, an error where a number is read unless the line holds no
// number at all; the first number of a pair starts it, the second ends it
// and the rest of its line is skipped; a UTF-8 byte order mark opens the
// first line at most; reading stops after max_pairs pairs.
Outcome reference_read(std::string_view text) {
    Outcome out;
    if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
    long line = 1;
    bool have_time = false, skip_rest = false, line_start = true;
    bool word_since_comma = false; // a word since the line's start or its last comma
    bool line_has_word = false;
    bool comma_on_line = false;
    int column = 0; // fields of the line so far
    double time = 0.0;
    std::size_t i = 0;
    auto empty_field = [&] {
        ++column;
        if (skip_rest || !line_has_word) return false;
        out.error = std::string(kName) + ", line " + std::to_string(line) +
                    ": empty field in column " + std::to_string(column) +
                    " (two separators in a row or one at the start)";
        return true;
    };
    auto new_line = [&] {
        const std::size_t end = text.find('\n', i);
        const std::string_view rest = text.substr(i, end == std::string_view::npos ? end : end - i);
        line_has_word = rest.find_first_not_of(std::string_view(" \t\r,", 4)) != rest.npos;
        word_since_comma = false;
        comma_on_line = false;
        column = 0;
    };
    new_line();
    while (i < text.size() && out.t.size() < fasogram::max_pairs) {
        const char c = text[i];
        if (c == '\n') {
            if (comma_on_line && !word_since_comma && empty_field()) return out;
            ++line;
            skip_rest = false;
            line_start = true;
            ++i;
            new_line();
            continue;
        }
        // A line whose first character other than a blank is '#' or '%' is a
        // comment.
        if (line_start && c != ' ' && c != '\t' && c != '\r') {
            line_start = false;
            if (c == '#' || c == '%') skip_rest = true;
        }
        if (c == ',') {
            if (!word_since_comma && empty_field()) return out;
            word_since_comma = false;
            comma_on_line = true;
            ++i;
            continue;
        }
        if (skip_rest || separates(c)) {
            ++i;
            continue;
        }
        std::size_t end = i;
        while (end < text.size() && !separates(text[end]) && text[end] != '\n') ++end;
        const std::string_view word = text.substr(i, end - i);
        word_since_comma = true;
        ++column;
        i = end;
        const std::optional<double> v = fuzz::reference_real(word);
        if (!v) {
            out.error = std::string(kName) + ", line " + std::to_string(line) +
                        ": malformed number: '" + fuzz::reference_quoted(word) + "'";
            return out;
        }
        if (have_time) {
            out.t.push_back(time);
            out.x.push_back(*v);
            have_time = false;
            skip_rest = true;
        } else {
            time = *v;
            have_time = true;
        }
    }
    // The last line, without a line end.
    if (i == text.size() && comma_on_line && !word_since_comma) empty_field();
    return out;
}

bool same_bits(double a, double b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

void compare(const std::string& text) {
    const Outcome ref = reference_read(text);
    Outcome got;
    std::istringstream in(text);
    try {
        const fasogram::Series s = fasogram::read_series(in, kName);
        got.t = s.t;
        got.x = s.x;
    } catch (const fasogram::FatalError& e) {
        got.error = e.what();
    }
    fuzz::check(got.error == ref.error, "series reader error '" + fuzz::shown(got.error) +
                                            "', reference '" + fuzz::shown(ref.error) + "'");
    if (!ref.error.empty()) return;
    fuzz::check(got.t.size() == ref.t.size() && got.x.size() == got.t.size(),
                "series reader read " + std::to_string(got.t.size()) + " pairs, reference " +
                    std::to_string(ref.t.size()));
    for (std::size_t k = 0; k < ref.t.size(); ++k) {
        fuzz::check(same_bits(got.t[k], ref.t[k]) && same_bits(got.x[k], ref.x[k]),
                    "pair " + std::to_string(k + 1) + " differs from the reference");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    compare(text);
    // Now and then the input is repeated past the pair limit, with a line that
    // is not a number behind it: reading must stop at the limit without
    // looking at that line (one small input in 256, to keep the runs fast).  Every
    // copy starts on a new line, so the first number of a copy always counts:
    // a copy with p pairs gives p pairs again, and two copies give at least
    // one pair when there is a number at all.
    std::uint32_t sum = 0;
    for (std::size_t k = 0; k < size; ++k) sum = sum * 31 + data[k];
    if (size > 0 && size <= 32 && sum % 256 == 0) {
        const std::string line = text.back() == '\n' ? text : text + "\n";
        const Outcome once = reference_read(line);
        if (!once.error.empty()) return 0;
        const std::size_t copies =
            once.t.empty() ? 2 * fasogram::max_pairs + 2 : fasogram::max_pairs / once.t.size() + 2;
        std::string big;
        big.reserve(line.size() * copies + 16);
        for (std::size_t k = 0; k < copies; ++k) big += line;
        compare(big + "not a number\n");
    }
    return 0;
}
