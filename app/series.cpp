// The series files of the program: the engine's reader with the program's messages.
#include "series.hpp"

#include "error.hpp"
#include "messages.hpp"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <string>

namespace fasogram {

namespace {

// The reason of a line that cannot be read, in the run's language.
std::string reason(const SeriesReadError& error) {
    using Kind = SeriesReadError::Kind;
    switch (error.kind()) {
    case Kind::empty_field:
        return _("empty field in column ") + std::to_string(error.column()) +
               _(" (two separators in a row or one at the start)");
    case Kind::malformed_number: return _("malformed number: '") + quoted_input(error.text()) + "'";
    case Kind::too_few_columns:
        return _("three numbers (time, value and error) are expected and there are ") +
               std::to_string(error.fields());
    case Kind::bad_error:
        return _("the error must be a number greater than 0: '") + quoted_input(error.text()) + "'";
    }
    return error.what();
}

} // namespace

Series read_series(std::istream& in, std::string_view name, const SeriesLayout& layout) {
    try {
        return read_series(in, layout);
    } catch (const SeriesReadError& error) {
        throw FatalError(std::string(name) + _(", line ") + std::to_string(error.line()) + ": " +
                         reason(error));
    }
}

Series read_series_file(const std::filesystem::path& path, std::string_view name,
                        const SeriesLayout& layout) {
    const auto failed = [&name](const char* what, int error) {
        return FatalError(std::string(what) + " " + quoted_input(name) + ": " +
                          std::strerror(error == 0 ? EIO : error));
    };
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec)) throw failed(_("cannot open the file"), EISDIR);
    errno = 0;
    std::ifstream in(path, std::ios::binary);
    if (!in) throw failed(_("cannot open the file"), errno);
    Series series = read_series(in, name, layout);
    if (in.bad()) throw failed(_("error reading the file"), errno);
    return series;
}

} // namespace fasogram
