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

#include <cstdlib>
#include <string>

using namespace camsim;

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
        size_t start = 0;
        while (start < blank) {
            size_t end = rest.find('\n', start);
            if (end == std::string::npos || end > blank)
                end = blank;
            faults.ApplyText(rest.substr(start, end - start));
            start = end + 1;
        }
        rest = rest.substr(blank + 2);
    }
    std::string code;
    state.Get("machinecode", &code);

    ParameterCgi cgi(state, faults);
    // Several requests in a row on one state: writes of one are read by the next.
    size_t start = 0;
    while (start <= rest.size()) {
        size_t end = rest.find('\n', start);
        if (end == std::string::npos)
            end = rest.size();
        const std::string query = rest.substr(start, end - start);
        const size_t entries = ParameterCgi::Entries(query).size();
        const std::vector<ReplyLine> lines = (mode & 2) ? cgi.AnswerProfile(query) : cgi.Answer(query);
        if (lines.size() > entries || lines.size() > ParameterCgi::kMaxEntries)
            std::abort();
        for (const ReplyLine& l : lines)
            if (l.status.empty())
                std::abort();
        start = end + 1;
    }
    if (state.Snapshot().size() > DeviceState::kMaxEntries)
        std::abort();
    std::string after;
    state.Get("machinecode", &after);
    if (after != code)
        std::abort();
    (void)state.Describe();
    return 0;
}
