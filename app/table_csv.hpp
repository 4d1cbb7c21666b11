// The spectrum table of a batch run: a file in the table's fixed columns or,
// for a name ending in .csv, comma-separated values; or standard output.
#pragma once

#include "fasogram/spectrum.hpp"
#include "output_file.hpp"

#include <memory>
#include <string>
#include <string_view>

namespace fasogram {

// The header line of a CSV table and one line of it: the frequency with the
// fewest digits that read back as exactly the same double, rho, C1, C2 and
// C3 with 17 significant digits, value + tail correctly rounded (NaN reads
// "nan", infinities "inf" and "-inf").  No line end.
// The same column identifiers in every language.
inline constexpr std::string_view csv_header = "frequency,rho,C1,C2,C3";
std::string format_csv_line(const SpectrumPoint& point);

// Whether a table name asks for CSV (it ends in .csv, in any case).
bool is_csv_name(std::string_view name);

class TableOutput {
  public:
    // "-" is standard output (fixed columns), "" writes nothing; any other name a file of
    // `outputs`, complete after finish() and put in place with the run's
    // other outputs.  Failures raise FatalError naming the file and the
    // system's reason.
    TableOutput(const std::string& destination, RunOutputs& outputs);
    void write(const SpectrumPoint& point);
    void finish();

    // The name to show in messages.
    const std::string& name() const { return name_; }

  private:
    void put(std::string_view line);

    std::string name_;
    bool csv_ = false;
    ReplacingFile* file_ = nullptr; // none: standard output
    bool discard_ = false;          // no table asked for
    std::string line_;
};

} // namespace fasogram
