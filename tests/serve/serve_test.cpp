// gaugebench serve over HTTP on 127.0.0.1, against the sample panel and the real modules: gauge
// boxes, gestures reaching the gauges, the log and its sounds, variables, long polls, many clients
// at once, and the program's own life (address printed, busy port, clean stop on a signal).
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <png.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "serve.h"
#include "session.h"

extern char** environ;

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// The number after "key": in the first object of `json` that holds `anchor`, searching from it.
long long NumberAfter(const std::string& json, const std::string& anchor, const std::string& key) {
  const size_t at = json.find(anchor);
  if (at == std::string::npos) {
    ADD_FAILURE() << "no " << anchor << " in " << json;
    return 0;
  }
  const std::regex pattern("\"" + key + "\":(-?[0-9]+)");
  std::smatch m;
  const std::string rest = json.substr(at);
  if (!std::regex_search(rest, m, pattern)) {
    ADD_FAILURE() << "no " << key << " after " << anchor;
    return 0;
  }
  return std::stoll(m[1].str());
}

// A panel served in this process on a free port, with a client for it.
class Served : public ::testing::Test {
 protected:
  void SetUp() override {
    session_ = std::make_unique<serve::Session>(SAMPLE_PANEL, GAUGE_DIR);
    web_ = std::make_unique<serve::WebServer>(*session_);
    port_ = web_->bind(0);
    ASSERT_GT(port_, 0);
    thread_ = std::thread([this] { web_->run(); });
  }
  void TearDown() override {
    session_->stop();
    web_->stop();
    if (thread_.joinable()) thread_.join();
  }

  httplib::Client Client() const {
    httplib::Client c("127.0.0.1", port_);
    c.set_connection_timeout(2);
    c.set_read_timeout(5);
    return c;
  }
  std::string Get(const std::string& path, int status = 200) {
    auto c = Client();
    auto r = c.Get(path.c_str());
    if (!r) {
      ADD_FAILURE() << "GET " << path << " failed: " << httplib::to_string(r.error());
      return {};
    }
    EXPECT_EQ(r->status, status) << path << ": " << r->body;
    return r->body;
  }
  std::string Post(const std::string& path, int status = 200) {
    auto c = Client();
    auto r = c.Post(path.c_str());
    if (!r) {
      ADD_FAILURE() << "POST " << path << " failed: " << httplib::to_string(r.error());
      return {};
    }
    EXPECT_EQ(r->status, status) << path << ": " << r->body;
    return r->body;
  }
  // The window pixel of gauge pixel (gx, gy) of the gauge named `name`.
  std::pair<int, int> WindowPixel(const std::string& name, int gx, int gy) {
    const std::string panel = Get("/api/panel");
    const std::string anchor = "\"name\":\"" + name + "\"";
    const long long x = NumberAfter(panel, anchor, "x"), y = NumberAfter(panel, anchor, "y");
    const long long w = NumberAfter(panel, anchor, "w"), h = NumberAfter(panel, anchor, "h");
    const long long nw = NumberAfter(panel, anchor, "nativeWidth"), nh = NumberAfter(panel, anchor, "nativeHeight");
    EXPECT_GT(nw, 0);
    EXPECT_GT(nh, 0);
    if (nw <= 0 || nh <= 0) return {0, 0};
    // The centre of the gauge pixel, so the panel's floor maps it back to (gx, gy).
    return {static_cast<int>(x + ((gx + 0.5) * w) / nw), static_cast<int>(y + ((gy + 0.5) * h) / nh)};
  }
  std::string Poll(uint64_t since, uint64_t events = 0) {
    return Get("/api/poll?since=" + std::to_string(since) + "&events=" + std::to_string(events));
  }
  static uint64_t Version(const std::string& poll) { return NumberAfter(poll, "{", "version"); }
  static uint64_t Frame0(const std::string& poll) {
    std::smatch m;
    EXPECT_TRUE(std::regex_search(poll, m, std::regex("\"frames\":\\[([0-9]+)"))) << poll;
    return m.empty() ? 0 : std::stoull(m[1].str());
  }

  std::unique_ptr<serve::Session> session_;
  std::unique_ptr<serve::WebServer> web_;
  std::thread thread_;
  int port_ = 0;
};

TEST_F(Served, PanelListsTheWindowAndEveryGaugeBoxWithItsMouseAreas) {
  const std::string panel = Get("/api/panel");
  EXPECT_NE(panel.find("\"title\":\"Main Panel\""), std::string::npos) << panel;
  EXPECT_EQ(NumberAfter(panel, "\"index\":0", "width"), 1024);
  EXPECT_EQ(NumberAfter(panel, "\"index\":0", "height"), 540);
  for (const char* gauge : {"ZAF-M8V-OMI-Lights2-v1s", "KT7-Quad", "ZAF-M8V-Cowlflaps-v3s", "VOLMAR.PILOT.AP.SWITCH"})
    EXPECT_NE(panel.find(std::string("\"gaugeName\":\"") + gauge + "\""), std::string::npos) << gauge;
  const std::string cowl = "\"name\":\"ZAF-M8V-Cowlflaps-v3s\"";
  EXPECT_EQ(NumberAfter(panel, cowl, "x"), 704);
  EXPECT_EQ(NumberAfter(panel, cowl, "y"), 340);
  EXPECT_EQ(NumberAfter(panel, cowl, "w"), 300);
  EXPECT_EQ(NumberAfter(panel, cowl, "h"), 117);
  // The quadrant's native size, and its first mouse area (a lever strip) in gauge pixels.
  EXPECT_EQ(NumberAfter(panel, "\"name\":\"KT7-Quad\"", "nativeWidth"), 190);
  EXPECT_EQ(NumberAfter(panel, "\"name\":\"KT7-Quad\"", "nativeHeight"), 68);
  EXPECT_NE(panel.find("\"areas\":[{\"x\":"), std::string::npos);
  EXPECT_NE(panel.find("\"warnings\":[]"), std::string::npos) << panel;
}

TEST_F(Served, PressOnTheLeftCowlFlapOpenAreaLogsItsKeyAndClickAndRedraws) {
  const std::string before = Poll(0);
  const uint64_t version = Version(before), frame = Frame0(before);
  ASSERT_GT(frame, 0u);
  const std::string picture = Get("/api/frame?w=0");
  ASSERT_EQ(picture.substr(1, 3), "PNG");

  const auto [x, y] = WindowPixel("ZAF-M8V-Cowlflaps-v3s", 100, 100);
  const auto q = "&x=" + std::to_string(x) + "&y=" + std::to_string(y);
  EXPECT_EQ(Post("/api/pointer?w=0&gesture=press" + q), "{\"hit\":true}");
  Post("/api/pointer?w=0&gesture=release" + q);

  const std::string after = Poll(version);
  ASSERT_GT(Version(after), version);
  EXPECT_NE(after.find("\"kind\":\"key\",\"module\":\"cowl_flaps\",\"id\":66064,\"value\":0"), std::string::npos) << after;
  const size_t sound = after.find("\"kind\":\"sound\",\"module\":\"cowl_flaps\",\"id\":5001");
  ASSERT_NE(sound, std::string::npos) << after;
  EXPECT_GT(Frame0(after), frame);
  EXPECT_NE(Get("/api/frame?w=0"), picture);

  // The click as a .wav: a RIFF/WAVE image whose sizes add up, with samples in it.
  std::smatch m;
  const std::string fromSound = after.substr(0, sound);
  ASSERT_TRUE(std::regex_search(fromSound, m, std::regex(".*\"number\":([0-9]+),$")));
  auto c = Client();
  auto wav = c.Get(("/api/sound/" + m[1].str() + ".wav").c_str());
  ASSERT_TRUE(wav);
  EXPECT_EQ(wav->status, 200);
  EXPECT_EQ(wav->get_header_value("Content-Type"), "audio/wav");
  const std::string& b = wav->body;
  ASSERT_GT(b.size(), 44u);
  EXPECT_EQ(b.substr(0, 4), "RIFF");
  EXPECT_EQ(b.substr(8, 8), "WAVEfmt ");
  uint32_t riffSize;
  std::memcpy(&riffSize, b.data() + 4, 4);
  EXPECT_EQ(riffSize + 8, b.size());
  EXPECT_GT(NumberAfter(fromSound + after.substr(sound), "\"kind\":\"sound\"", "bytes"), 100);

  // Events asked for from a later number are not sent again; a KeyEvent is no sound.
  const uint64_t next = NumberAfter(after, "{", "nextEvent");
  EXPECT_EQ(NumberAfter(Poll(0, next), "{", "nextEvent"), static_cast<long long>(next));
  EXPECT_NE(Poll(0, next).find("\"events\":[]"), std::string::npos);
  ASSERT_TRUE(std::regex_search(after, m, std::regex("\"number\":([0-9]+),\"kind\":\"key\"")));
  Get("/api/sound/" + m[1].str() + ".wav", 404);
  Get("/api/sound/999999.wav", 404);

  // A press where no gauge is.
  EXPECT_EQ(Post("/api/pointer?w=0&gesture=press&x=2&y=2"), "{\"hit\":false}");
  Post("/api/pointer?w=0&gesture=release&x=2&y=2");

  // Clearing empties the log; numbers go on.
  Post("/api/clear");
  const std::string cleared = Poll(0);
  EXPECT_NE(cleared.find("\"events\":[]"), std::string::npos);
  EXPECT_EQ(NumberAfter(cleared, "{", "firstEvent"), static_cast<long long>(next));
}

struct Picture {
  int width = 0, height = 0;
  std::vector<uint8_t> rgb;
};

Picture Decode(const std::string& png) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  Picture p;
  if (!png_image_begin_read_from_memory(&image, png.data(), png.size())) {
    ADD_FAILURE() << "not a PNG: " << image.message;
    return p;
  }
  image.format = PNG_FORMAT_RGB;
  p.rgb.resize(PNG_IMAGE_SIZE(image));
  EXPECT_TRUE(png_image_finish_read(&image, nullptr, p.rgb.data(), 0, nullptr)) << image.message;
  p.width = static_cast<int>(image.width);
  p.height = static_cast<int>(image.height);
  return p;
}

TEST_F(Served, TheChangedPartSinceAFrameTurnsThatFrameIntoTheNewest) {
  auto c = Client();
  auto first = c.Get("/api/frame?w=0");
  ASSERT_TRUE(first);
  ASSERT_EQ(first->status, 200);
  EXPECT_EQ(first->get_header_value("X-Part"), "whole 0 0 1024 540");
  EXPECT_EQ(first->get_header_value("X-Frame-Size"), "1024x540");
  const std::string since = first->get_header_value("X-Frame-Number");
  Picture picture = Decode(first->body);
  ASSERT_EQ(picture.width, 1024);
  ASSERT_EQ(picture.height, 540);

  // Up to date: nothing to send.
  auto same = c.Get(("/api/frame?w=0&since=" + since).c_str());
  ASSERT_TRUE(same);
  EXPECT_EQ(same->status, 204);
  EXPECT_EQ(same->get_header_value("X-Frame-Number"), since);

  // The left cowl flap lever moves, then throttle 2 (elsewhere on the panel) does.
  const auto [cx, cy] = WindowPixel("ZAF-M8V-Cowlflaps-v3s", 100, 100);
  const auto cq = "&x=" + std::to_string(cx) + "&y=" + std::to_string(cy);
  Post("/api/pointer?w=0&gesture=press" + cq);
  Post("/api/pointer?w=0&gesture=release" + cq);
  Poll(0);
  Post("/api/set?id=0xA3&value=16384");
  Poll(0);

  auto part = c.Get(("/api/frame?w=0&since=" + since).c_str());
  ASSERT_TRUE(part);
  ASSERT_EQ(part->status, 200);
  int x = 0, y = 0, w = 0, h = 0;
  char kind[8] = {};
  ASSERT_EQ(std::sscanf(part->get_header_value("X-Part").c_str(), "%7s %d %d %d %d", kind, &x, &y, &w, &h), 5);
  EXPECT_STREQ(kind, "part");
  // Both changes lie in the part, which spans the quadrant and the cowl flaps and nothing above them.
  EXPECT_GE(y, 322);
  EXPECT_LE(x, 704 + 150);
  EXPECT_LE(x + w, 1024);
  EXPECT_LE(y + h, 540);
  EXPECT_LT(static_cast<long long>(w) * h, 1024 * 540 / 3);
  const Picture patch = Decode(part->body);
  ASSERT_EQ(patch.width, w);
  ASSERT_EQ(patch.height, h);
  for (int row = 0; row < h; ++row)
    std::memcpy(&picture.rgb[(static_cast<size_t>(y + row) * 1024 + x) * 3], &patch.rgb[static_cast<size_t>(row) * w * 3], w * 3);

  auto whole = c.Get("/api/frame?w=0");
  ASSERT_TRUE(whole);
  EXPECT_EQ(whole->get_header_value("X-Frame-Number"), part->get_header_value("X-Frame-Number"));
  EXPECT_NE(whole->get_header_value("X-Frame-Number"), since);
  const Picture newest = Decode(whole->body);
  EXPECT_TRUE(newest.rgb == picture.rgb) << "the part drawn over the old frame is not the newest frame";
  EXPECT_FALSE(newest.rgb == Decode(first->body).rgb);

  // A frame the bench never had (a reader from before a restart) gets the whole picture.
  auto unknown = c.Get("/api/frame?w=0&since=999999");
  ASSERT_TRUE(unknown);
  EXPECT_EQ(unknown->get_header_value("X-Part"), "whole 0 0 1024 540");
}

TEST_F(Served, DraggingTheThrottleMovesItsVariable) {
  const auto [x, y0] = WindowPixel("KT7-Quad", 70, 30);
  const int y1 = WindowPixel("KT7-Quad", 70, 5).second;
  const auto at = [&](int y) { return "&x=" + std::to_string(x) + "&y=" + std::to_string(y); };
  EXPECT_EQ(Post("/api/pointer?w=0&gesture=press" + at(y0)), "{\"hit\":true}");
  Post("/api/pointer?w=0&gesture=move" + at((y0 + y1) / 2));
  Post("/api/pointer?w=0&gesture=move" + at(y1));
  Post("/api/pointer?w=0&gesture=release" + at(y1));
  const std::string state = Poll(0);
  // Throttle 1: idle line at 80% of 68 (54); gauge y 5 is 16384 * 49 / 54.4 = 14757.
  EXPECT_NE(state.find("\"0x80\":14757"), std::string::npos) << state;
  EXPECT_NE(state.find("\"id\":65820"), std::string::npos) << state;
}

TEST_F(Served, SettingAVariableShowsOnTheNextFrameAndBadInputIsRefused) {
  const std::string before = Poll(0);
  EXPECT_EQ(Post("/api/set?id=0x162&value=2"), "{\"id\":\"0x162\",\"value\":2}");
  const std::string after = Poll(Version(before));
  EXPECT_NE(after.find("\"0x162\":2"), std::string::npos) << after;
  EXPECT_GT(Frame0(after), Frame0(before));  // the A lamp lit
  Post("/api/set?id=354&value=-1.5");
  EXPECT_NE(Poll(0).find("\"0x162\":-1.5"), std::string::npos);

  for (const char* bad : {"/api/set?id=0x162&value=abc", "/api/set?id=0x162&value=nan", "/api/set?id=0x162&value=1e999",
                          "/api/set?id=-1&value=1", "/api/set?id=0x100000000&value=1", "/api/set?value=1",
                          "/api/set?id=0x162", "/api/pointer?w=0&gesture=hover&x=1&y=1", "/api/pointer?w=0&gesture=press&x=1"}) {
    const std::string body = Post(bad, 400);
    EXPECT_NE(body.find("\"error\":"), std::string::npos) << bad;
  }
  Post("/api/pointer?w=7&gesture=press&x=1&y=1", 404);
  Get("/api/frame?w=7", 404);
  Get("/api/nothing", 404);
}

TEST_F(Served, APollWaitsForNewsAndNoLonger) {
  const uint64_t version = Version(Poll(0));
  // Nothing changes: the poll waits its full time and returns the same version.
  auto start = Clock::now();
  const auto quiet = session_->poll(version, 0, 300ms);
  EXPECT_GE(Clock::now() - start, 280ms);
  EXPECT_EQ(quiet.version, version);
  // A change wakes it at once.
  std::thread setter([this] {
    std::this_thread::sleep_for(100ms);
    session_->setVariable(0x67, 1);
  });
  start = Clock::now();
  const auto woken = session_->poll(version, 0, 5000ms);
  setter.join();
  EXPECT_LT(Clock::now() - start, 1000ms);
  EXPECT_GT(woken.version, version);
  EXPECT_EQ(woken.variables.at(0x67), 1.0);
  // Stopping wakes it too, and later gestures fail instead of waiting.
  std::thread stopper([this] {
    std::this_thread::sleep_for(100ms);
    session_->stop();
  });
  start = Clock::now();
  session_->poll(woken.version, 0, 5000ms);
  stopper.join();
  EXPECT_LT(Clock::now() - start, 1000ms);
  EXPECT_THROW(session_->setVariable(0x67, 0), std::runtime_error);
  Post("/api/set?id=0x67&value=0", 503);
}

TEST_F(Served, ManyClientsAtOnceAreServedInTurn) {
  // One client clicks the left cowl flap OPEN area (every press plays the click) while three
  // others set variables, fetch frames and poll.
  const auto [x, y] = WindowPixel("ZAF-M8V-Cowlflaps-v3s", 100, 100);
  const uint64_t from = NumberAfter(Poll(0), "{", "nextEvent");
  std::atomic<int> failures = 0;
  std::vector<std::thread> clients;
  for (int t = 0; t < 4; ++t) {
    clients.emplace_back([&, t] {
      auto c = Client();
      const auto ok = [](const httplib::Result& r) { return r && r->status == 200; };
      const std::string at = "&x=" + std::to_string(x) + "&y=" + std::to_string(y);
      for (int i = 0; i < 20; ++i) {
        bool good = false;
        switch (t == 0 ? 0 : 1 + (t + i) % 3) {
          case 0:
            good = ok(c.Post(("/api/pointer?w=0&gesture=press" + at).c_str())) &&
                   ok(c.Post(("/api/pointer?w=0&gesture=release" + at).c_str()));
            break;
          case 1:
            good = ok(c.Post(("/api/set?id=0x98&value=" + std::to_string(1000 * i + t)).c_str()));
            break;
          case 2: {
            const auto r = c.Get(("/api/frame?w=0&since=" + std::to_string(i)).c_str());
            good = r && (r->status == 200 || r->status == 204);
            break;
          }
          default:
            good = ok(c.Get(("/api/poll?since=" + std::to_string(i) + "&events=0").c_str()));
            break;
        }
        if (!good) ++failures;
      }
    });
  }
  for (auto& c : clients) c.join();
  EXPECT_EQ(failures, 0);
  // Twenty clicks, twenty click sounds, numbered one after the other.
  const std::string state = Poll(0, from);
  size_t sounds = 0;
  for (size_t at = state.find("\"kind\":\"sound\""); at != std::string::npos; at = state.find("\"kind\":\"sound\"", at + 1))
    ++sounds;
  EXPECT_EQ(sounds, 20u) << state;
  EXPECT_EQ(NumberAfter(state, "{", "nextEvent"), static_cast<long long>(from + 21));  // and one KeyEvent: the lever moved once
}

// ---- The program -----------------------------------------------------------------------------

struct Child {
  pid_t pid = -1;
  int out = -1, err = -1;

  static Child Start(const std::vector<std::string>& args) {
    Child c;
    int outPipe[2], errPipe[2];
    if (pipe2(outPipe, O_CLOEXEC) != 0 || pipe2(errPipe, O_CLOEXEC) != 0) return c;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, outPipe[1], 1);
    posix_spawn_file_actions_adddup2(&actions, errPipe[1], 2);
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    if (posix_spawn(&c.pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) c.pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(outPipe[1]);
    close(errPipe[1]);
    c.out = outPipe[0];
    c.err = errPipe[0];
    return c;
  }
  // Reads from `fd` until a newline, end of file or the deadline.
  static std::string Line(int fd, std::chrono::milliseconds within) {
    std::string text;
    const auto deadline = Clock::now() + within;
    while (text.find('\n') == std::string::npos && Clock::now() < deadline) {
      pollfd p{fd, POLLIN, 0};
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      if (poll(&p, 1, static_cast<int>(std::max<long long>(left, 1))) <= 0) continue;
      char buffer[256];
      const ssize_t n = read(fd, buffer, sizeof buffer);
      if (n <= 0) break;
      text.append(buffer, n);
    }
    return text;
  }
  // The exit status, or -1 if it did not end within `within` (then it is killed).
  int Wait(std::chrono::milliseconds within) {
    const auto deadline = Clock::now() + within;
    int status = 0;
    while (Clock::now() < deadline) {
      const pid_t r = waitpid(pid, &status, WNOHANG);
      if (r == pid) {
        pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      std::this_thread::sleep_for(20ms);
    }
    return -1;
  }
  ~Child() {
    if (pid > 0) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
    }
    if (out >= 0) close(out);
    if (err >= 0) close(err);
  }
};

int PortOf(const std::string& line) {
  std::smatch m;
  if (!std::regex_search(line, m, std::regex("http://127\\.0\\.0\\.1:([0-9]+)/"))) return 0;
  return std::stoi(m[1].str());
}

TEST(ServeProgram, PrintsItsAddressServesThePageAndStopsCleanlyOnEitherSignal) {
  for (const int signal : {SIGTERM, SIGINT}) {
    Child child = Child::Start({GAUGEBENCH, "serve", SAMPLE_PANEL, "--gauges", GAUGE_DIR, "--port", "0"});
    ASSERT_GT(child.pid, 0);
    const std::string line = Child::Line(child.out, 20s);
    const int port = PortOf(line);
    ASSERT_GT(port, 0) << line;
    httplib::Client c("127.0.0.1", port);
    c.set_read_timeout(5);
    auto page = c.Get("/");
    ASSERT_TRUE(page);
    EXPECT_EQ(page->status, 200);
    EXPECT_EQ(page->get_header_value("Content-Type"), "text/html; charset=utf-8");
    EXPECT_NE(page->body.find("<script src=\"/app.js\">"), std::string::npos);
    for (const char* asset : {"/app.js", "/style.css"}) {
      auto r = c.Get(asset);
      ASSERT_TRUE(r);
      EXPECT_EQ(r->status, 200) << asset;
      EXPECT_GT(r->body.size(), 1000u) << asset;
    }
    // A poll is waiting when the signal comes: it must not hold the exit up.
    std::thread waiting([port] {
      httplib::Client p("127.0.0.1", port);
      p.set_read_timeout(5);
      p.Get("/api/poll?since=999999&events=0");
    });
    std::this_thread::sleep_for(200ms);
    const auto start = Clock::now();
    kill(child.pid, signal);
    EXPECT_EQ(child.Wait(10s), 0) << "signal " << signal;
    EXPECT_LT(Clock::now() - start, 3s);
    waiting.join();
    EXPECT_NE(Child::Line(child.out, 1s).find("stopped"), std::string::npos);
  }
}

TEST(ServeProgram, APortInUseIsAOneLineErrorAndAFailure) {
  // Hold a port the way any other server would.
  const int holder = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  ASSERT_GE(holder, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(bind(holder, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(listen(holder, 1), 0);
  socklen_t length = sizeof address;
  getsockname(holder, reinterpret_cast<sockaddr*>(&address), &length);
  const std::string port = std::to_string(ntohs(address.sin_port));

  Child child = Child::Start({GAUGEBENCH, "serve", SAMPLE_PANEL, "--gauges", GAUGE_DIR, "--port", port});
  ASSERT_GT(child.pid, 0);
  EXPECT_EQ(child.Wait(20s), 1);
  std::string err = Child::Line(child.err, 1s);
  EXPECT_EQ(err, "gaugebench serve: port " + port + " on 127.0.0.1 is in use\n");
  close(holder);

  // A second server on the port of a running one fails the same way.
  Child first = Child::Start({GAUGEBENCH, "serve", SAMPLE_PANEL, "--gauges", GAUGE_DIR, "--port", "0"});
  const int taken = PortOf(Child::Line(first.out, 20s));
  ASSERT_GT(taken, 0);
  Child second = Child::Start({GAUGEBENCH, "serve", SAMPLE_PANEL, "--gauges", GAUGE_DIR, "--port", std::to_string(taken)});
  EXPECT_EQ(second.Wait(20s), 1);
  EXPECT_NE(Child::Line(second.err, 1s).find("is in use"), std::string::npos);
  kill(first.pid, SIGTERM);
  EXPECT_EQ(first.Wait(10s), 0);

  Child bad = Child::Start({GAUGEBENCH, "serve", SAMPLE_PANEL, "--gauges", GAUGE_DIR, "--port", "70000"});
  EXPECT_EQ(bad.Wait(10s), 2);
}

}  // namespace
