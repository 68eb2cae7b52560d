// ALSA configurations written by a test, so that the capture layer never
// meets a real sound device: every PCM is built on ALSA's null plugin (which
// takes any format and captures silence) or its file plugin (which captures
// from a file). While an object lives, ALSA_CONFIG_PATH names its file (and
// only its file: ALSA's own configuration is not read); its destruction puts
// the previous value back. Each object writes a file of a new name, so ALSA
// reads the configuration afresh.
//
// Threads: construct and destroy on the test's main thread while no other
// thread reads the environment.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace alsatest {

enum class PcmKind {
    kNull,        // takes every format
    kFile,        // the file plugin over null, capturing from a file that exists
    kMonoOnly,    // one channel only (a multi plugin over null)
    kStereoOnly,  // two channels only
    kMissingFile, // the file plugin with an input file that does not exist: does not open
    kHanging,     // the file plugin reading a pipe without a writer: its open waits
    kNoCard,      // a sound card that is not there (card 31)
    kTemplate,    // a definition that takes an argument, like hw:CARD,DEV
    kCardAlias,   // another name of the cards' "default", as ALSA's own "default" is
};

struct SPcm {
    SPcm(std::string name_, PcmKind kind_ = PcmKind::kNull, bool listed_ = true,
         std::string description_ = "", std::string show_ = "on")
        : name(std::move(name_)), kind(kind_), listed(listed_), description(std::move(description_)),
          show(std::move(show_)) {}

    std::string name;
    PcmKind kind;
    // Listed by ALSA when true (a "hint" section); a PCM without one exists
    // but is not listed.
    bool listed;
    std::string description; // the hint's; the name when empty
    std::string show;        // the hint's "show": on or off
};

inline std::string TestDirectory() {
    const char* tmp = std::getenv("IPCAM_TEST_TMP");
    return tmp != nullptr ? tmp : "/tmp";
}

class CAlsaTestConfig {
public:
    // A configuration defining exactly these PCMs.
    explicit CAlsaTestConfig(const std::vector<SPcm>& pcms) : CAlsaTestConfig(SPath{NewPath()}) {
        Write(pcms);
    }
    // ALSA_CONFIG_PATH names a file that does not exist: no configuration.
    static CAlsaTestConfig Missing() { return CAlsaTestConfig(SPath{NewPath()}); }

    CAlsaTestConfig(CAlsaTestConfig&& other) noexcept
        : mPath(std::move(other.mPath)), mFifo(std::move(other.mFifo)), mInput(std::move(other.mInput)),
          mHadPrevious(other.mHadPrevious), mPrevious(std::move(other.mPrevious)), mOwner(other.mOwner) {
        other.mOwner = false;
    }
    CAlsaTestConfig(const CAlsaTestConfig&) = delete;
    CAlsaTestConfig& operator=(const CAlsaTestConfig&) = delete;

    ~CAlsaTestConfig() {
        if (!mOwner)
            return;
        ReleaseHangingOpens();
        if (mHadPrevious)
            ::setenv("ALSA_CONFIG_PATH", mPrevious.c_str(), 1);
        else
            ::unsetenv("ALSA_CONFIG_PATH");
        std::remove(mPath.c_str());
        std::remove(mInput.c_str());
        if (!mFifo.empty())
            std::remove(mFifo.c_str());
    }

    const std::string& Path() const { return mPath; }
    // The pipe a kHanging PCM reads; opening it for writing lets that PCM's
    // waiting open return.
    const std::string& Fifo() const { return mFifo; }

    // Lets every open waiting on the pipe return: a writer comes and goes.
    void ReleaseHangingOpens() const {
        if (mFifo.empty())
            return;
        const int fd = ::open(mFifo.c_str(), O_WRONLY | O_NONBLOCK);
        if (fd >= 0)
            ::close(fd);
    }

private:
    struct SPath {
        std::string path;
    };
    explicit CAlsaTestConfig(SPath path) : mPath(std::move(path.path)) {
        const char* previous = std::getenv("ALSA_CONFIG_PATH");
        mHadPrevious = previous != nullptr;
        if (mHadPrevious)
            mPrevious = previous;
        ::setenv("ALSA_CONFIG_PATH", mPath.c_str(), 1);
    }

    static std::string NewPath() {
        static int serial = 0;
        return TestDirectory() + "/alsa-" + std::to_string(::getpid()) + "-" + std::to_string(++serial) +
               ".conf";
    }

    void Write(const std::vector<SPcm>& pcms) {
        mInput = mPath + ".raw";
        std::ofstream(mInput) << std::string(3200, '\x80'); // silence, 8-bit
        std::ofstream out(mPath);
        for (const SPcm& pcm : pcms) {
            if (pcm.kind == PcmKind::kCardAlias) {
                out << "pcm.!" << pcm.name << " cards.pcm.default\n";
                continue;
            }
            // "!" replaces a definition of the same name rather than merging.
            out << "pcm.!" << pcm.name << " {\n" << Body(pcm.kind);
            if (pcm.listed)
                out << "  hint { show " << pcm.show << " description \""
                    << (pcm.description.empty() ? pcm.name : pcm.description) << "\" }\n";
            out << "}\n";
        }
    }

    std::string FileBody(const std::string& input) const {
        return "  type file\n  slave.pcm { type null }\n  file \"/dev/null\"\n  infile \"" + input +
               "\"\n  format \"raw\"\n";
    }

    std::string Body(PcmKind kind) {
        switch (kind) {
        case PcmKind::kNull:
            return "  type null\n";
        case PcmKind::kFile:
            return FileBody(mInput);
        case PcmKind::kMonoOnly:
            return "  type multi\n  slaves.a { pcm { type null } channels 1 }\n"
                   "  bindings.0 { slave a channel 0 }\n";
        case PcmKind::kStereoOnly:
            return "  type multi\n  slaves.a { pcm { type null } channels 2 }\n"
                   "  bindings.0 { slave a channel 0 }\n  bindings.1 { slave a channel 1 }\n";
        case PcmKind::kMissingFile:
            return FileBody(mPath + ".absent");
        case PcmKind::kHanging:
            if (mFifo.empty()) {
                mFifo = mPath + ".fifo";
                ::mkfifo(mFifo.c_str(), 0600);
            }
            return FileBody(mFifo);
        case PcmKind::kNoCard:
            return "  type hw\n  card 31\n  device 0\n";
        case PcmKind::kCardAlias:
            break;
        case PcmKind::kTemplate:
            return "  @args [ SOURCE ]\n  @args.SOURCE { type string }\n  type null\n";
        }
        return "";
    }

    std::string mPath;
    std::string mFifo;
    std::string mInput;
    bool mHadPrevious = false;
    std::string mPrevious;
    bool mOwner = true;
};

} // namespace alsatest
