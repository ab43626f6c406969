#include "visa/scpinumber.h"

#include <charconv>
#include <cmath>
#include <system_error>

namespace visa {

namespace {

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

// Decimal numeric response data: sign, digits with an optional point, an
// optional exponent. Rejects what from_chars would also take (inf, nan, hex).
bool isDecimalNumber(const char *b, const char *e)
{
    if (b < e && (*b == '+' || *b == '-'))
        ++b;
    int digits = 0;
    while (b < e && isDigit(*b)) {
        ++b;
        ++digits;
    }
    if (b < e && *b == '.') {
        ++b;
        while (b < e && isDigit(*b)) {
            ++b;
            ++digits;
        }
    }
    if (digits == 0)
        return false;
    if (b < e && (*b == 'e' || *b == 'E')) {
        ++b;
        if (b < e && (*b == '+' || *b == '-'))
            ++b;
        if (b == e || !isDigit(*b))
            return false;
        while (b < e && isDigit(*b))
            ++b;
    }
    return b == e;
}

} // namespace

bool parseScpiReal(const char *text, size_t len, double *value)
{
    const char *b = text;
    const char *e = text + len;
    while (b < e && isBlank(*b))
        ++b;
    while (e > b && isBlank(e[-1]))
        --e;
    if (!isDecimalNumber(b, e))
        return false;
    // from_chars takes no '+' and never looks at the C locale.
    const bool negative = *b == '-';
    if (*b == '+' || *b == '-')
        ++b;
    double v = 0;
    const auto res = std::from_chars(b, e, v, std::chars_format::general);
    if (res.ec != std::errc() || res.ptr != e)
        return false; // also for a value beyond double's range
    *value = negative ? -v : v;
    return true;
}

bool parseScpiInt(const char *text, size_t len, int32_t *value)
{
    double v = 0;
    if (!parseScpiReal(text, len, &v))
        return false;
    if (v != std::floor(v) || v < -2147483648.0 || v > 2147483647.0)
        return false;
    *value = static_cast<int32_t>(v);
    return true;
}

} // namespace visa
