#include "sim/announcements.h"

namespace benchsim {

std::vector<Announcement> benchAnnouncements(const Bench &bench)
{
    std::vector<Announcement> out;
    for (const char *name : {"osc", "sa", "va"}) {
        const QString instrument = QLatin1String(name);
        // Every transport the bench serves; a HiSLIP resource
        // ("TCPIP::<ip>::hislip0[,port]::INSTR") becomes _hislip._tcp.
        for (const QString &resource :
             {bench.resource(instrument), bench.vxi11Resource(instrument), bench.hislipResource(instrument)}) {
            if (!resource.isEmpty())
                out.push_back({name, resource.toStdString()});
        }
    }
    return out;
}

} // namespace benchsim
