#include "visa/rsrcexpr.h"

#include <cstring>
#include <regex>

namespace visa {

namespace {

// Longer expressions are refused: nobody types one, and the matcher's cost
// grows with it.
constexpr size_t MaxExpr = 256;

void literal(char c, std::string *out)
{
    if (std::strchr("\\^$.|?*+()[]{}/", c))
        *out += '\\';
    *out += c;
}

// The same expression in ECMAScript syntax; false when it is malformed.
bool translate(const std::string &expr, std::string *out)
{
    for (size_t i = 0; i < expr.size(); ++i) {
        const char c = expr[i];
        switch (c) {
        case '\\':
            if (++i == expr.size())
                return false;
            literal(expr[i], out);
            break;
        case '?':
            *out += "[\\s\\S]";
            break;
        case '[': {
            *out += '[';
            size_t k = i + 1;
            if (k < expr.size() && expr[k] == '^')
                *out += expr[k++];
            const size_t first = k;
            // A ']' right at the start belongs to the list.
            while (k < expr.size() && (expr[k] != ']' || k == first)) {
                if (expr[k] == '\\' || expr[k] == '[' || expr[k] == ']')
                    *out += '\\';
                *out += expr[k++];
            }
            if (k == expr.size())
                return false;
            *out += ']';
            i = k;
            break;
        }
        case '*':
        case '+':
        case '|':
        case '(':
        case ')':
            *out += c;
            break;
        case '{':
            return false; // attribute conditions
        default:
            literal(c, out);
        }
    }
    return true;
}

} // namespace

struct RsrcExpr::Private {
    std::regex regex;
};

RsrcExpr::RsrcExpr(std::unique_ptr<Private> d) : d_(std::move(d)) {}
RsrcExpr::~RsrcExpr() = default;

std::unique_ptr<RsrcExpr> RsrcExpr::compile(const std::string &expr)
{
    std::string ecma;
    if (expr.empty() || expr.size() > MaxExpr || !translate(expr, &ecma))
        return nullptr;
    auto d = std::make_unique<Private>();
    try {
        d->regex = std::regex(ecma, std::regex::ECMAScript | std::regex::icase | std::regex::nosubs);
    } catch (const std::regex_error &) {
        return nullptr; // "*x", "a**", "(a", ...
    }
    return std::unique_ptr<RsrcExpr>(new RsrcExpr(std::move(d)));
}

bool RsrcExpr::matches(const std::string &resource) const
{
    try {
        return std::regex_match(resource, d_->regex);
    } catch (const std::regex_error &) {
        return false; // too complex to decide
    }
}

} // namespace visa
