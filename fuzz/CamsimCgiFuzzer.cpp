// camsim's parameter CGI on hostile queries: any bytes as the query of
// "/vb.htm?" and "/ipcam/multiprofile.cgi?" for any model, with the reply
// faults switched by the input too. Checks that every answer has at most one
// line per entry and never more than the CGI's entry bound, that every line
// carries a status word, that the store never grows past its bound, and that
// the machine code cannot be overwritten.
//
// camsim is a program, not a library: its few sources this needs are built
// into the target directly.
#include "../tools/camsim/Device.cpp"
#include "../tools/camsim/DeviceFaults.cpp"
#include "../tools/camsim/HttpRequest.cpp"
#include "../tools/camsim/ParameterCgi.cpp"
#include "../tools/camsim/PtzHead.cpp"
#include "FuzzSupport.h"

using namespace camsim;
using fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2)
        return 0;
    const std::vector<DeviceConfig>& table = DeviceTable();
    const DeviceConfig& model = table[data[0] % table.size()];
    const uint8_t mode = data[1];
    std::string rest(reinterpret_cast<const char*>(data + 2), size - 2);

    DeviceState state(model);
    DeviceFaults faults;
    // An input may begin with fault switches, one per line, before a blank line.
    const size_t blank = rest.find("\n\n");
    if (blank != std::string::npos && (mode & 1)) {
        fuzz::ForEachPiece(std::string_view(rest).substr(0, blank), "\n",
                           [&faults](const std::string& line) { faults.ApplyText(line); });
        rest = rest.substr(blank + 2);
    }
    std::string code;
    state.Get("machinecode", &code);

    ParameterCgi cgi(state, faults);
    // Several requests in a row on one state: writes of one are read by the next.
    fuzz::ForEachPiece(rest, "\n", [&](const std::string& query) {
        const std::vector<ReplyLine> lines = (mode & 2) ? cgi.AnswerProfile(query) : cgi.Answer(query);
        Check(lines.size() <= ParameterCgi::Entries(query).size() &&
              lines.size() <= ParameterCgi::kMaxEntries);
        for (const ReplyLine& l : lines)
            Check(!l.status.empty());
    });
    Check(state.Snapshot().size() <= DeviceState::kMaxEntries);
    std::string after;
    state.Get("machinecode", &after);
    Check(after == code);
    (void)state.Describe();
    return 0;
}
