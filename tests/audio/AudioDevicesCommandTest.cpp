// `ipcamview audio-devices` as a user runs it, on ALSA configurations written
// by the test: the devices, the one a viewer chooses, what it takes, the exit
// code.
#include "os/dsound/AlsaTestConfig.h"

#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <sys/wait.h>

namespace {

using alsatest::CAlsaTestConfig;
using alsatest::PcmKind;
using alsatest::SPcm;

using Values = std::map<std::string, std::string>;

struct SRun {
    int exitCode = -1;
    Values values;
    std::string text;
};

SRun RunCommand(const std::string& options) {
    SRun run;
    const std::string command = std::string(IPCAMVIEW_PATH) + " audio-devices " + options + " 2>&1";
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr)
        return run;
    char buffer[4096];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        run.text.append(buffer, n);
    const int status = ::pclose(pipe);
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::istringstream lines(run.text);
    for (std::string line; std::getline(lines, line);) {
        const size_t equals = line.find('=');
        if (equals != std::string::npos)
            run.values[line.substr(0, equals)] = line.substr(equals + 1);
    }
    return run;
}

// One digit per probe format: which a device taking `channels` (0: any) takes.
std::string Digits(int channels) {
    std::string digits;
    for (int i = 0; i < 20; ++i)
        digits += channels == 0 || (i % 4 < 2 ? 1 : 2) == channels ? '1' : '0';
    return digits;
}

TEST(AudioDevicesCommandTest, ListsDevicesTheChoiceAndTheFormats) {
    struct Case {
        const char* what;
        std::vector<SPcm> pcms;
        int exitCode;
        Values expected; // a subset of the name=value lines
    };
    const Case cases[] = {
        {"a device of each kind",
         {{"mono", PcmKind::kMonoOnly}, {"default"}, {"stereo", PcmKind::kStereoOnly}},
         0,
         {{"devices", "3"},
          {"device1.name", "default"},
          {"device2.name", "mono"},
          {"chosen", "mono"},
          {"ready", "1"},
          {"format17.supported", "1"},
          {"format19.supported", "0"},
          {"device1.formats", Digits(0)},
          {"device2.formats", Digits(1)},
          {"device3.formats", Digits(2)},
          {"capture.buffer_bytes", "32000"}}},
        {"no mono", {{"stereo", PcmKind::kStereoOnly}}, 1, {{"chosen", "stereo"}, {"ready", "0"}}},
        {"a device that does not open",
         {{"broken", PcmKind::kMissingFile}},
         1,
         {{"ready", "0"}, {"device1.formats", std::string(20, '-')}}},
        {"nothing", {}, 1, {{"devices", "0"}, {"chosen", "default"}, {"ready", "0"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CAlsaTestConfig config(c.pcms);
        const SRun run = RunCommand("--all");
        EXPECT_EQ(c.exitCode, run.exitCode) << run.text;
        for (const auto& [name, value] : c.expected) {
            const auto found = run.values.find(name);
            ASSERT_NE(run.values.end(), found) << name << "\n" << run.text;
            EXPECT_EQ(value, found->second) << name;
        }
        if (c.exitCode != 0) {
            EXPECT_NE(std::string::npos, run.text.find("ipcamview: no audio capture: ")) << run.text;
        }
    }
}

} // namespace
