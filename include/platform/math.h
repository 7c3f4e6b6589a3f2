// The platform's single-precision circle constants, computed at load from the stored pi.
// Portable.
#pragma once

#define PLATFORM_PI 3.1415927f

extern const float g_TwoPi;
extern const float g_HalfPi;
extern const float g_InvPi;
