// Finding the instruments on the network, for --discover and the resource
// fields' "Find instruments..." alike: the VISA library's search, then each
// resource found asked for its identity, all within one time-out. Plain
// functions, no widgets.
#pragma once

#include <QString>
#include <QStringList>
#include <QVector>

constexpr int DefaultFindTimeoutMs = 1000;
constexpr int MaxFindTimeoutMs = 60000;

struct FindRequest
{
    int timeoutMs = DefaultFindTimeoutMs;
    // Hosts and subnets asked directly besides the broadcasts: names, dotted
    // addresses, a.b.c.d/n.
    QStringList hosts;
};

struct FoundInstrument
{
    QString resource; // to paste into a resource field
    QString identity; // its *IDN? answer, made printable; empty when none came
    QString problem;  // why there is no identity
};

struct FindOutcome
{
    QVector<FoundInstrument> found; // sorted: one instrument's resources side by side
    QString error;                  // why no search could be made; empty when it ran
    int elapsedMs = 0;
    // A silent instrument still holds a call (or the closing of its
    // session) that will end on its own, using the VISA library until then.
    bool stillAsking = false;
};

// The first half of the time-out listens for answers to the search, the
// second asks every resource found for "*IDN?" (several at once). Returns
// at the time-out: an instrument still busy answering by then is listed
// without its identity, and the call asking it is left to end on its own.
FindOutcome FindInstruments(const FindRequest &request);

// Why the search cannot use these hosts ("10.0.0.0/8" is too large, "a:b"
// no name), in a sentence naming the first one at fault; empty when it can.
QString HostsProblem(const QStringList &hosts);

// What an instrument sent as its identity, fit for one line of a terminal
// or a list: control and formatting characters become blanks, surrounding
// blanks go, at most 200 characters remain.
QString PrintableIdentity(const QString &reply);
