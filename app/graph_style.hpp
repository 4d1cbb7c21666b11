// The look of a batch graph as the command line asks for it.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <utility>

namespace fasogram {

// What the command line says of the look of a batch graph.
struct GraphStyle {
    std::string time_unit;                         // --time-unit; empty: none named
    bool period_axis = false;                      // --x period
    std::optional<std::pair<double, double>> ylim; // --ylim A:B; none: fitted
    std::optional<std::string> title, xlabel, ylabel;
    std::size_t mark_peaks = 0; // --mark-peaks K
    bool stamp = false;         // --stamp: the date line in the margin
};

} // namespace fasogram
