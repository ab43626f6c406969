#include "visa/rsrcexpr.h"

#include <bitset>
#include <cctype>
#include <vector>

namespace visa {

namespace {

// Longer expressions are refused: nobody types one.
constexpr size_t MaxExpr = 256;

// Thompson's construction: the expression becomes a small automaton that
// is run over the resource string in one pass, with no backtracking, so no
// expression ("(a*)*") can make a match take long.
struct State {
    enum Kind { Char, Split, Match } kind = Split;
    std::bitset<256> chars; // Char: the characters taken
    int out = -1;           // next state (Char, Split)
    int out1 = -1;          // Split: the other way, -1 when none
};

class Compiler {
public:
    Compiler(const std::string &expr, std::vector<State> *states) : e_(expr), st_(*states) {}

    // The start state; -1 when the expression is malformed.
    int compile()
    {
        Frag f;
        if (!alternatives(&f) || i_ != e_.size())
            return -1;
        State match;
        match.kind = State::Match;
        patch(f, add(match));
        return f.start;
    }

private:
    struct Frag {
        int start = -1;
        std::vector<std::pair<int, bool>> outs; // dangling exits: (state, out1?)
    };

    int add(const State &s)
    {
        st_.push_back(s);
        return int(st_.size()) - 1;
    }

    void patch(const Frag &f, int to)
    {
        for (const auto &o : f.outs)
            (o.second ? st_[size_t(o.first)].out1 : st_[size_t(o.first)].out) = to;
    }

    bool more() const { return i_ < e_.size(); }

    bool alternatives(Frag *out)
    {
        Frag a;
        if (!sequence(&a))
            return false;
        while (more() && e_[i_] == '|') {
            ++i_;
            Frag b;
            if (!sequence(&b))
                return false;
            State s;
            s.out = a.start;
            s.out1 = b.start;
            a.start = add(s);
            a.outs.insert(a.outs.end(), b.outs.begin(), b.outs.end());
        }
        *out = a;
        return true;
    }

    bool sequence(Frag *out)
    {
        // An empty sequence ("a|", "()") passes straight on.
        State pass;
        Frag seq;
        seq.start = add(pass);
        seq.outs = {{seq.start, false}};
        while (more() && e_[i_] != '|' && e_[i_] != ')') {
            Frag f;
            if (!atom(&f))
                return false;
            if (more() && (e_[i_] == '*' || e_[i_] == '+'))
                repeat(e_[i_++] == '+', &f);
            if (more() && (e_[i_] == '*' || e_[i_] == '+'))
                return false; // "a**": nothing to repeat
            patch(seq, f.start);
            seq.outs = f.outs;
        }
        *out = seq;
        return true;
    }

    void repeat(bool once, Frag *f)
    {
        State s;
        s.out = f->start;
        const int loop = add(s);
        patch(*f, loop);
        if (!once)
            f->start = loop;
        f->outs = {{loop, true}};
    }

    static void addNoCase(std::bitset<256> *set, unsigned char c)
    {
        set->set(c);
        set->set(static_cast<unsigned char>(std::tolower(c)));
        set->set(static_cast<unsigned char>(std::toupper(c)));
    }

    bool atom(Frag *out)
    {
        State s;
        s.kind = State::Char;
        const char c = e_[i_++];
        switch (c) {
        case '?':
            s.chars.set();
            break;
        case '\\':
            if (!more())
                return false;
            addNoCase(&s.chars, static_cast<unsigned char>(e_[i_++]));
            break;
        case '[':
            if (!list(&s.chars))
                return false;
            break;
        case '(':
            if (!alternatives(out) || !more() || e_[i_] != ')')
                return false;
            ++i_;
            return true;
        case '*':
        case '+':
        case '{': // attribute conditions
            return false;
        default:
            addNoCase(&s.chars, static_cast<unsigned char>(c));
        }
        out->start = add(s);
        out->outs = {{out->start, false}};
        return true;
    }

    // After '[': characters and a-z ranges up to ']' (one right at the
    // start belongs to the list), all but them after a leading '^'.
    bool list(std::bitset<256> *set)
    {
        const bool negated = more() && e_[i_] == '^';
        if (negated)
            ++i_;
        const size_t first = i_;
        while (more() && (e_[i_] != ']' || i_ == first)) {
            unsigned char lo = static_cast<unsigned char>(e_[i_++]);
            if (lo == '\\') {
                if (!more())
                    return false;
                lo = static_cast<unsigned char>(e_[i_++]);
            }
            unsigned char hi = lo;
            if (i_ + 1 < e_.size() && e_[i_] == '-' && e_[i_ + 1] != ']') {
                hi = static_cast<unsigned char>(e_[i_ + 1]);
                i_ += 2;
                if (hi < lo)
                    return false;
            }
            for (unsigned c = lo; c <= hi; ++c)
                addNoCase(set, static_cast<unsigned char>(c));
        }
        if (!more())
            return false;
        ++i_; // ']'
        if (negated)
            set->flip();
        return true;
    }

    const std::string &e_;
    std::vector<State> &st_;
    size_t i_ = 0;
};

} // namespace

struct RsrcExpr::Private {
    std::vector<State> states;
    int start = -1;

    // Adds s and every state its empty moves reach to the set.
    void enter(int s, std::vector<char> *in, std::vector<int> *list) const
    {
        std::vector<int> todo = {s};
        while (!todo.empty()) {
            const int t = todo.back();
            todo.pop_back();
            if (t < 0 || (*in)[size_t(t)])
                continue;
            (*in)[size_t(t)] = 1;
            const State &st = states[size_t(t)];
            if (st.kind == State::Split) {
                todo.push_back(st.out);
                todo.push_back(st.out1);
            } else {
                list->push_back(t);
            }
        }
    }
};

RsrcExpr::RsrcExpr(std::unique_ptr<Private> d) : d_(std::move(d)) {}
RsrcExpr::~RsrcExpr() = default;

std::unique_ptr<RsrcExpr> RsrcExpr::compile(const std::string &expr)
{
    if (expr.empty() || expr.size() > MaxExpr)
        return nullptr;
    auto d = std::make_unique<Private>();
    d->start = Compiler(expr, &d->states).compile();
    if (d->start < 0)
        return nullptr;
    return std::unique_ptr<RsrcExpr>(new RsrcExpr(std::move(d)));
}

bool RsrcExpr::matches(const std::string &resource) const
{
    const size_t n = d_->states.size();
    std::vector<char> in(n, 0);
    std::vector<int> now, next;
    d_->enter(d_->start, &in, &now);
    for (const char c : resource) {
        std::fill(in.begin(), in.end(), 0);
        next.clear();
        for (const int s : now) {
            const State &st = d_->states[size_t(s)];
            if (st.kind == State::Char && st.chars.test(static_cast<unsigned char>(c)))
                d_->enter(st.out, &in, &next);
        }
        now.swap(next);
        if (now.empty())
            return false;
    }
    for (const int s : now) {
        if (d_->states[size_t(s)].kind == State::Match)
            return true;
    }
    return false;
}

} // namespace visa
