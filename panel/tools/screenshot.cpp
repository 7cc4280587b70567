// Renders the main window with two virtual hubs listed into a PNG file, the
// way a user sees it after a search: hubpanel_shot OUTPUT.png
#include <QApplication>
#include <QPushButton>
#include <QTableView>
#include <cstdio>
#include <sim/virtual_hub.h>

#include "panel/view_controller.h"

namespace {

// The registry lists USB adapters only; here the two pseudo-terminals stand
// in for them.
class VirtualPorts : public panel::PanelHubSource {
public:
    explicit VirtualPorts(std::vector<std::string> paths) : paths_(std::move(paths)) {}
    std::vector<std::string> allPorts() override { return paths_; }

private:
    std::vector<std::string> paths_;
};

sim::HubConfig hub(int ports, std::uint32_t states, const char* uid, const char* description) {
    sim::HubConfig config;
    config.ports = ports;
    config.states = states;
    config.uid = uid;
    config.description = description;
    return config;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: hubpanel_shot OUTPUT.png\n");
        return 2;
    }
    QApplication app(argc, argv);
    sim::VirtualHub bench(hub(4, 0b0101, "0123456789AB", "Bench rack"));
    sim::VirtualHub lab(hub(7, 0b1100011, "A1B2C3D4E5F6", "Lab cameras"));
    VirtualPorts ports({bench.path(), lab.path()});
    panel::ViewController window(panel::WindowServices{&ports, nullptr, nullptr});
    window.show();
    window.AutoSearch();
    QApplication::processEvents();
    const bool saved = window.grab().save(QString::fromLocal8Bit(argv[1]));
    if (!saved) std::fprintf(stderr, "cannot write %s\n", argv[1]);
    return saved ? 0 : 1;
}
