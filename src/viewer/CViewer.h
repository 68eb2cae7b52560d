// The viewer instance behind one handle: one channel of one device.
//
// Open turns the host's device address into a configured channel: it
// completes and parses the address, checks access with a request for "/",
// identifies the device by its machine code (asked once per device and
// process, see CMachineCodeCache), lets the device's dialect query its stream
// parameters, answers the host's audio question, composes the stream URL and
// builds the channel's pipeline. Every request of open is synchronous on the
// caller's thread. Only an address that does not parse makes open fail; every
// later failure stops open where it happens and leaves a viewer without
// pipeline (mLastStatus tells 401/407 for refused credentials, 0 for no
// answer) that the host stops like any other. GetOpenReport says where the
// last open stopped and why, for a host that tells its user; AbortOpen lets
// another thread give up an open in progress (a user's Ctrl-C).
//
// Show (StartDisplay) attaches the channel to a window; with display flag 1
// on a device that keeps a layout text, it reads the text and its layout
// number and, when the number's bit 0 says so, draws it over the video once.
// With display flag 2 it also puts an editor over the video, chosen by the
// device's "supportmotion" answer (1 the motion area editor, 2 the motion
// block grid editor, anything else none); with flag 4 (and not 2) the
// privacy mask editor, with flag 8 (and neither) the PTZ control. An overlay
// text worker then
// repaints the editor (and the layout text) into the overlay ten times a
// second. The editor's graphics need the renderer's overlay bitmap, which
// display flag 1 makes. The input hooks hand the window's mouse input and
// menu commands to the editor (docs/editors.md says which window event goes
// to which hook).
//
// Construction also prepares the machine's audio capture (CAudioCapture) and
// keeps whether that worked in mAudioCaptureReady; a machine without a
// capture device only leaves the flag 0.
//
// Threads: the host's thread calls every operation; Open runs without the
// instance table's lock, so several viewers may open at once.
#pragma once

#include "audio/CAudioCapture.h"
#include "net/CUrl.h"
#include "os/window/WinDef.h"
#include "platform/CManualEvent.h"
#include "platform/CMediaObj.h"
#include "viewer/CDisplayChannel.h"

#include <atomic>
#include <cstdint>
#include <string>

class CDeviceProfile;
class CHttpLink;
class COverlayControl;
class COverlayTextWorker;
class IHttpClient;

// Virtual operations 20 and 21 follow CDisplayChannel's 0 to 19.
class CViewer : public CDisplayChannel {
public:
    // Transport kinds (mTransportKind): the socket client; any other value
    // selects the asynchronous client.
    static constexpr int32_t kTransportSocket = 1;
    // What a bare device address gets in front.
    static constexpr const char* kDefaultScheme = "http://";
    // Every request of an open ends within this time from the open's start,
    // however many requests the device's dialect needs and however slowly
    // the device answers: Start is synchronous on the host's thread.
    static constexpr DWORD kOpenBudgetMs = 20000;

    CViewer();
    ~CViewer() override;

    // The time every open of this viewer may take (kOpenBudgetMs unless set).
    void SetOpenBudget(DWORD milliseconds) { mOpenBudgetMs = milliseconds; }

    // The step at which the last open stopped.
    enum class OpenStage {
        kOpened,      // it did not stop: the channel has its pipeline
        kAddress,     // the address did not parse
        kClient,      // no HTTP client could be made
        kAccess,      // "/" was not answered, or refused the credentials
        kMachineCode, // the machine-code query was not answered
        kDialect,     // the machine code names no device this library streams from
        kSetUp,       // the device's parameter queries failed
        kPipeline,    // no picture size: the channel has no pipeline
    };
    struct SOpenReport {
        OpenStage stage = OpenStage::kOpened;
        // The HTTP status of the failed step's last answer; 0 when none came.
        int httpStatus = 0;
        // The client's system error code of that step (a WSAE code on the
        // socket transport, a WinINet code on the other); 0 when it has none.
        DWORD systemError = 0;
        // The HTTP status of the machine-code query; 0 when it was not asked
        // (the code was cached, or open stopped before).
        int machineCodeStatus = 0;
        // Open ran into its budget or was aborted before it ended.
        bool timedOut = false;
        bool aborted = false;
    };
    const SOpenReport& GetOpenReport() const { return mOpenReport; }
    // From any thread: the open in progress gives up at once (its requests
    // fail as cancelled) and stops where it is. The next open starts afresh.
    void AbortOpen();

    // "supportmotion" answers that make an editor.
    static constexpr int32_t kMotionArea = 1;
    static constexpr int32_t kMotionGrid = 2;
    static constexpr const char* kMotionSupportKey = "supportmotion";

    // 2. Disarms; the overlay control and its worker go first, since the
    // renderer they paint into goes with the pipeline.
    int Disarm() override;
    // 6. Show: starts the display on window and returns that result, or 0
    // when the pipeline has no source video description. Display flags 2, 4
    // and 8 choose an overlay control, flag 1 the layout text.
    int StartDisplay(WindowHandle window) override;
    // 7. Hide: stops the display and drops the overlay control.
    int StopDisplay() override;
    // 9 to 14. Window input for the overlay control: 0 while not displaying;
    // without an overlay control the displaying flag (1); otherwise the
    // control's answer. Hook 1 is the pointer leaving the window, hooks 2, 3
    // and 4 its mouse move, button down and button up, hook 5 a double
    // click, hook 6 the wheel (its third value the delta).
    int InputHook1() override;
    int InputHook2(int32_t a, int32_t b, int32_t c, int32_t d) override;
    int InputHook3(int32_t a, int32_t b, int32_t c, int32_t d) override;
    int InputHook4(int32_t a, int32_t b, int32_t c, int32_t d) override;
    int InputHook5(int32_t a, int32_t b, int32_t c, int32_t d) override;
    int InputHook6(int32_t a, int32_t b, int32_t c, int32_t d, int32_t e) override;
    // 15. A menu command (its low 16 bits) for the overlay control, whether
    // displaying or not.
    void InputHook7(int32_t command) override;
    // 16. Releases the pipeline; the overlay control and its worker first.
    int ReleasePipeline() override;
    // 17. Source and display video descriptions from the dialect: 0 without a
    // dialect or when it knows no picture size.
    int FillVideoInfo() override;
    // 18. Audio description from the dialect: 0 without a dialect, or when the
    // device has no audio or the host did not ask for it.
    int FillAudioInfo() override;
    // 19. Prepares the live source description and fills in the stream URL,
    // receive type, credentials, client kind, continuous requests and the
    // machine code. Returns 1.
    int PrepareSubscription() override;
    // 20. Opens the viewer on a device (see the file comment). transportKind:
    // kTransportSocket or another value; address, userName, password:
    // NUL-terminated (null reads as empty); audioFlag: the host's in/out audio
    // flag, written only once the device's stream set-up was reached;
    // channel: 1-based, 0 = none given; params: the host's preferences
    // (mVideoFormat = preferred codec), borrowed for the call. Returns the
    // parse result of the address: non-zero when it parsed.
    virtual int Open(int32_t transportKind, const char* address, int32_t reserved, const char* userName,
                     const char* password, int32_t* audioFlag, int32_t channel,
                     media_util::CMediaObj* params);
    // 21. Lets the dialect query the device's parameters through link:
    // the dialect's result, 0 without a dialect.
    virtual int SetUpDevice(CDeviceProfile* profile, CHttpLink* link, CUrl* deviceUrl, int32_t channel,
                            media_util::CMediaObj* params);

    // The device's layout text as the "getlayouturl" answer carries it:
    // Base64 with "+" "=" "/" spelt "^" "@" "$", of UTF-8 text. Returns the
    // wide text, at most kMaxLayoutText characters; empty when the value does
    // not decode.
    static constexpr size_t kMaxLayoutText = 511;
    static constexpr const char* kLayoutTextKey = "getlayouturl=4";
    static constexpr const char* kLayoutNumberKey = "getlayoutnum=2";
    static std::wstring DecodeLayoutText(const std::string& value);

    // The CGI path of the machine-code query, the same on every device family.
    static constexpr const char* kMachineCodeCgiPath = "/vb.htm?";
    static constexpr const char* kMachineCodeKey = "getmachinecode";

    // True when open composed a stream path: the stream URL names more than
    // the device ("http://host:port/...").
    bool HasStreamPath() const;

    // Releases what open created; the viewer can be opened again.
    void Close();

    // The URL open parses for a host's address: "http://" in front when the
    // address has no "/" or begins with one ("10.0.0.5", "/x"), else the
    // address as it is ("10.0.0.5/x", "http://10.0.0.5/"). Null reads as "".
    static std::string CompleteAddress(const char* address);

    // --- Members, in this order. ---
    int32_t mAccessCheck = 1; // open always checks access first
    CUrl mDeviceUrl;
    std::string mUserName;
    std::string mPassword;
    std::string mStreamUrl; // "http://host:port/path?query" once open composed it
    int32_t mZeroWords3[2] = {0, 0};
    int32_t mTransportKind = 0;
    int32_t mZeroWord4 = 0;
    CDeviceProfile* mpProfile = nullptr; // the device's dialect; owned
    // Every request of the viewer goes through the control link; both owned.
    CHttpLink* mpControlLink = nullptr;
    IHttpClient* mpControlClient = nullptr;
    // Every client the viewer creates gets this as its cancel event; the
    // viewer signals it only when the host aborts an open (AbortOpen).
    media_util::CManualEvent mCancelEvent;
    CHttpLink* mpSecondLink = nullptr; // owned; created by open
    IHttpClient* mpSecondClient = nullptr;
    // The control over the video (an area editor or the PTZ control) and the
    // worker that repaints it; both owned, made by Show, destroyed by Hide,
    // Close and a release of the pipeline (worker first).
    COverlayControl* mpOverlayControl = nullptr;
    COverlayTextWorker* mpOverlayWorker = nullptr;
    // Prepared by the constructor; mAudioCaptureReady is 1 when that worked.
    CAudioCapture mAudioCapture;
    int32_t mAudioCaptureReady = 0;
    int32_t mZeroWords5[6] = {0, 0, 0, 0, 0, 0};
    // What the last Show read of the device's layout text (empty, 0 when
    // it read none).
    std::wstring mLayoutText;
    int32_t mLayoutNumber = 0;

private:
    DWORD mOpenBudgetMs = kOpenBudgetMs;
    SOpenReport mOpenReport;
    std::atomic<bool> mAbortRequested{false};

    // Stops and destroys the overlay worker, then the overlay control.
    void ReleaseOverlay();
    // Show's choice of control for the display flags; null for none.
    COverlayControl* CreateOverlayControl(const RECT& client);

    // Records that open stops at `stage`, with what the control client knows.
    void StopOpenAt(OpenStage stage);

    // Open's steps after the address parsed; false stops open there.
    bool CreateLink(CHttpLink** link, IHttpClient** client);
    bool CheckAccess();
    bool LookUpMachineCode();
    bool SelectDialect();
    // Always writes mStreamUrl ("http://host:port" and whatever path the
    // dialect composed, perhaps none); true when the dialect composed one.
    bool ComposeStreamUrl();
};
