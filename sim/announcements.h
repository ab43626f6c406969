// What benchsim --mdns announces: every resource the bench serves its
// instruments on right now.
#pragma once

#include "sim/bench.h"
#include "sim/mdnsresponder.h"

#include <vector>

namespace benchsim {

std::vector<Announcement> benchAnnouncements(const Bench &bench);

} // namespace benchsim
