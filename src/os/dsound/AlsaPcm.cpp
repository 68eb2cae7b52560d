#include "os/dsound/AlsaPcm.h"

#include <alsa/asoundlib.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <dlfcn.h>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

namespace os::dsound::alsa {
namespace {

// ALSA's own name of the PCM that discards what is played and makes up
// silence when captured from. Every configuration defines it; it is not a
// device a viewer could capture from.
constexpr const char* kDiscardPcm = "null";

// ALSA prints every failed lookup ("cannot find card '0'") to standard error
// by default. A machine without a sound card is normal for a viewer, and its
// host's error output is not ours to fill: failures reach the caller as
// results instead.
extern "C" void QuietAlsaError(const char*, int, const char*, int, const char*, ...) {}

std::atomic<bool> gSilenced{false};

// Once per load of this library: ALSA's messages off, and libasound kept
// loaded for the rest of the process. ALSA keeps its parsed configuration
// and plugin state for the process; a host that unloads the viewer library
// (and loads it again) must not take libasound and what it holds down with
// it.
void SilenceAlsa() {
    static std::once_flag once;
    std::call_once(once, [] {
        snd_lib_error_set_handler(QuietAlsaError);
        gSilenced = true;
        ::dlopen("libasound.so.2", RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
    });
}

// The devices whose open outlived its deadline.
struct SHanging {
    std::mutex lock;
    std::condition_variable changed;
    std::vector<std::string> names; // guarded by lock; one entry per hanging open
};

// Made on first use. Freed when this library is unloaded or the process
// ends, unless an open still hangs: its thread will still need it.
std::atomic<SHanging*> gHanging{nullptr};

SHanging& Hanging() {
    static SHanging* hanging = gHanging = new SHanging;
    return *hanging;
}

// Puts ALSA's own error handler back when this library goes (ALSA must not
// call into unloaded code) and frees the hanging-open list when nothing
// needs it.
struct SLayerLifetime {
    ~SLayerLifetime() {
        if (gSilenced)
            snd_lib_error_set_handler(nullptr);
        SHanging* hanging = gHanging.load();
        if (hanging == nullptr)
            return;
        bool idle = false;
        {
            std::lock_guard<std::mutex> guard(hanging->lock);
            idle = hanging->names.empty();
        }
        if (idle) {
            gHanging = nullptr;
            delete hanging;
        }
    }
} gLayerLifetime;

bool IsHanging(const std::string& name) {
    SHanging& h = Hanging();
    std::lock_guard<std::mutex> guard(h.lock);
    return std::find(h.names.begin(), h.names.end(), name) != h.names.end();
}

void AddHanging(const std::string& name) {
    SHanging& h = Hanging();
    std::lock_guard<std::mutex> guard(h.lock);
    h.names.push_back(name);
}

void RemoveHanging(const std::string& name) {
    SHanging& h = Hanging();
    // Notified under the lock: once the list is empty the object may be
    // freed (SLayerLifetime) as soon as the lock is free.
    std::lock_guard<std::mutex> guard(h.lock);
    auto found = std::find(h.names.begin(), h.names.end(), name);
    if (found != h.names.end())
        h.names.erase(found);
    h.changed.notify_all();
}

// One open, shared by the caller and the thread that makes it, so that either
// may be the last to let go.
struct SOpenJob {
    std::string name;
    bool hasFormat = false;
    SPcmFormat format{};

    std::mutex lock;
    std::condition_variable finished;
    bool done = false;      // guarded by lock
    bool abandoned = false; // guarded by lock: the caller stopped waiting
    SPcmCheck result;       // guarded by lock
};

bool TakesFormat(snd_pcm_t* pcm, const SPcmFormat& format) {
    snd_pcm_format_t sampleFormat;
    if (format.bits == 8)
        sampleFormat = SND_PCM_FORMAT_U8; // 8-bit PCM is unsigned, as in WAVE files
    else if (format.bits == 16)
        sampleFormat = SND_PCM_FORMAT_S16_LE;
    else
        return false;
    snd_pcm_hw_params_t* params = nullptr;
    if (snd_pcm_hw_params_malloc(&params) < 0)
        return false;
    const bool takes = snd_pcm_hw_params_any(pcm, params) >= 0 &&
                       snd_pcm_hw_params_set_access(pcm, params, SND_PCM_ACCESS_RW_INTERLEAVED) >= 0 &&
                       snd_pcm_hw_params_set_format(pcm, params, sampleFormat) >= 0 &&
                       snd_pcm_hw_params_set_channels(pcm, params, format.channels) >= 0 &&
                       snd_pcm_hw_params_set_rate(pcm, params, format.rate, 0) >= 0;
    snd_pcm_hw_params_free(params);
    return takes;
}

SPcmCheck OpenAndAsk(const SOpenJob& job) {
    snd_pcm_t* pcm = nullptr;
    const int error = snd_pcm_open(&pcm, job.name.c_str(), SND_PCM_STREAM_CAPTURE, SND_PCM_NONBLOCK);
    if (error < 0)
        return {PcmAnswer::kOpenFailed, error};
    SPcmCheck check{PcmAnswer::kAccepted, 0};
    if (job.hasFormat && !TakesFormat(pcm, job.format))
        check.answer = PcmAnswer::kFormatRefused;
    snd_pcm_close(pcm);
    return check;
}

void RunOpen(const std::shared_ptr<SOpenJob>& job) {
    const SPcmCheck check = OpenAndAsk(*job);
    bool abandoned = false;
    {
        std::lock_guard<std::mutex> guard(job->lock);
        job->result = check;
        job->done = true;
        abandoned = job->abandoned;
    }
    job->finished.notify_all();
    if (abandoned)
        RemoveHanging(job->name);
}

// ALSA's multi-line descriptions ("HDA Intel PCH, ALC892 Analog\nFront
// microphone") on one line.
std::string OneLine(const char* text) {
    std::string line;
    for (const char* c = text; *c != '\0'; ++c) {
        if (*c == '\n')
            line += ", ";
        else
            line += *c;
    }
    return line;
}

} // namespace

namespace {

int ListFromHints(std::vector<SCapturePcm>& pcms) {
    void** hints = nullptr;
    const int error = snd_device_name_hint(-1, "pcm", &hints);
    if (error < 0)
        return error;
    for (void** hint = hints; *hint != nullptr; ++hint) {
        char* name = snd_device_name_get_hint(*hint, "NAME");
        char* description = snd_device_name_get_hint(*hint, "DESC");
        char* direction = snd_device_name_get_hint(*hint, "IOID"); // null: both directions
        const bool captures = direction == nullptr || std::strcmp(direction, "Input") == 0;
        if (name != nullptr && captures && std::strcmp(name, kDiscardPcm) != 0)
            pcms.push_back({name, OneLine(description != nullptr ? description : name)});
        std::free(name);
        std::free(description);
        std::free(direction);
    }
    snd_device_name_free_hint(hints);
    return 0;
}

// A string member of a configuration node, or "".
std::string StringOf(snd_config_t* node, const char* key) {
    snd_config_t* member = nullptr;
    const char* text = nullptr;
    if (snd_config_search(node, key, &member) < 0 || snd_config_get_string(member, &text) < 0 ||
        text == nullptr)
        return "";
    return text;
}

// The description of a PCM definition that asks to be listed (a "hint" with
// a description and "show" not off), evaluated on its own; false otherwise.
bool ShownDescription(snd_config_t* top, snd_config_t* definition, std::string& description) {
    snd_config_t* hint = nullptr;
    if (snd_config_search(definition, "hint", &hint) < 0 ||
        snd_config_get_type(hint) != SND_CONFIG_TYPE_COMPOUND)
        return false;
    snd_config_t* copy = nullptr;
    if (snd_config_copy(&copy, hint) < 0)
        return false;
    bool shown = false;
    if (snd_config_evaluate(copy, top, nullptr, nullptr) >= 0) {
        snd_config_t* show = nullptr;
        shown = snd_config_search(copy, "show", &show) < 0 || snd_config_get_bool(show) > 0;
        description = StringOf(copy, "description");
        shown = shown && !description.empty();
    }
    snd_config_delete(copy);
    return shown;
}

// The PCMs the configuration defines and asks to list, in its order. A
// definition that takes arguments is a template (hw:CARD,DEV and the like),
// listed by ALSA per card; one of type hw needs a card. Neither is a device
// without a card, which is when this listing is used.
int ListFromConfiguration(std::vector<SCapturePcm>& pcms) {
    snd_config_t* top = nullptr;
    const int error = snd_config_update_ref(&top);
    if (error < 0)
        return error;
    snd_config_t* root = nullptr;
    if (snd_config_search(top, "pcm", &root) >= 0 && snd_config_get_type(root) == SND_CONFIG_TYPE_COMPOUND) {
        snd_config_iterator_t i, next;
        snd_config_for_each(i, next, root) {
            snd_config_t* definition = snd_config_iterator_entry(i);
            const char* id = nullptr;
            if (snd_config_get_id(definition, &id) < 0 || id == nullptr || std::strcmp(id, kDiscardPcm) == 0)
                continue;
            if (snd_config_get_type(definition) != SND_CONFIG_TYPE_COMPOUND)
                continue; // an alias of another definition
            snd_config_t* args = nullptr;
            if (snd_config_search(definition, "@args", &args) >= 0 || StringOf(definition, "type") == "hw")
                continue;
            std::string description;
            if (ShownDescription(top, definition, description))
                pcms.push_back({id, OneLine(description.c_str())});
        }
    }
    snd_config_unref(top);
    return 0;
}

bool HasSoundCard() {
    int card = -1;
    return snd_card_next(&card) >= 0 && card >= 0;
}

// Whether the PCM `name` ("default", "plughw:CARD=x") is bound to a sound
// card, and so cannot open on a machine without one: its definition takes a
// CARD argument, or it is an alias into ALSA's tree of the cards' PCMs
// ("cards.pcm.default", as ALSA's own "default" is). Opening such a PCM
// without a card fails only after ALSA has read the cards' configuration
// files and looked for the card, about 1.5 ms of a viewer's first set-up.
bool NeedsSoundCard(const std::string& name) {
    snd_config_t* top = nullptr;
    if (snd_config_update_ref(&top) < 0)
        return false;
    std::string key = "pcm." + name.substr(0, name.find(':'));
    bool needsCard = false;
    // A few aliases deep at most: ALSA's own chains are one or two long.
    for (int hop = 0; hop < 4 && !needsCard; ++hop) {
        snd_config_t* node = nullptr;
        if (snd_config_search(top, key.c_str(), &node) < 0)
            break;
        const char* alias = nullptr;
        if (snd_config_get_type(node) == SND_CONFIG_TYPE_STRING) {
            if (snd_config_get_string(node, &alias) < 0 || alias == nullptr)
                break;
            key = alias;
            needsCard = key.compare(0, 6, "cards.") == 0;
            continue;
        }
        snd_config_t* args = nullptr;
        if (snd_config_search(node, "@args", &args) >= 0 &&
            snd_config_get_type(args) == SND_CONFIG_TYPE_COMPOUND) {
            snd_config_iterator_t i, next;
            snd_config_for_each(i, next, args) {
                const char* argument = nullptr;
                if (snd_config_get_string(snd_config_iterator_entry(i), &argument) >= 0 &&
                    argument != nullptr && std::strcmp(argument, "CARD") == 0)
                    needsCard = true;
            }
        }
        break;
    }
    snd_config_unref(top);
    return needsCard;
}

} // namespace

int ListCapturePcms(std::vector<SCapturePcm>& pcms, Listing listing) {
    SilenceAlsa();
    pcms.clear();
    if (listing == Listing::kAuto)
        listing = HasSoundCard() ? Listing::kHints : Listing::kConfiguration;
    return listing == Listing::kHints ? ListFromHints(pcms) : ListFromConfiguration(pcms);
}

SPcmCheck CheckPcm(const std::string& name, const SPcmFormat* format, DWORD deadlineMs) {
    SilenceAlsa();
    if (IsHanging(name))
        return {PcmAnswer::kTimedOut, -EBUSY};
    if (NeedsSoundCard(name) && !HasSoundCard())
        return {PcmAnswer::kOpenFailed, -ENODEV};
    auto job = std::make_shared<SOpenJob>();
    job->name = name;
    if (format != nullptr) {
        job->hasFormat = true;
        job->format = *format;
    }
    std::thread worker;
    try {
        worker = std::thread(RunOpen, job);
    } catch (const std::system_error&) {
        return {PcmAnswer::kOpenFailed, -EAGAIN};
    }
    std::unique_lock<std::mutex> lock(job->lock);
    if (!job->finished.wait_for(lock, std::chrono::milliseconds(deadlineMs), [&] { return job->done; })) {
        // Registered before the worker can see `abandoned`, so that its
        // removal always finds the entry.
        job->abandoned = true;
        AddHanging(name);
        lock.unlock();
        worker.detach();
        return {PcmAnswer::kTimedOut, -ETIMEDOUT};
    }
    const SPcmCheck check = job->result;
    lock.unlock();
    worker.join();
    return check;
}

int HangingOpenCount() {
    SHanging& h = Hanging();
    std::lock_guard<std::mutex> guard(h.lock);
    return static_cast<int>(h.names.size());
}

bool WaitForHangingOpens(DWORD milliseconds) {
    SHanging& h = Hanging();
    std::unique_lock<std::mutex> lock(h.lock);
    return h.changed.wait_for(lock, std::chrono::milliseconds(milliseconds), [&] { return h.names.empty(); });
}

} // namespace os::dsound::alsa
