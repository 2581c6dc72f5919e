#include "session.h"

#include <algorithm>
#include <sstream>
#include <stdexcept>

#include "json.h"
#include "panel/panel.h"

namespace serve {
namespace {

using Clock = std::chrono::steady_clock;

double Milliseconds(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

// Keeps the times of the last second, and says how many there are.
size_t CountRecent(std::deque<Clock::time_point>& times, Clock::time_point now) {
  while (!times.empty() && now - times.front() > std::chrono::seconds(1)) times.pop_front();
  return times.size();
}

void Average(double& average, double sample, bool first) { average = first ? sample : average * 0.9 + sample * 0.1; }

}  // namespace

Session::Session(const std::string& cfgPath, const std::string& gaugesDir, SessionSettings settings)
    : settings_(settings), lastClient_(Clock::now()) {
  if (settings_.ticksPerSecond < 1) settings_.ticksPerSecond = 1;
  auto loaded = std::make_shared<std::promise<void>>();
  std::future<void> ready = loaded->get_future();
  thread_ = std::thread([this, cfgPath, gaugesDir, loaded] {
    std::unique_ptr<panel::Panel> panel;
    try {
      panel = panel::Panel::Load(cfgPath, gaugesDir);
      {
        std::lock_guard lock(stateMutex_);
        frames_.resize(panel->windows().size());
      }
      tick(*panel);
    } catch (...) {
      loaded->set_exception(std::current_exception());
      return;
    }
    loaded->set_value();
    run(*panel);
    std::lock_guard lock(tasksMutex_);
    tasks_.clear();  // whoever waits on these learns of it through a broken promise
  });
  try {
    ready.get();
  } catch (...) {
    thread_.join();
    throw;
  }
}

Session::~Session() {
  stop();
  if (thread_.joinable()) thread_.join();
}

void Session::stop() {
  {
    std::lock_guard lock(tasksMutex_);
    stopping_ = true;
  }
  tasksChanged_.notify_all();
  {
    std::lock_guard lock(stateMutex_);
    stateStopped_ = true;
  }
  stateChanged_.notify_all();
}

bool Session::stopped() const {
  std::lock_guard lock(stateMutex_);
  return stateStopped_;
}

void Session::touch() {
  std::lock_guard lock(tasksMutex_);
  lastClient_ = Clock::now();
}

void Session::post(std::function<void(panel::Panel&)> task, std::function<void()> done, bool redraw) {
  {
    std::lock_guard lock(tasksMutex_);
    if (stopping_) throw std::runtime_error("the panel has stopped");
    tasks_.push_back({std::move(task), std::move(done), redraw});
    lastClient_ = Clock::now();
  }
  tasksChanged_.notify_one();
}

void Session::run(panel::Panel& panel) {
  const auto period = std::chrono::duration_cast<Clock::duration>(std::chrono::seconds(1)) / settings_.ticksPerSecond;
  auto next = Clock::now() + period;
  for (;;) {
    std::deque<Task> batch;
    bool active;
    {
      std::unique_lock lock(tasksMutex_);
      tasksChanged_.wait_until(lock, next, [&] { return stopping_ || !tasks_.empty(); });
      if (stopping_) return;
      batch.swap(tasks_);
      active = Clock::now() - lastClient_ < settings_.activeFor;
    }
    bool redraw = false;
    for (Task& task : batch) {
      task.run(panel);  // reports its own failure to whoever posted it
      redraw = redraw || task.redraw;
    }
    if (!batch.empty()) drainEvents(panel);
    const auto now = Clock::now();
    const bool due = now >= next;
    if (due) next = std::max(next + period, now);
    if (redraw || (due && active)) tick(panel);
    for (Task& task : batch) task.done();
  }
}

void Session::tick(panel::Panel& panel) {
  const auto start = Clock::now();
  std::string error;
  try {
    panel.update();
  } catch (const std::exception& e) {
    error = std::string("update: ") + e.what();
  }
  const auto updated = Clock::now();

  auto& windows = panel.windows();
  if (pictures_.size() != windows.size()) pictures_.resize(windows.size());
  std::vector<std::pair<size_t, Rect>> changed;
  for (size_t i = 0; i < windows.size(); ++i) {
    if (!windows[i].visible) continue;
    try {
      auto picture = std::make_shared<const render::Image>(panel.draw(static_cast<int>(i)));
      const Rect rect = pictures_[i] ? ChangedRect(*pictures_[i], *picture) : Rect{0, 0, picture->width, picture->height};
      if (!rect.empty()) {
        pictures_[i] = std::move(picture);
        changed.emplace_back(i, rect);
      }
    } catch (const std::exception& e) {
      error = "draw window " + std::to_string(i) + ": " + e.what();
    }
  }
  const auto drawn = Clock::now();
  drainEvents(panel);

  std::map<uint32_t, double> variables = panel.simulator().variables();
  const size_t warnings = panel.warnings().size();
  {
    std::lock_guard lock(stateMutex_);
    bool news = error != error_ || warnings != warnings_ || variables != variables_ || !changed.empty();
    if (frames_.size() != windows.size()) frames_.resize(windows.size());
    for (const auto& [i, rect] : changed) {
      WindowFrames& f = frames_[i];
      ++f.number;
      f.picture = pictures_[i];
      f.changes.emplace_back(f.number, rect);
      while (f.changes.size() > 64) f.changes.pop_front();
      recentFrames_.push_back(drawn);
    }
    variables_ = std::move(variables);
    warnings_ = warnings;
    error_ = error;

    const bool first = stats_.ticks == 0;
    ++stats_.ticks;
    stats_.frames += changed.size();
    Average(stats_.updateMs, Milliseconds(updated - start), first);
    Average(stats_.drawMs, Milliseconds(drawn - updated), first);
    recentTicks_.push_back(drawn);
    stats_.ticksPerSecond = static_cast<double>(CountRecent(recentTicks_, drawn));
    stats_.framesPerSecond = static_cast<double>(CountRecent(recentFrames_, drawn));
    if (news) ++version_;
  }
  stateChanged_.notify_all();
}

void Session::drainEvents(panel::Panel& panel) {
  host::Simulator& simulator = panel.simulator();
  if (simulator.events().empty()) return;
  std::vector<host::Event> taken = simulator.events();
  simulator.clearEvents();
  {
    std::lock_guard lock(stateMutex_);
    for (host::Event& e : taken) log_.push_back({nextEvent_++, std::move(e)});
    while (log_.size() > settings_.logLimit) log_.pop_front();
    ++version_;
  }
  stateChanged_.notify_all();
}

Snapshot Session::poll(uint64_t version, uint64_t eventsFrom, std::chrono::milliseconds wait) {
  touch();
  std::unique_lock lock(stateMutex_);
  stateChanged_.wait_for(lock, wait, [&] { return version_ != version || stateStopped_; });
  Snapshot s;
  s.version = version_;
  for (const WindowFrames& f : frames_) s.frames.push_back(f.number);
  for (const LoggedEvent& e : log_)
    if (e.number >= eventsFrom) s.events.push_back(e);
  s.nextEvent = nextEvent_;
  s.firstEvent = log_.empty() ? nextEvent_ : log_.front().number;
  s.variables = variables_;
  s.warnings = warnings_;
  s.error = error_;
  s.stats = stats_;
  return s;
}

FramePart Session::frame(int windowIndex, uint64_t since) {
  touch();
  FramePart out;
  std::shared_ptr<const render::Image> picture;
  {
    std::lock_guard lock(stateMutex_);
    if (windowIndex < 0 || static_cast<size_t>(windowIndex) >= frames_.size() || !frames_[windowIndex].picture)
      throw std::out_of_range("no picture of window " + std::to_string(windowIndex));
    const WindowFrames& f = frames_[windowIndex];
    picture = f.picture;
    out.number = f.number;
    out.width = picture->width;
    out.height = picture->height;
    if (since == f.number) return out;  // up to date: no picture
    // The part that changed since `since`, if every change after it is still known.
    if (since != 0 && since < f.number && !f.changes.empty() && f.changes.front().first <= since + 1) {
      Rect part;
      for (const auto& [number, rect] : f.changes)
        if (number > since) part = Union(part, rect);
      if (part.width < picture->width || part.height < picture->height) {
        out.whole = false;
        out.part = part;
      }
    }
    if (out.whole) {
      out.part = {0, 0, picture->width, picture->height};
      if (f.wholePng && f.wholePngNumber == f.number) {
        out.png = f.wholePng;
        return out;
      }
    }
  }
  // Encoding works on the immutable picture, outside every lock.
  const auto start = Clock::now();
  out.png = std::make_shared<const std::vector<uint8_t>>(EncodeFramePng(*picture, out.part));
  const double ms = Milliseconds(Clock::now() - start);
  std::lock_guard lock(stateMutex_);
  Average(stats_.encodeMs, ms, stats_.pngs == 0);
  Average(stats_.pngBytes, static_cast<double>(out.png->size()), stats_.pngs == 0);
  ++stats_.pngs;
  WindowFrames& f = frames_[windowIndex];
  if (out.whole && f.number == out.number) {
    f.wholePng = out.png;
    f.wholePngNumber = out.number;
  }
  return out;
}

std::optional<host::Event> Session::event(uint64_t number) {
  std::lock_guard lock(stateMutex_);
  if (log_.empty() || number < log_.front().number || number >= nextEvent_) return std::nullopt;
  return log_[number - log_.front().number].event;
}

void Session::clearLog() {
  {
    std::lock_guard lock(stateMutex_);
    log_.clear();
    ++version_;
  }
  stateChanged_.notify_all();
}

bool Session::pointer(int windowIndex, Gesture gesture, int x, int y) {
  return withPanel(
      [&](panel::Panel& p) {
        if (windowIndex < 0 || static_cast<size_t>(windowIndex) >= p.windows().size())
          throw std::out_of_range("no window " + std::to_string(windowIndex));
        switch (gesture) {
          case Gesture::Press:
            return p.press(windowIndex, x, y);
          case Gesture::Move:
            p.move(windowIndex, x, y);
            break;
          case Gesture::Release:
            p.release(windowIndex, x, y);
            break;
        }
        return false;
      },
      true);
}

void Session::setVariable(uint32_t id, double value) {
  withPanel([&](panel::Panel& p) { p.simulator().setVariable(id, value); }, true);
}

std::string Session::describe() {
  return withPanel([](panel::Panel& p) {
    std::ostringstream j;
    j << "{\"windows\":[";
    for (size_t i = 0; i < p.windows().size(); ++i) {
      const panel::Window& w = p.windows()[i];
      j << (i ? "," : "") << "{\"index\":" << i << ",\"number\":" << w.number << ",\"title\":" << JsonString(w.title)
        << ",\"ident\":" << JsonString(w.ident) << ",\"file\":" << JsonString(w.file)
        << ",\"width\":" << w.background.width << ",\"height\":" << w.background.height
        << ",\"visible\":" << (w.visible ? "true" : "false") << ",\"gauges\":[";
      for (size_t g = 0; g < w.gauges.size(); ++g) {
        const panel::Placement& pl = w.gauges[g];
        j << (g ? "," : "") << "{\"index\":" << g << ",\"name\":" << JsonString(pl.name) << ",\"line\":" << pl.line
          << ",\"x\":" << pl.x << ",\"y\":" << pl.y << ",\"w\":" << pl.w << ",\"h\":" << pl.h
          << ",\"error\":" << JsonString(pl.error);
        if (pl.module) {
          const host::Module& m = *pl.module;
          j << ",\"module\":" << JsonString(m.deliverable()) << ",\"gaugeName\":" << JsonString(m.gaugeName())
            << ",\"nativeWidth\":" << m.frame().width << ",\"nativeHeight\":" << m.frame().height << ",\"areas\":[";
          if (m.mouseAreasRegistered()) {
            bool firstArea = true;
            for (const host::MouseAreaView& a : m.mouseAreas()) {
              if (a.width <= 0 || a.height <= 0) continue;
              j << (firstArea ? "" : ",") << "{\"x\":" << a.x << ",\"y\":" << a.y << ",\"w\":" << a.width
                << ",\"h\":" << a.height << "}";
              firstArea = false;
            }
          }
          j << "]";
        } else {
          j << ",\"module\":null,\"areas\":[]";
        }
        j << "}";
      }
      j << "]}";
    }
    j << "],\"warnings\":[";
    for (size_t i = 0; i < p.warnings().size(); ++i) j << (i ? "," : "") << JsonString(p.warnings()[i].text());
    j << "]}";
    return j.str();
  });
}

}  // namespace serve
