// Station lists as both tools take them: orv-flash --scan --stations LIST, and orv-plcsim
// --stations LIST[:setting]..., one value a line of the input. No crash; a list is ascending,
// each station once, inside 0-255; the simulator adds exactly the stations of each value it
// takes, and never one station twice.
#include "common/number_list.h"
#include "options.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view rest(reinterpret_cast<const char*>(data), size);
    const orv::plcsim::PlcConfig defaults;
    std::vector<orv::plcsim::PlcConfig> stations;
    for (bool more = true; more;) {
        const size_t eol = rest.find('\n');
        more = eol != std::string_view::npos;
        const std::string_view value = rest.substr(0, eol);
        rest.remove_prefix(more ? eol + 1 : rest.size());

        const auto list = orv::ParseNumberList(value.substr(0, value.find(':')), 0, 255);
        if (list) {
            if (list->empty() || list->front() < 0 || list->back() > 255)
                std::abort();
            for (size_t i = 1; i < list->size(); ++i)
                if ((*list)[i - 1] >= (*list)[i])
                    std::abort();
        }
        const size_t before = stations.size();
        if (!orv::plcsim::ParseStations(value, defaults, stations).empty())
            return 0; // the simulator stops at a refused value
        if (!list || stations.size() != before + list->size())
            std::abort();
        for (size_t i = 1; i < stations.size(); ++i)
            if (stations[i - 1].station >= stations[i].station)
                std::abort();
    }
    return 0;
}
