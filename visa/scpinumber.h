// Locale-free parsing of one number from an instrument's reply, as the
// "%d" and "%lf" read formats need it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace visa {

// The whole text, less surrounding white space (the reply's line feed),
// must be one decimal number: NR1 ("1", "-12"), NR2 ("+0.5") or NR3
// ("+3.50000E+01"). Returns false otherwise.
bool parseScpiReal(const char *text, size_t len, double *value);

// As parseScpiReal, and the value must be a whole number in the int32
// range: instruments often send an integer setting as "+1.00000E+00".
bool parseScpiInt(const char *text, size_t len, int32_t *value);

} // namespace visa
