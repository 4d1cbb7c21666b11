// Defaults and the start and end of a plot.
#ifndef PLOTIX_LIFE_LIFECYCLE_H
#define PLOTIX_LIFE_LIFECYCLE_H

namespace plotix::detail {

// Page size and the default axis lengths and position from the page inputs.
void defvar();
// Restores every per-plot setting to its default.
void resall();
// Strokes pending lines and clears the page on the devices that can.
void erase_page();

} // namespace plotix::detail

#endif
