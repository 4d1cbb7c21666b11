// Device set-up helpers shared by the drivers' begin().
#ifndef PLOTIX_DRIVERS_SETUP_H
#define PLOTIX_DRIVERS_SETUP_H

namespace plotix::detail {

// User scale times unit divisor.
float setup_p();
// Page width and height as the devices take them (exchanged with orientation swap 1).
void oriented_page(float& w, float& h);
// Scale of a pixel device of wp x hp pixels (screens, images, applet source).
float pixel_scale(int wp, int hp);

} // namespace plotix::detail

#endif
