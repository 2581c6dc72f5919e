#include "command.h"

#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "panel.h"

namespace panel {

std::string WindowOutputPath(const std::string& output, int n) {
  if (n <= 1) return output;
  const std::filesystem::path p(output);
  std::filesystem::path named = p;
  named.replace_filename(p.stem().string() + "-" + std::to_string(n) + p.extension().string());
  return named.string();
}

int RunCommand(const CommandOptions& o, std::ostream& out) {
  auto panel = Panel::Load(o.cfg, o.gauges);
  if (!o.rules.empty()) {
    std::ifstream in(o.rules);
    if (!in) throw std::runtime_error("cannot open rules file " + o.rules);
    panel->simulator().loadRules(in, o.rules);
  }
  for (const auto& [id, value] : o.sets) panel->simulator().setVariable(id, value);
  panel->update();
  size_t printed = 0;
  const auto printWarnings = [&] {
    for (; printed < panel->warnings().size(); ++printed) out << panel->warnings()[printed].text() << "\n";
  };
  printWarnings();
  int written = 0;
  for (size_t i = 0; i < panel->windows().size(); ++i) {
    const Window& w = panel->windows()[i];
    if (!w.visible) continue;
    const render::Image image = panel->draw(static_cast<int>(i));
    const std::string path = WindowOutputPath(o.output, ++written);
    render::writePng(image, path);
    int shown = 0;
    for (const Placement& p : w.gauges) shown += p.module ? 1 : 0;
    out << "wrote " << path << " (" << image.width << " x " << image.height << "): [Window" << (w.number < 10 ? "0" : "")
        << w.number << "] " << (w.title.empty() ? "(untitled)" : w.title) << ", " << shown << " of " << w.gauges.size()
        << " gauges\n";
  }
  printWarnings();  // a gauge that faulted while drawing
  if (written == 0) throw std::runtime_error(o.cfg + " has no visible window to render");
  return 0;
}

}  // namespace panel
