#include <arpa/inet.h>
#include <httplib.h>
#include <netinet/in.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <sstream>
#include <thread>

#include "assets.h"
#include "json.h"
#include "panel/panel.h"
#include "serve.h"
#include "session.h"
#include "wav.h"

namespace serve {
namespace {

constexpr char kHost[] = "127.0.0.1";
constexpr auto kPollWait = std::chrono::milliseconds(2000);

// A bad request: answered with status 400 and the message.
struct BadRequest : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// Whole numbers in decimal or 0x hex, with an optional sign.
std::optional<long long> Integer(const std::string& text) {
  size_t i = 0;
  const bool negative = !text.empty() && text[0] == '-';
  if (!text.empty() && (text[0] == '-' || text[0] == '+')) i = 1;
  int base = 10;
  if (text.size() > i + 1 && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
    base = 16;
    i += 2;
  }
  if (i >= text.size()) return std::nullopt;
  unsigned long long value = 0;
  for (; i < text.size(); ++i) {
    const char c = text[i];
    const int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : 99;
    if (digit >= base || value > (1ull << 56)) return std::nullopt;
    value = value * base + digit;
  }
  return negative ? -static_cast<long long>(value) : static_cast<long long>(value);
}

std::optional<double> Real(const std::string& text) {
  if (text.find_first_of("xX") != std::string::npos) {
    if (auto i = Integer(text)) return static_cast<double>(*i);
    return std::nullopt;
  }
  if (text.empty() || text.size() > 64 || std::isspace(static_cast<unsigned char>(text[0]))) return std::nullopt;
  char* end = nullptr;
  const double value = std::strtod(text.c_str(), &end);
  if (end != text.c_str() + text.size() || !std::isfinite(value)) return std::nullopt;
  return value;
}

const std::string& Param(const httplib::Request& req, const char* name) {
  auto it = req.params.find(name);
  if (it == req.params.end()) throw BadRequest(std::string("missing parameter ") + name);
  return it->second;
}

long long IntegerParam(const httplib::Request& req, const char* name, long long low, long long high) {
  const std::string& text = Param(req, name);
  const auto value = Integer(text);
  if (!value || *value < low || *value > high)
    throw BadRequest(std::string(name) + " \"" + text + "\" is not a whole number from " + std::to_string(low) + " to " +
                     std::to_string(high));
  return *value;
}

uint64_t CountParam(const httplib::Request& req, const char* name) {
  if (!req.has_param(name)) return 0;
  const auto value = Integer(req.get_param_value(name));
  if (!value || *value < 0) throw BadRequest(std::string(name) + " is not a count");
  return static_cast<uint64_t>(*value);
}

void Json(httplib::Response& res, const std::string& body, int status = 200) {
  res.status = status;
  res.set_content(body, "application/json");
}

void Fail(httplib::Response& res, int status, const std::string& message) {
  Json(res, "{\"error\":" + JsonString(message) + "}", status);
}

using guest::Hex;

std::string SnapshotJson(const Snapshot& s) {
  std::ostringstream j;
  j << "{\"version\":" << s.version << ",\"frames\":[";
  for (size_t i = 0; i < s.frames.size(); ++i) j << (i ? "," : "") << s.frames[i];
  j << "],\"nextEvent\":" << s.nextEvent << ",\"firstEvent\":" << s.firstEvent << ",\"events\":[";
  for (size_t i = 0; i < s.events.size(); ++i) {
    const LoggedEvent& e = s.events[i];
    const bool sound = e.event.kind == host::Event::Kind::Sound;
    j << (i ? "," : "") << "{\"number\":" << e.number << ",\"kind\":\"" << (sound ? "sound" : "key")
      << "\",\"module\":" << JsonString(e.event.module) << ",\"id\":" << e.event.id << ",\"value\":" << e.event.value
      << ",\"bytes\":" << e.event.samples.size() << ",\"text\":" << JsonString(host::FormatEvent(e.event)) << "}";
  }
  j << "],\"variables\":{";
  bool first = true;
  for (const auto& [id, value] : s.variables) {
    j << (first ? "" : ",") << JsonString(Hex(id)) << ":" << JsonNumber(value);
    first = false;
  }
  j << "},\"warnings\":" << s.warnings << ",\"error\":" << JsonString(s.error) << ",\"stats\":{\"ticks\":" << s.stats.ticks
    << ",\"frames\":" << s.stats.frames << ",\"pngs\":" << s.stats.pngs << ",\"updateMs\":" << JsonNumber(s.stats.updateMs)
    << ",\"drawMs\":" << JsonNumber(s.stats.drawMs) << ",\"encodeMs\":" << JsonNumber(s.stats.encodeMs)
    << ",\"pngBytes\":" << JsonNumber(s.stats.pngBytes)
    << ",\"ticksPerSecond\":" << JsonNumber(s.stats.ticksPerSecond)
    << ",\"framesPerSecond\":" << JsonNumber(s.stats.framesPerSecond) << "}}";
  return j.str();
}

// Why 127.0.0.1:port cannot be bound, or an empty string if it can.
std::string BindProblem(int port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return std::strerror(errno);
  int yes = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  std::string problem;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
    problem = errno == EADDRINUSE ? "is in use" : std::string("cannot be used: ") + std::strerror(errno);
  ::close(fd);
  return problem;
}

}  // namespace

struct WebServer::Impl {
  Session& session;
  httplib::Server http;
  std::mutex mutex;
  bool stopRequested = false, running = false, stopIssued = false;

  explicit Impl(Session& s) : session(s) {}
  void routes();
};

void WebServer::Impl::routes() {
  // Reusing an address is fine (a port in TIME_WAIT); sharing a port with another listener is
  // not, so no SO_REUSEPORT: a second server on the same port must fail to bind.
  http.set_socket_options([](socket_t sock) {
    int yes = 1;
    ::setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  });
  http.set_tcp_nodelay(true);
  http.new_task_queue = [] { return new httplib::ThreadPool(16); };
  http.set_default_headers({{"Cache-Control", "no-store"}});
  http.set_exception_handler([this](const httplib::Request&, httplib::Response& res, std::exception_ptr failure) {
    try {
      std::rethrow_exception(failure);
    } catch (const BadRequest& e) {
      Fail(res, 400, e.what());
    } catch (const std::out_of_range& e) {
      Fail(res, 404, e.what());
    } catch (const std::future_error&) {
      Fail(res, 503, "the panel has stopped");
    } catch (const std::exception& e) {
      Fail(res, session.stopped() ? 503 : 500, e.what());
    } catch (...) {
      Fail(res, 500, "unknown failure");
    }
  });

  for (size_t i = 0; i < kAssetCount; ++i) {
    const Asset& asset = kAssets[i];
    auto serveAsset = [&asset](const httplib::Request&, httplib::Response& res) {
      res.set_content(asset.bytes.data(), asset.bytes.size(), std::string(asset.type).c_str());
    };
    http.Get(std::string(asset.path), serveAsset);
    if (asset.path == "/index.html") http.Get("/", serveAsset);
  }

  http.Get("/api/panel", [this](const httplib::Request&, httplib::Response& res) {
    session.touch();
    Json(res, session.describe());
  });
  http.Get("/api/poll", [this](const httplib::Request& req, httplib::Response& res) {
    const uint64_t since = CountParam(req, "since");
    const uint64_t from = CountParam(req, "events");
    Json(res, SnapshotJson(session.poll(since, from, kPollWait)));
  });
  http.Get("/api/frame", [this](const httplib::Request& req, httplib::Response& res) {
    const int w = static_cast<int>(IntegerParam(req, "w", 0, 1 << 20));
    const FramePart f = session.frame(w, CountParam(req, "since"));
    res.set_header("X-Frame-Number", std::to_string(f.number));
    res.set_header("X-Frame-Size", std::to_string(f.width) + "x" + std::to_string(f.height));
    if (!f.png) {
      res.status = 204;  // the reader has this frame already
      return;
    }
    res.set_header("X-Part", (f.whole ? "whole " : "part ") + std::to_string(f.part.x) + " " + std::to_string(f.part.y) +
                                 " " + std::to_string(f.part.width) + " " + std::to_string(f.part.height));
    res.set_content(reinterpret_cast<const char*>(f.png->data()), f.png->size(), "image/png");
  });
  http.Get(R"(/api/sound/(\d{1,18})\.wav)", [this](const httplib::Request& req, httplib::Response& res) {
    const auto event = session.event(std::stoull(req.matches[1].str()));
    if (!event || event->kind != host::Event::Kind::Sound) return Fail(res, 404, "no such sound in the log");
    const std::vector<uint8_t> wav = host::WavImage(*event);
    res.set_content(reinterpret_cast<const char*>(wav.data()), wav.size(), "audio/wav");
  });
  http.Post("/api/pointer", [this](const httplib::Request& req, httplib::Response& res) {
    const std::string& gesture = Param(req, "gesture");
    const int w = static_cast<int>(IntegerParam(req, "w", 0, 1 << 20));
    const int x = static_cast<int>(IntegerParam(req, "x", -100000, 100000));
    const int y = static_cast<int>(IntegerParam(req, "y", -100000, 100000));
    Session::Gesture g;
    if (gesture == "press") {
      g = Session::Gesture::Press;
    } else if (gesture == "move") {
      g = Session::Gesture::Move;
    } else if (gesture == "release") {
      g = Session::Gesture::Release;
    } else {
      throw BadRequest("gesture \"" + gesture + "\" is not press, move or release");
    }
    const bool hit = session.pointer(w, g, x, y);
    Json(res, std::string("{\"hit\":") + (hit ? "true" : "false") + "}");
  });
  http.Post("/api/set", [this](const httplib::Request& req, httplib::Response& res) {
    const long long id = IntegerParam(req, "id", 0, 0xFFFFFFFFll);
    const std::string& text = Param(req, "value");
    const auto value = Real(text);
    if (!value) throw BadRequest("value \"" + text + "\" is not a number");
    session.setVariable(static_cast<uint32_t>(id), *value);
    Json(res, "{\"id\":" + JsonString(Hex(static_cast<uint32_t>(id))) + ",\"value\":" + JsonNumber(*value) + "}");
  });
  http.Post("/api/clear", [this](const httplib::Request&, httplib::Response& res) {
    session.clearLog();
    Json(res, "{}");
  });
}

WebServer::WebServer(Session& session) : impl_(std::make_unique<Impl>(session)) { impl_->routes(); }

WebServer::~WebServer() { stop(); }

int WebServer::bind(int port) {
  if (port < 0 || port > 65535) throw ListenError("port " + std::to_string(port) + " is not a port number (0 to 65535)");
  const std::string where = std::string("port ") + std::to_string(port) + " on " + kHost + " ";
  if (port == 0) {
    const int bound = impl_->http.bind_to_any_port(kHost);
    if (bound <= 0) throw ListenError(std::string("cannot listen on any port of ") + kHost);
    return bound;
  }
  if (const std::string problem = BindProblem(port); !problem.empty()) throw ListenError(where + problem);
  if (!impl_->http.bind_to_port(kHost, port)) throw ListenError(where + "is in use");
  return port;
}

bool WebServer::run() {
  {
    std::lock_guard lock(impl_->mutex);
    if (impl_->stopRequested) return true;
    impl_->running = true;
  }
  const bool ok = impl_->http.listen_after_bind();
  std::lock_guard lock(impl_->mutex);
  impl_->running = false;
  return ok;
}

void WebServer::stop() {
  for (;;) {
    {
      std::lock_guard lock(impl_->mutex);
      impl_->stopRequested = true;
      if (!impl_->running || impl_->stopIssued) return;
      // httplib may be stopped once, and only once it is listening.
      if (impl_->http.is_running()) {
        impl_->http.stop();
        impl_->stopIssued = true;
        return;
      }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
}

int Serve(const Options& options, std::ostream& out) {
  // SIGINT and SIGTERM are taken with sigtimedwait below: block them before any thread starts, so
  // every thread inherits the mask and none is interrupted.
  sigset_t stopSignals, previous;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, &previous);
  struct RestoreMask {
    sigset_t mask;
    ~RestoreMask() { pthread_sigmask(SIG_SETMASK, &mask, nullptr); }
  } restore{previous};
  std::signal(SIGPIPE, SIG_IGN);  // a browser closing a connection mid-answer is not fatal

  Session session(options.cfgPath, options.gaugesDir);
  const auto warnings = session.withPanel([](panel::Panel& p) {
    std::vector<std::string> texts;
    for (const panel::Warning& w : p.warnings()) texts.push_back(w.text());
    return texts;
  });
  for (const std::string& w : warnings) std::cerr << "warning: " << w << "\n";

  WebServer web(session);
  const int port = web.bind(options.port);
  out << "serving " << options.cfgPath << " at http://" << kHost << ":" << port << "/ (Ctrl+C stops)" << std::endl;

  std::atomic<bool> finished = false;
  bool ok = true;
  std::thread server([&] {
    ok = web.run();
    finished = true;
  });
  int received = 0;
  while (!finished) {
    const timespec wait{0, 100'000'000};
    const int signal = sigtimedwait(&stopSignals, nullptr, &wait);
    if (signal == SIGINT || signal == SIGTERM) {
      received = signal;
      break;
    }
  }
  session.stop();  // wakes the waiting polls first, so the server's threads end at once
  web.stop();
  server.join();
  if (received != 0) out << "stopped (" << (received == SIGINT ? "SIGINT" : "SIGTERM") << ")" << std::endl;
  if (!ok) throw std::runtime_error(std::string("serving on ") + kHost + ":" + std::to_string(port) + " failed");
  return 0;
}

}  // namespace serve
