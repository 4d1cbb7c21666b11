// The English texts of the batch graphs, kept together so that they can be
// translated in one place.
#pragma once

namespace fasogram::graph_text {

inline constexpr const char* frequency_label = "frequency (cycles per %s)";
inline constexpr const char* frequency_any_unit = "unit of time";
inline constexpr const char* period_label = "period (%s)";
inline constexpr const char* period_no_unit = "period";
inline constexpr const char* rho_label = "fraction of variance explained (rho)";
inline constexpr const char* stamp_heading = "fasogram";
// A false-alarm level: the percentage, then a literal percent sign.
inline constexpr const char* fap_level_label = "FAP %s%%";

} // namespace fasogram::graph_text
