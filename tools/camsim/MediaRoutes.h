// camsim's live media: the multipart streams and the polled JPEG pictures of
// every device family, generated and encoded while they are sent.
//
// How main.cpp wires it: after the device's own routes are registered and
// before server.Run(),
//
//     RegisterMediaRoutes(router, device, faults, &clips);
//
// with the DeviceState the dialect serves from and the server's Faults. The
// router then knows every stream path the viewer composes for the device
// ("/ipcam/sjpeg.cgi", "/ipcam/mpeg4.cgi", "/avc.cgi", "/ipcam/stream.cgi",
// "/ipcam/mjpeg.cgi" and the "...cif.cgi" paths, "/avcplay.cgi",
// "/axis-cgi/mjpg/video.cgi", "/dms01".."/dms16").
//
// "/api.htm" is shared: the recorders' parameter CGI and their picture
// requests ("op.liveimage=", "op.playimage=") arrive on the same path. The
// dialect's "/api.htm" handler calls ServeRecorderImage first and answers the
// request itself only when that returns false.
//
// Threads: registration on the main thread before the server runs; the
// handlers run on the connection threads, each stream with its own encoder.
#pragma once

#include "ClipCache.h"

#include <vector>

namespace camsim {

class DeviceState;
class Faults;
class HttpConnection;
class HttpRequest;
class Router;

// With `clips` (--preencode) streams and polls replay pre-encoded pictures.
void RegisterMediaRoutes(Router& router, DeviceState& device, Faults& faults, ClipCache* clips = nullptr);

// The clips a plain open of each channel (or profile) replays, for
// ClipCache::Prepare before the server listens.
std::vector<ClipKey> PlainOpenClips(const DeviceState& device);

// Answers a recorder picture request ("/api.htm?op.liveimage=MASK...",
// "/api.htm?op.playimage=0:MASK...") and returns true; returns false, having
// written nothing, for any other request. Needs RegisterMediaRoutes first.
bool ServeRecorderImage(const HttpRequest& request, HttpConnection& out);

// Usage lines of the media paths, for --help.
const char* MediaRoutesHelp();

} // namespace camsim
