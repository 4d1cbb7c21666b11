// Fuzz target: the answer reader of the dialogue.  The first two bytes of an
// input choose up to eight reads (two bits each: a one-letter answer, a real,
// an integer or the raw value, as the dialogue asks them); the rest is what
// the user types.  Every answer and the error that ends the reads are
// compared with a plain reference reader written from the rules of the
// dialogue.
#include "console_in.hpp"
#include "error.hpp"
#include "fuzz_check.hpp"
#include "reference_readers.hpp"

#include <cstdint>
#include <cstdio>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>

namespace {

enum Kind { letter, real, integer, raw };

const char* const kQuestions[4] = {"ventana Hanning (h) o cuadrada (c)?", "frecuencia inicial?",
                                   "Numero de puntos que tendra el espectro?", "respuesta"};

// What the reference makes of one answer: its text form, or the error.
struct Answer {
    std::string value;
    std::string error;
};

// Reads the answers by the rules: each answer starts on a fresh line; lines
// of blanks, tabs and CRs only are skipped; the value runs from the first
// other character to the next blank, tab, CR, comma or the end of the line;
// the rest of the line is dropped.  A real answer of digits (a sign first)
// that stops at a comma with a digit right after it is a decimal comma: it
// is refused and the next answer read instead.
class ReferenceAnswers {
  public:
    explicit ReferenceAnswers(std::string_view text) : text_(text) {}

    Answer next(Kind kind, std::string_view question) {
        std::optional<std::string> value;
        while (!value && pos_ < text_.size()) {
            std::size_t end = text_.find('\n', pos_);
            if (end == std::string_view::npos) end = text_.size();
            const std::string_view line = text_.substr(pos_, end - pos_);
            pos_ = end + 1;
            const std::size_t first = line.find_first_not_of(std::string_view(" \t\r"));
            if (first == std::string_view::npos) continue;
            const std::size_t stop = line.find_first_of(std::string_view(" \t\r,"), first);
            value = std::string(line.substr(
                first, stop == std::string_view::npos ? std::string_view::npos : stop - first));
            if (kind == real && stop != std::string_view::npos && line[stop] == ',' &&
                stop + 1 < line.size() && line[stop + 1] >= '0' && line[stop + 1] <= '9') {
                std::string digits = *value;
                if (!digits.empty() && (digits[0] == '+' || digits[0] == '-')) digits.erase(0, 1);
                if (!digits.empty() && digits.find_first_not_of("0123456789") == std::string::npos)
                    value.reset();
            }
        }
        if (!value) {
            return {"",
                    "fin de la entrada al esperar la respuesta a '" + std::string(question) + "'"};
        }
        const std::string invalid = "respuesta no valida a '" + std::string(question) + "': '" +
                                    fuzz::reference_quoted(*value) + "'";
        switch (kind) {
        case letter: return {value->empty() ? std::string(",") : value->substr(0, 1), ""};
        case real: {
            const std::optional<double> v = fuzz::reference_real(*value);
            return v ? Answer{text_of(*v), ""} : Answer{"", invalid};
        }
        case integer: {
            const std::optional<int> v = fuzz::reference_int(*value);
            return v ? Answer{std::to_string(*v), ""} : Answer{"", invalid};
        }
        case raw: return {*value, ""};
        }
        return {};
    }

    static std::string text_of(double v) {
        char buf[40];
        std::snprintf(buf, sizeof buf, "%a", v);
        return buf;
    }

  private:
    std::string_view text_;
    std::size_t pos_ = 0;
};

Answer program_answer(fasogram::AnswerReader& reader, Kind kind, std::string_view question) {
    try {
        switch (kind) {
        case letter: return {std::string(1, reader.read_char(question)), ""};
        case real: return {ReferenceAnswers::text_of(reader.read_real(question)), ""};
        case integer: return {std::to_string(reader.read_int(question)), ""};
        case raw: return {reader.read_value(question), ""};
        }
    } catch (const fasogram::FatalError& e) {
        return {"", e.what()};
    }
    return {};
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    const unsigned plan = data[0] | (data[1] << 8);
    const std::string text(reinterpret_cast<const char*>(data + 2), size - 2);
    std::istringstream in(text);
    std::ostringstream prompts;
    fasogram::AnswerReader reader(in, prompts);
    ReferenceAnswers reference(text);
    for (int k = 0; k < 8; ++k) {
        const Kind kind = static_cast<Kind>((plan >> (2 * k)) & 3);
        const std::string_view question = kQuestions[kind];
        const Answer want = reference.next(kind, question);
        const Answer got = program_answer(reader, kind, question);
        fuzz::check(got.value == want.value && got.error == want.error,
                    "answer " + std::to_string(k + 1) + ": reader gave '" + fuzz::shown(got.value) +
                        "' / error '" + fuzz::shown(got.error) + "', reference '" +
                        fuzz::shown(want.value) + "' / error '" + fuzz::shown(want.error) + "'");
        if (!want.error.empty()) break; // the dialogue stops at the first error
    }
    return 0;
}
