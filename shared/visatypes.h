// VISA type names (ViSession, ViStatus, ViInt32, ...) as used across the
// application; they come from our VISA library's C header.
#pragma once

#include "visa/visa.h"
