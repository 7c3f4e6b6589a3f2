// The circle constants of platform/math.h, computed by static initialisers from the
// stored single-precision pi. Portable.
#include "platform/math.h"

const float g_TwoPi = 2.0f * PLATFORM_PI;
const float g_HalfPi = 0.5f * PLATFORM_PI;
const float g_InvPi = 1.0f / PLATFORM_PI;
