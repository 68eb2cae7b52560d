// The CGIs through which a device of each family is identified and set up,
// and the control CGI of the device's state:
//
//   "/vb.htm?"                     parameter CGI of every model (at least
//                                  "getmachinecode"; the cameras' format, size,
//                                  audio, video mode, motion, mask, block grid,
//                                  layout text and PTZ keys)
//   "/api.htm?"                    the recorders' parameter CGI; its picture
//                                  requests go to the live media first
//   "/ipcam/multiprofile.cgi?"     the stream profiles of profile cameras
//   "/getstate?value=ntsc"         the video-standard servers' answer: "1" PAL,
//                                  "0" NTSC
//   "/axis-cgi/admin/getparam.cgi?" the other vendor's parameter CGI
//   "/camsim/device?..."           camsim's own: describe, set values, reply
//                                  faults (no credentials, no faults)
//
// Threads: registered on the main thread before the server runs; the
// handlers run on connection threads.
#pragma once

#include <functional>

namespace camsim {

class DeviceFaults;
class DeviceState;
class HttpConnection;
class HttpRequest;
class Router;

// Answers a recorder's picture request on "/api.htm" and returns true, or
// returns false having written nothing (the request is then a parameter
// request). The live media provide it.
using PictureHandler = std::function<bool(const HttpRequest&, HttpConnection&)>;

class DeviceRoutes {
public:
    // Registers the CGIs of the state's model. The state and the faults must
    // outlive the server.
    static void Register(Router& router, DeviceState& state, DeviceFaults& faults,
                         PictureHandler pictures = nullptr);
    // Usage lines for --help.
    static const char* Help();
};

} // namespace camsim
