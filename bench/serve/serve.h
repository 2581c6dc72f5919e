// `gaugebench serve`: a whole panel, live in a web browser.
//
// The page shows every visible window of the panel as the gauges draw it, sends the pointer's
// presses, drags and releases on a window to the gauges, lists the KeyEvents and sounds the
// gauges produce (playing the sounds), and sets host variables. The server listens on 127.0.0.1
// only.
//
// Endpoints (ids and values in decimal or 0x hex):
//   GET  /                        the page (and /app.js, /style.css), built into the program
//   GET  /api/panel               windows, gauge boxes, mouse areas, load warnings (JSON)
//   GET  /api/poll?since=V&events=N
//                                 waits (up to 2 s) until the state is newer than version V, then
//                                 answers the frame number of every window, the log entries from
//                                 number N on, the host variables and the panel thread's costs
//   GET  /api/frame?w=I[&since=N] window I as last drawn, as PNG: the whole picture, or for a
//                                 reader that has frame N only the part changed since (headers
//                                 X-Frame-Number, X-Frame-Size WxH, X-Part "whole|part X Y W H");
//                                 204 when N is the newest frame
//   GET  /api/sound/N.wav         log entry N, a sound, as audio/wav
//   POST /api/pointer?w=I&x=X&y=Y&gesture=press|move|release
//                                 a gesture in window-background pixels; answers {"hit":...}
//   POST /api/set?id=ID&value=V   sets a host variable
//   POST /api/clear               empties the log
#pragma once

#include <memory>
#include <ostream>
#include <stdexcept>
#include <string>

namespace serve {

class Session;

struct Options {
  std::string cfgPath;
  std::string gaugesDir;
  int port = 8080;  // 0: any free port
};

// A port the server cannot listen on; the message is one line.
struct ListenError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// The HTTP side of a Session.
class WebServer {
 public:
  explicit WebServer(Session& session);
  ~WebServer();
  // Binds 127.0.0.1:port (0 for any free port) and returns the port; throws ListenError.
  int bind(int port);
  // Serves until stop(); returns false if serving failed.
  bool run();
  void stop();  // from any thread

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// Loads the panel, listens, prints the page's address to `out`, and serves until SIGINT or
// SIGTERM. Returns the exit status; throws (one-line message) when the panel cannot be read or
// the port cannot be listened on.
int Serve(const Options& options, std::ostream& out);

}  // namespace serve
