// portdesk's main window: the shared hub window without search by typed
// port, description editing or firmware update.
#pragma once

#include <QPushButton>
#include <memory>
#include <panel/hub_window.h>
#include <string>
#include <vector>

namespace Ui {
class DeskViewController;
}

namespace desk {

class ViewController : public panel::HubWindow {
    Q_OBJECT
public:
    explicit ViewController(panel::WindowServices services = {}, QWidget* parent = nullptr);
    ~ViewController() override;

    // switch1..switch16, switchOn, switchOff.
    const std::vector<QPushButton*>& switchButtons() const { return switchButtons_; }

    // Draws a hub's ports on `buttonList` (the 18 switch buttons) and enables
    // the four actions for a hub with ports.
    void setButtonlist(const std::string& portsperhub, const std::string& portsOn,
                       const std::string& portsOff, const std::vector<QPushButton*>& buttonList);

private:
    void drawSelection() override;

    std::unique_ptr<Ui::DeskViewController> ui_;
    std::vector<QPushButton*> switchButtons_;
};

}  // namespace desk
