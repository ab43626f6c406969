// Multicast DNS messages (the DNS wire format of RFC 1035 as mDNS uses it,
// RFC 6762): what a search sends and parses, and what the simulator's
// responder parses and sends. Names are kept as their labels, since a
// DNS-SD instance label may itself hold dots and blanks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace mdns {

using Bytes = std::vector<uint8_t>;
using Name = std::vector<std::string>; // labels, without the empty root label

constexpr uint16_t Port = 5353;
constexpr char GroupAddress[] = "224.0.0.251";
// A responder may send up to this much in one datagram (RFC 6762, 17).
constexpr size_t MaxMessage = 9000;
// Limits of the DNS name syntax: a label, and a name on the wire.
constexpr size_t MaxLabel = 63;
constexpr size_t MaxNameWire = 255;

enum Type : uint16_t { A = 1, PTR = 12, TXT = 16, SRV = 33, ANY = 255 };
constexpr uint16_t ClassIn = 1;
// The top bit of a question's class asks for a unicast answer (QU); in a
// record's class it tells caches to flush older data (RFC 6762, 5.4, 10.2).
constexpr uint16_t TopBit = 0x8000;
constexpr uint16_t FlagResponse = 0x8000;    // QR
constexpr uint16_t FlagAuthoritative = 0x0400; // AA

struct Question {
    Name name;
    uint16_t type = 0;
    uint16_t klass = ClassIn;
};

struct Record {
    Name name;
    uint16_t type = 0;
    uint16_t klass = ClassIn;
    uint32_t ttl = 0;
    // The data, decoded for the types a search uses; other types keep none.
    Name target;           // PTR: the name pointed to; SRV: the host
    uint16_t port = 0;     // SRV
    uint16_t priority = 0; // SRV
    uint16_t weight = 0;   // SRV
    uint32_t ipv4 = 0;     // A, host byte order
    std::vector<std::string> texts; // TXT
};

struct Message {
    uint16_t id = 0;
    uint16_t flags = 0;
    std::vector<Question> questions;
    std::vector<Record> answers;
    std::vector<Record> authorities;
    std::vector<Record> additionals;

    bool isResponse() const { return (flags & FlagResponse) != 0; }
};

// "_lxi._tcp.local" as labels; text made only of plain labels (no escapes).
Name nameFromText(const std::string &dotted);
// Labels joined by dots, a dot or backslash inside a label escaped by "\".
std::string nameText(const Name &name);
// DNS names compare without regard to ASCII case.
bool sameName(const Name &a, const Name &b);

// Parses a whole message. False for anything malformed: a name that is too
// long, a compression pointer that does not point back to an earlier name,
// a record whose data runs past the message or does not fit its type.
bool parseMessage(const uint8_t *data, size_t len, Message *out);

// Encodes a message (names uncompressed); false when a name or text does
// not fit the DNS limits.
bool encodeMessage(const Message &msg, Bytes *out);

} // namespace mdns
