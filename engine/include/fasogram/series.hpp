// Series of (time, value) pairs, or (time, value, error) triples, read from
// text: the format of the program's series files and of survey light curves.
#pragma once

#include <cstddef>
#include <istream>
#include <limits>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace fasogram {

// Reads a real number written in any decimal or exponent notation: an
// optional sign, digits with an optional decimal point, and an optional
// exponent introduced by E, e, D or d (the Fortran double-precision letter).
// The whole text must be the number.  Returns nothing for anything else,
// including values that overflow a double (and the words nan and inf); a
// value too small for a double reads as the nearest one (a signed zero or a
// subnormal).  Independent of the C locale.
std::optional<double> parse_real(std::string_view text);

// Text from the input as a message quotes it: control characters (NUL, ESC,
// newlines, ...) written as \xNN, so that the message stays one line, and
// cut after 200 characters with "..." at the end.
std::string quoted_input(std::string_view value);

struct Series {
    std::vector<double> t;     // times, in file order
    std::vector<double> x;     // values
    std::vector<double> sigma; // measurement errors (SeriesLayout::errors), else empty
    std::size_t size() const { return t.size(); }

    std::string header;   // the header line skipped, if any (without its line end)
    long header_line = 0; // its line number; 0 when there was none

    // Without SeriesLayout::errors: the first line whose pair is followed by
    // a third number on the same line (a column that is not read); 0 when
    // none is.
    long third_column_line = 0;
    // Reading stopped at the limit with more lines of data to come.
    bool more = false;
};

// How a series is read.
struct SeriesLayout {
    std::size_t limit = std::numeric_limits<std::size_t>::max(); // pairs read at most
    bool header = false; // a first line without a number is a header
    // Each line holds time, value and the value's error (finite, above 0),
    // all three on the line.
    bool errors = false;
};

// A line that cannot be read.  what() says it in English, as
// "line N: <reason>"; a caller that words its messages itself has the parts.
class SeriesReadError : public std::invalid_argument {
  public:
    enum class Kind {
        empty_field,      // nothing between two separators, or before the first one
        malformed_number, // a field that is not a number
        too_few_columns,  // with errors: fewer than three fields on a line
        bad_error,        // with errors: an error that is not finite or not above 0
    };
    SeriesReadError(Kind kind, long line, std::size_t column, std::string text, std::size_t fields);
    Kind kind() const { return kind_; }
    long line() const { return line_; }               // from 1
    std::size_t column() const { return column_; }    // the field at fault, from 1
    const std::string& text() const { return text_; } // its text (empty for empty_field)
    std::size_t fields() const { return fields_; }    // the fields on the line

  private:
    Kind kind_;
    long line_;
    std::size_t column_;
    std::string text_;
    std::size_t fields_;
};

// Reads pairs of time and value.  Each pair starts on a new line; its two
// numbers are separated by blanks, tabs or a comma and may stand on
// consecutive lines; whatever follows the second number on its line is
// ignored; empty lines, lines of separators alone and comment lines (whose
// first character other than a blank is '#' or '%') are skipped; CR LF line
// ends and a UTF-8 byte order mark are accepted.  A lone time at the end of
// the input is dropped.  With `layout.errors` every pair is a triple (time,
// value, error) on one line instead, and a line with fewer fields is an
// error.  Reading stops after `layout.limit` pairs (Series::more tells
// whether data lines follow; they are not read).  When `layout.header` is
// set, the first line that is neither empty nor a comment and holds no
// number is kept as the header instead.  A field that is not a number, an
// empty field where a number is read (between two commas, or before the
// first one: "1,,2", ",1,2") and an error that is not above 0 raise
// SeriesReadError.  The stream's own failures are the caller's to check.
Series read_series(std::istream& in, const SeriesLayout& layout = {});

// The same over text held in memory.
Series read_series(std::string_view text, const SeriesLayout& layout = {});

} // namespace fasogram
