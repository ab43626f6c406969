// The regular expressions viFindRsrc takes ("TCPIP?*INSTR", "?*"), matched
// without regard to case against whole resource strings:
//   ?        any one character          \c     the character c itself
//   [list]   one character of the list  [^list] one character not in it
//            (a-z ranges allowed)
//   *  +     the preceding character or group 0 or more / 1 or more times
//   a|b      either                     (exp)  grouping
// The attribute conditions VISA allows after the expression ("{...}") are
// not supported.
#pragma once

#include <memory>
#include <string>

namespace visa {

class RsrcExpr {
public:
    ~RsrcExpr();
    // Null for an expression that is malformed or uses what is not supported.
    static std::unique_ptr<RsrcExpr> compile(const std::string &expr);
    bool matches(const std::string &resource) const;

private:
    struct Private;
    explicit RsrcExpr(std::unique_ptr<Private> d);
    std::unique_ptr<Private> d_;
};

} // namespace visa
