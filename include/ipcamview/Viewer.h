// The viewer's class interface, for hosts that embed it in their own process
// instead of going through the five C functions of ipcamview.h: they hold a
// CViewer themselves and reach the operations that the C functions never
// call (show in a window, subscribe, record, window input).
//
// Such a host links the static library target ipcam_viewer (which brings the
// layers beneath it) and includes this header; it does not link
// libipcamview.so, which exports nothing but the C functions.
//
// The usual life of an embedded viewer, all on the host's thread:
//
//   CViewer viewer;
//   int32_t audio = 1;
//   media_util::CMediaObj preferences;              // mVideoFormat: preferred codec
//   if (viewer.Open(CViewer::kTransportSocket, "10.0.0.5", 0, "admin", "secret",
//                   &audio, 1, &preferences) == 0)
//       ...                                          // the address did not parse
//   viewer.Arm();
//   viewer.StartDisplay(window);                     // show
//   viewer.Subscribe();                              // live media start to flow
//   viewer.StartRecord();                            // optional
//   ...                                              // the window's messages:
//   CWindowInput::Forward(viewer, message);          // mouse and menu commands
//                                                    // to an editor (docs/editors.md)
//   viewer.StopDisplay();                            // hide
//   // destruction disarms, unsubscribes, stops recording, joins the threads
//
// Settings that only an embedding host makes (display flags, crop rectangle,
// output pixel format, aspect mode, record mode and path) are public members
// of CDisplayChannel that the host writes before it opens, shows or records.
#pragma once

#include "viewer/CViewer.h"
#include "viewer/CWindowInput.h"
