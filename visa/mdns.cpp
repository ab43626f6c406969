#include "visa/mdns.h"

namespace mdns {

namespace {

constexpr size_t HeaderSize = 12;
constexpr uint8_t PointerBits = 0xC0;

class Reader {
public:
    Reader(const uint8_t *data, size_t len) : d_(data), len_(len) {}

    bool u16(uint16_t *v)
    {
        if (len_ - pos_ < 2)
            return false;
        *v = uint16_t(d_[pos_] << 8 | d_[pos_ + 1]);
        pos_ += 2;
        return true;
    }

    bool u32(uint32_t *v)
    {
        uint16_t hi = 0, lo = 0;
        if (!u16(&hi) || !u16(&lo))
            return false;
        *v = uint32_t(hi) << 16 | lo;
        return true;
    }

    // A name at the current position, following compression pointers. Each
    // pointer must lead to an offset before the one the last jump led to,
    // so a message cannot send the reader round in a loop.
    bool name(Name *out)
    {
        out->clear();
        size_t p = pos_;
        size_t limit = pos_;
        size_t wire = 1; // the root label
        bool jumped = false;
        for (;;) {
            if (p >= len_)
                return false;
            const uint8_t c = d_[p];
            if (c == 0) {
                if (!jumped)
                    pos_ = p + 1;
                return true;
            }
            if ((c & PointerBits) == PointerBits) {
                if (p + 1 >= len_)
                    return false;
                const size_t to = size_t(c & ~PointerBits) << 8 | d_[p + 1];
                if (to >= limit)
                    return false;
                if (!jumped)
                    pos_ = p + 2;
                jumped = true;
                limit = to;
                p = to;
                continue;
            }
            if (c & PointerBits)
                return false; // the two reserved label kinds
            if (len_ - p - 1 < c)
                return false;
            wire += 1 + size_t(c);
            if (wire > MaxNameWire)
                return false;
            out->emplace_back(reinterpret_cast<const char *>(d_ + p + 1), c);
            p += 1 + size_t(c);
        }
    }

    // Character strings (a length byte, then the bytes) up to end.
    bool texts(size_t end, std::vector<std::string> *out)
    {
        while (pos_ < end) {
            const size_t n = d_[pos_];
            if (end - pos_ - 1 < n)
                return false;
            out->emplace_back(reinterpret_cast<const char *>(d_ + pos_ + 1), n);
            pos_ += 1 + n;
        }
        return true;
    }

    bool skipTo(size_t p)
    {
        if (p > len_ || p < pos_)
            return false;
        pos_ = p;
        return true;
    }

    size_t pos() const { return pos_; }
    size_t left() const { return len_ - pos_; }

private:
    const uint8_t *d_;
    size_t len_;
    size_t pos_ = 0;
};

bool readQuestion(Reader &r, Question *q)
{
    return r.name(&q->name) && r.u16(&q->type) && r.u16(&q->klass);
}

// The data of the types a search needs must fill exactly the length the
// record gives (a name in it may still point back out of it).
bool readData(Reader &r, size_t end, Record *rec)
{
    switch (rec->type) {
    case A:
        return end - r.pos() == 4 && r.u32(&rec->ipv4);
    case PTR:
        return r.name(&rec->target) && r.pos() == end;
    case SRV:
        return r.u16(&rec->priority) && r.u16(&rec->weight) && r.u16(&rec->port) && r.name(&rec->target)
            && r.pos() == end;
    case TXT:
        return r.texts(end, &rec->texts);
    default:
        return r.skipTo(end);
    }
}

bool readRecord(Reader &r, Record *rec)
{
    uint16_t length = 0;
    if (!r.name(&rec->name) || !r.u16(&rec->type) || !r.u16(&rec->klass) || !r.u32(&rec->ttl) || !r.u16(&length))
        return false;
    if (r.left() < length)
        return false;
    const size_t end = r.pos() + length;
    return readData(r, end, rec) && r.pos() == end;
}

bool readRecords(Reader &r, uint16_t count, std::vector<Record> *out)
{
    for (uint16_t i = 0; i < count; ++i) {
        Record rec;
        if (!readRecord(r, &rec))
            return false;
        out->push_back(std::move(rec));
    }
    return true;
}

class Writer {
public:
    void u16(uint16_t v)
    {
        buf_.push_back(uint8_t(v >> 8));
        buf_.push_back(uint8_t(v));
    }
    void u32(uint32_t v)
    {
        u16(uint16_t(v >> 16));
        u16(uint16_t(v));
    }
    bool name(const Name &n)
    {
        size_t wire = 1;
        for (const std::string &label : n) {
            wire += 1 + label.size();
            if (label.empty() || label.size() > MaxLabel || wire > MaxNameWire)
                return false;
            buf_.push_back(uint8_t(label.size()));
            buf_.insert(buf_.end(), label.begin(), label.end());
        }
        buf_.push_back(0);
        return true;
    }
    bool record(const Record &rec)
    {
        if (!name(rec.name))
            return false;
        u16(rec.type);
        u16(rec.klass);
        u32(rec.ttl);
        const size_t lengthAt = buf_.size();
        u16(0);
        bool ok = true;
        switch (rec.type) {
        case A:
            u32(rec.ipv4);
            break;
        case PTR:
            ok = name(rec.target);
            break;
        case SRV:
            u16(rec.priority);
            u16(rec.weight);
            u16(rec.port);
            ok = name(rec.target);
            break;
        case TXT:
            // An empty TXT record still holds one empty string (RFC 6763, 6.1).
            if (rec.texts.empty())
                buf_.push_back(0);
            for (const std::string &t : rec.texts) {
                if (t.size() > 255)
                    return false;
                buf_.push_back(uint8_t(t.size()));
                buf_.insert(buf_.end(), t.begin(), t.end());
            }
            break;
        default:
            break;
        }
        const size_t length = buf_.size() - lengthAt - 2;
        if (!ok || length > 0xffff)
            return false;
        buf_[lengthAt] = uint8_t(length >> 8);
        buf_[lengthAt + 1] = uint8_t(length);
        return true;
    }
    Bytes &bytes() { return buf_; }

private:
    Bytes buf_;
};

char lower(char c)
{
    return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}

} // namespace

Name nameFromText(const std::string &dotted)
{
    Name out;
    size_t start = 0;
    while (start <= dotted.size()) {
        const size_t dot = dotted.find('.', start);
        const size_t end = dot == std::string::npos ? dotted.size() : dot;
        if (end > start)
            out.push_back(dotted.substr(start, end - start));
        if (dot == std::string::npos)
            break;
        start = dot + 1;
    }
    return out;
}

std::string nameText(const Name &name)
{
    std::string out;
    for (const std::string &label : name) {
        if (!out.empty())
            out += '.';
        for (char c : label) {
            if (c == '.' || c == '\\')
                out += '\\';
            out += c;
        }
    }
    return out;
}

bool sameName(const Name &a, const Name &b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (a[i].size() != b[i].size())
            return false;
        for (size_t k = 0; k < a[i].size(); ++k) {
            if (lower(a[i][k]) != lower(b[i][k]))
                return false;
        }
    }
    return true;
}

bool parseMessage(const uint8_t *data, size_t len, Message *out)
{
    if (!data || len < HeaderSize)
        return false;
    Reader r(data, len);
    Message m;
    uint16_t qd = 0, an = 0, ns = 0, ar = 0;
    r.u16(&m.id);
    r.u16(&m.flags);
    r.u16(&qd);
    r.u16(&an);
    r.u16(&ns);
    r.u16(&ar);
    for (uint16_t i = 0; i < qd; ++i) {
        Question q;
        if (!readQuestion(r, &q))
            return false;
        m.questions.push_back(std::move(q));
    }
    if (!readRecords(r, an, &m.answers) || !readRecords(r, ns, &m.authorities) || !readRecords(r, ar, &m.additionals))
        return false;
    *out = std::move(m);
    return true;
}

bool encodeMessage(const Message &msg, Bytes *out)
{
    if (msg.questions.size() > 0xffff || msg.answers.size() > 0xffff || msg.authorities.size() > 0xffff
        || msg.additionals.size() > 0xffff)
        return false;
    Writer w;
    w.u16(msg.id);
    w.u16(msg.flags);
    w.u16(uint16_t(msg.questions.size()));
    w.u16(uint16_t(msg.answers.size()));
    w.u16(uint16_t(msg.authorities.size()));
    w.u16(uint16_t(msg.additionals.size()));
    for (const Question &q : msg.questions) {
        if (!w.name(q.name))
            return false;
        w.u16(q.type);
        w.u16(q.klass);
    }
    for (const auto *section : {&msg.answers, &msg.authorities, &msg.additionals}) {
        for (const Record &rec : *section) {
            if (!w.record(rec))
                return false;
        }
    }
    *out = std::move(w.bytes());
    return true;
}

} // namespace mdns
