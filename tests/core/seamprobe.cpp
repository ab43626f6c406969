// Compiled with the core library's settings by the core_seam_* tests: the
// control builds; each other probe names a header above the core, which
// must not be found.
#include "measurement/measrun.h"

#if defined(SEAM_PROBE_app)
#include "app/commandline.h" // no widget in it, and still out of reach
#elif defined(SEAM_PROBE_graph)
#include "graph/graph.h"
#elif defined(SEAM_PROBE_state)
#include "shared/measstate.h"
#elif defined(SEAM_PROBE_widgets)
#include <QWidget>
#endif

int SeamProbe()
{
    return RunRequest().count;
}
