#include "CommandLine.h"

#include "platform/CMediaObj.h"

#include <cerrno>
#include <cstdarg>
#include <cstdlib>

int Fail(int code, const char* format, ...) {
    char text[1024];
    va_list list;
    va_start(list, format);
    std::vsnprintf(text, sizeof text, format, list);
    va_end(list);
    std::fprintf(stderr, "ipcamview: %s\n", text);
    return code;
}

bool CCommandLine::Parse(const Args& args, const std::vector<SOption>& options, std::string& error) {
    mValues.clear();
    mPositional.clear();
    bool optionsEnded = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (optionsEnded || arg.size() < 2 || arg.compare(0, 2, "--") != 0) {
            mPositional.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        const size_t equals = arg.find('=');
        const std::string name = arg.substr(0, equals);
        if (name == "--help") {
            mValues[name].push_back("");
            continue;
        }
        const SOption* option = nullptr;
        for (const SOption& known : options)
            if (name == known.name)
                option = &known;
        if (option == nullptr) {
            error = "unknown option " + name;
            return false;
        }
        if (!option->takesValue) {
            if (equals != std::string::npos) {
                error = "option " + name + " takes no value";
                return false;
            }
            mValues[name].push_back("");
            continue;
        }
        if (equals != std::string::npos) {
            mValues[name].push_back(arg.substr(equals + 1));
        } else if (option->valueOptional) {
            const bool next = i + 1 < args.size() && !args[i + 1].empty() && args[i + 1][0] != '-';
            mValues[name].push_back(next ? args[++i] : std::string());
        } else if (i + 1 < args.size()) {
            mValues[name].push_back(args[++i]);
        } else {
            error = "option " + name + " needs a value (" + option->value + ")";
            return false;
        }
    }
    return true;
}

std::string CCommandLine::Value(const std::string& name) const {
    auto found = mValues.find(name);
    return found != mValues.end() && !found->second.empty() ? found->second.back() : std::string();
}

std::vector<std::string> CCommandLine::Values(const std::string& name) const {
    auto found = mValues.find(name);
    return found != mValues.end() ? found->second : std::vector<std::string>();
}

bool CCommandLine::Number(const std::string& name, int64_t low, int64_t high, int64_t& value,
                          std::string& error) const {
    if (!Has(name))
        return true;
    const std::string text = Value(name);
    char* end = nullptr;
    errno = 0;
    const long long number = std::strtoll(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || errno != 0 || number < low || number > high) {
        error = "bad value for " + name + ": \"" + text + "\" (a whole number from " + std::to_string(low) +
                " to " + std::to_string(high) + ")";
        return false;
    }
    value = number;
    return true;
}

std::string CCommandLine::AnyOf(const std::vector<std::string>& names) const {
    for (const std::string& name : names)
        if (Has(name))
            return name;
    return std::string();
}

bool ParseCommand(const char* command, const char* usage, const Args& args,
                  const std::vector<SOption>& options, CCommandLine& line, int& exitCode) {
    std::string error;
    if (!line.Parse(args, options, error)) {
        exitCode = Fail(kExitUsage, "%s (see ipcamview %s --help)", error.c_str(), command);
        return false;
    }
    if (line.WantsHelp()) {
        std::fputs(usage, stdout);
        exitCode = kExitOk;
        return false;
    }
    return true;
}

void CReport::Add(const std::string& name, int64_t value) {
    mFields.push_back({name, std::to_string(value), true});
}

void CReport::Add(const std::string& name, const std::string& value) {
    mFields.push_back({name, value, false});
}

void CReport::AddFixed(const std::string& name, double value, int decimals) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    mFields.push_back({name, text, true});
}

namespace {

void PrintJsonString(std::FILE* out, const std::string& text) {
    std::fputc('"', out);
    for (unsigned char c : text) {
        if (c == '"' || c == '\\')
            std::fprintf(out, "\\%c", c);
        else if (c < 0x20)
            std::fprintf(out, "\\u%04x", c);
        else
            std::fputc(c, out);
    }
    std::fputc('"', out);
}

} // namespace

void CReport::Print(std::FILE* out, bool json) const {
    if (!json) {
        for (const SField& field : mFields)
            std::fprintf(out, "%s=%s\n", field.name.c_str(), field.text.c_str());
        return;
    }
    std::fputc('{', out);
    for (size_t i = 0; i < mFields.size(); ++i) {
        if (i > 0)
            std::fputs(", ", out);
        PrintJsonString(out, mFields[i].name);
        std::fputs(": ", out);
        if (mFields[i].number)
            std::fputs(mFields[i].text.c_str(), out);
        else
            PrintJsonString(out, mFields[i].text);
    }
    std::fputs("}\n", out);
}

const char* VideoCodecName(int32_t code) {
    switch (code) {
    case media_util::kVideoJpeg:
        return "jpeg";
    case media_util::kVideoMpeg4:
        return "mpeg4";
    case media_util::kVideoH264QBox:
        return "h264";
    case media_util::kVideoNone:
        return "none";
    default:
        return "unknown";
    }
}

const char* AudioCodecName(int32_t code) {
    switch (code) {
    case media_util::kAudioUlaw:
        return "ulaw";
    case media_util::kAudio2010:
        return "aac";
    case media_util::kAudio2020:
        return "g726";
    case media_util::kAudioNone:
        return "none";
    default:
        return "unknown";
    }
}

int32_t UserChannel(int32_t channel) {
    return channel > 0 ? channel : 1;
}

double Fps(int32_t frameRate) {
    return frameRate / 1000.0;
}
