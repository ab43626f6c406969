// One instrument command of the measurement run. Every configuring command
// is a query ending in ";*OPC?" so the instrument answers only once it has
// finished; only the VISA status of the answer counts.
#pragma once

enum class MeasTarget { Osc, Sa };

struct MeasCommand
{
    MeasTarget target;
    const char *command;
    bool mustSucceed; // a failure ends the acquisition; otherwise the status is ignored
};

// A table of commands in the order they are sent.
struct MeasCommands
{
    const MeasCommand *rows;
    int count;

    const MeasCommand *begin() const { return rows; }
    const MeasCommand *end() const { return rows + count; }
};

template <int N> constexpr MeasCommands Table(const MeasCommand (&rows)[N])
{
    return {rows, N};
}
