// What every command of the host program shares: its options, its errors,
// its exit codes, its output.
//
// Options are "--name value" or "--name=value" (flags take no value); "--"
// ends the options; "-" is an ordinary argument (standard input where a
// file is expected). An option whose value may be left out ("--record
// [FILE]") takes "--name=value", or the next word when that does not begin
// with "-"; otherwise its value is "". An option a command does not know is
// an error that names it, never silently ignored.
#pragma once

#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

using Args = std::vector<std::string>;

// Exit codes, the same for every command (--help and the README list them).
constexpr int kExitOk = 0;
// The device answered, but refused or failed: wrong password, not a camera,
// no such channel, no stream, no frames.
constexpr int kExitFailed = 1;
// No answer (refused connection, silence, unknown host), or bad usage.
constexpr int kExitNoAnswer = 2;
constexpr int kExitUsage = 2;

// Prints "ipcamview: " and the message as one line on standard error and
// returns code.
int Fail(int code, const char* format, ...) __attribute__((format(printf, 2, 3)));

struct SOption {
    const char* name; // "--user"
    bool takesValue;
    const char* value;          // shown in usage: "U"
    bool valueOptional = false; // with takesValue: the value may be left out
};

// One command's arguments, parsed against the options it takes.
class CCommandLine {
public:
    // False with a message in error: an unknown option, a missing value, a
    // value given to a flag. "--help" is always known (see WantsHelp).
    bool Parse(const Args& args, const std::vector<SOption>& options, std::string& error);

    bool Has(const std::string& name) const { return mValues.count(name) != 0; }
    // The option's value ("" when absent or a flag); the last one when it
    // was given more than once.
    std::string Value(const std::string& name) const;
    // Every value of an option given more than once, in order.
    std::vector<std::string> Values(const std::string& name) const;
    bool WantsHelp() const { return Has("--help"); }
    const Args& Positional() const { return mPositional; }

    // A whole decimal number in [low, high]. False with a message for
    // anything else; value untouched when the option is absent.
    bool Number(const std::string& name, int64_t low, int64_t high, int64_t& value, std::string& error) const;
    // The first of names that was given, or "" when none was: for refusing
    // options that do not apply to a command's form.
    std::string AnyOf(const std::vector<std::string>& names) const;

private:
    std::map<std::string, std::vector<std::string>> mValues;
    Args mPositional;
};

// Parses a command's arguments. False when the command is over already:
// --help was asked (the usage printed, exitCode kExitOk) or the arguments do
// not parse (the error reported, exitCode kExitUsage).
bool ParseCommand(const char* command, const char* usage, const Args& args,
                  const std::vector<SOption>& options, CCommandLine& line, int& exitCode);

// A command's result as name=value lines (one per field, in order) or, with
// --json, one JSON object. Numbers stay numbers in JSON.
class CReport {
public:
    void Add(const std::string& name, int64_t value);
    void Add(const std::string& name, const std::string& value);
    void Add(const std::string& name, const char* value) { Add(name, std::string(value)); }
    // A number printed with `decimals` digits after the point.
    void AddFixed(const std::string& name, double value, int decimals);
    void Print(std::FILE* out, bool json) const;
    bool IsEmpty() const { return mFields.empty(); }

private:
    struct SField {
        std::string name;
        std::string text;
        bool number;
    };
    std::vector<SField> mFields;
};

// Names of the media format codes, as the options take them.
const char* VideoCodecName(int32_t code); // "jpeg", "mpeg4", "h264", "none"
const char* AudioCodecName(int32_t code); // "ulaw", "aac", "g726", "none"
// Channel numbers are 1-based for people: a single-channel device's objects
// carry channel 0, which is its channel 1.
int32_t UserChannel(int32_t channel);
// Frames per second of a frame rate in thousandths.
double Fps(int32_t frameRate);
