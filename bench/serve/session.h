// A live panel for the web page: one thread owns the Panel (every emulated machine in it) from
// loading to destruction; every other thread reaches it only by handing that thread a task.
//
// The panel thread updates and draws the visible windows about `ticksPerSecond` times a second
// while a client has asked for anything in the last few seconds, and at once after every task
// that may change what the gauges show (a pointer gesture, a variable set). A window whose
// pixels changed gets a new frame number and a fresh PNG. KeyEvents and sounds the gauges produce
// are moved from the simulator's log into the session's numbered log. Readers wait for any of
// this with poll(), which returns as soon as the state is newer than what they have seen.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <type_traits>
#include <vector>

#include "frame_png.h"
#include "render/image.h"
#include "simulator.h"

namespace panel {
class Panel;
}

namespace serve {

struct SessionSettings {
  int ticksPerSecond = 30;
  std::chrono::milliseconds activeFor{3000};  // keep ticking this long after a client's last call
  size_t logLimit = 2000;                     // oldest log entries are dropped beyond this
};

// One entry of the session's log: the simulator's event and its number (from 0, never reused).
struct LoggedEvent {
  uint64_t number = 0;
  host::Event event;
};

// What a reader gets from frame(): the window's newest picture, or only the part of it that
// changed since a frame the reader has.
struct FramePart {
  uint64_t number = 0;   // the frame the reader has after drawing `png` at (part.x, part.y)
  bool whole = true;     // `png` is the whole picture (else the changed part)
  Rect part;             // where `png` goes on the picture
  int width = 0, height = 0;  // the whole picture's size
  std::shared_ptr<const std::vector<uint8_t>> png;  // null when the reader is up to date
};

// Costs of the panel thread's work, in milliseconds, averaged over recent ticks.
struct Stats {
  uint64_t ticks = 0, frames = 0, pngs = 0;
  double updateMs = 0, drawMs = 0;  // per tick (drawing includes finding what changed)
  double encodeMs = 0, pngBytes = 0;  // per PNG sent
  double ticksPerSecond = 0, framesPerSecond = 0;  // over the last second: ticks, new frames
};

// What a reader gets from poll(): everything newer than what it said it had.
struct Snapshot {
  uint64_t version = 0;
  std::vector<uint64_t> frames;  // frame number of every window (0 for windows not shown)
  std::vector<LoggedEvent> events;  // numbers >= the reader's `eventsFrom`, oldest first
  uint64_t nextEvent = 0;           // the number the next event will get
  uint64_t firstEvent = 0;          // the oldest number still in the log (= nextEvent if empty)
  std::map<uint32_t, double> variables;
  size_t warnings = 0;
  std::string error;  // the last failure of the panel thread's own work, if any
  Stats stats;
};

class Session {
 public:
  // Loads the panel on the session's thread; throws what Panel::Load throws.
  Session(const std::string& cfgPath, const std::string& gaugesDir, SessionSettings settings = {});
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  // Ends the panel thread's ticking and wakes every waiting poll; later calls fail fast.
  void stop();
  bool stopped() const;

  // Runs `task` on the panel thread and returns its result (or rethrows what it threw). With
  // `redraw`, the panel is updated and drawn right after it, and the call returns once that state
  // is published. Throws std::runtime_error once the session has stopped.
  template <class F>
  auto withPanel(F task, bool redraw = false) -> decltype(task(std::declval<panel::Panel&>()));

  // Waits up to `wait` for the state to be newer than `version`, then returns it.
  Snapshot poll(uint64_t version, uint64_t eventsFrom, std::chrono::milliseconds wait);
  // The picture of a window for a reader that has frame `since` of it (0: none); throws
  // std::out_of_range for a window never drawn.
  FramePart frame(int windowIndex, uint64_t since);
  std::optional<host::Event> event(uint64_t number);  // std::nullopt once dropped or unknown
  void clearLog();

  // The windows, their gauge boxes and mouse areas, and the load warnings, as JSON.
  std::string describe();

  // Pointer gestures in window-background pixels; press says whether a gauge took it.
  enum class Gesture { Press, Move, Release };
  bool pointer(int windowIndex, Gesture gesture, int x, int y);
  void setVariable(uint32_t id, double value);

  // Marks a client as present: the panel keeps ticking for a while.
  void touch();

 private:
  void run(panel::Panel& panel);
  void post(std::function<void(panel::Panel&)> task, std::function<void()> done, bool redraw);
  void tick(panel::Panel& panel);
  void drainEvents(panel::Panel& panel);  // simulator log -> session log; under no lock
  void publish();                         // bumps the version, wakes the readers

  SessionSettings settings_;
  std::thread thread_;

  // Tasks for the panel thread.
  std::mutex tasksMutex_;
  std::condition_variable tasksChanged_;
  struct Task {
    std::function<void(panel::Panel&)> run;
    std::function<void()> done;  // after the redraw, if any
    bool redraw;
  };
  std::deque<Task> tasks_;
  bool stopping_ = false;
  std::chrono::steady_clock::time_point lastClient_;

  // What readers see.
  mutable std::mutex stateMutex_;
  std::condition_variable stateChanged_;
  uint64_t version_ = 1;
  struct WindowFrames {
    uint64_t number = 0;  // 0 until first drawn; grows whenever the pixels change
    std::shared_ptr<const render::Image> picture;
    std::deque<std::pair<uint64_t, Rect>> changes;  // frame number, what changed from the one before
    std::shared_ptr<const std::vector<uint8_t>> wholePng;  // of frame `wholePngNumber`
    uint64_t wholePngNumber = 0;
  };
  std::vector<WindowFrames> frames_;
  std::deque<LoggedEvent> log_;
  uint64_t nextEvent_ = 0;
  std::map<uint32_t, double> variables_;
  size_t warnings_ = 0;
  std::string error_;
  Stats stats_;
  bool stateStopped_ = false;

  // The panel thread's own: the last picture of every window, and the clocks of the averages.
  std::vector<std::shared_ptr<const render::Image>> pictures_;
  std::deque<std::chrono::steady_clock::time_point> recentTicks_, recentFrames_;  // under stateMutex_
};

template <class F>
auto Session::withPanel(F task, bool redraw) -> decltype(task(std::declval<panel::Panel&>())) {
  using Result = decltype(task(std::declval<panel::Panel&>()));
  struct Outcome {
    std::promise<Result> promise;
    std::optional<std::conditional_t<std::is_void_v<Result>, bool, Result>> value;
    std::exception_ptr failure;
  };
  auto outcome = std::make_shared<Outcome>();
  std::future<Result> result = outcome->promise.get_future();
  post(
      [outcome, task = std::move(task)](panel::Panel& p) mutable {
        try {
          if constexpr (std::is_void_v<Result>) {
            task(p);
            outcome->value = true;
          } else {
            outcome->value.emplace(task(p));
          }
        } catch (...) {
          outcome->failure = std::current_exception();
        }
      },
      [outcome] {
        if (outcome->failure) {
          outcome->promise.set_exception(outcome->failure);
        } else if constexpr (std::is_void_v<Result>) {
          outcome->promise.set_value();
        } else {
          outcome->promise.set_value(std::move(*outcome->value));
        }
      },
      redraw);
  return result.get();
}

}  // namespace serve
