// The client end of a fuzzed conversation with one of the simulator's
// servers on 127.0.0.1.
#pragma once

#include <cstdint>

// A blocking TCP connection to 127.0.0.1:port, made from 127.0.0.2 with the
// port picked at connect: the TIME_WAIT each connection leaves then never
// holds a port a new server on 127.0.0.1 wants, however many inputs run in
// a minute. Aborts when it cannot connect.
int connectFromSecondLoopback(uint16_t port);
