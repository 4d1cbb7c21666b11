// The colour commands: colour tables and the colour they make current.
#ifndef PLOTIX_LIFE_COLOUR_COMMANDS_H
#define PLOTIX_LIFE_COLOUR_COMMANDS_H

namespace plotix::detail {

// Builds the table of type 0..8 by the rules of the active device and makes
// the foreground colour current (setvlt without the level check and keyword
// lookup).
void qqvlt(int type);
// Hands the whole table to the active driver (its palette).
void shwvlt();

} // namespace plotix::detail

#endif
