// The 18 switch buttons of the main window and how they show a hub's ports.
#pragma once

#include <QColor>
#include <QString>
#include <optional>
#include <string>
#include <vector>

class QPushButton;
class QWidget;

namespace panel {

// Title colour of a port that is on; a port that is off is drawn black.
inline const QColor kOnColour(60, 179, 113);

class SwitchBoard {
public:
    // `switchButtons`: switch1..switch16, switchOn, switchOff in that order.
    // `actionButtons`: what a hub with ports makes available.
    SwitchBoard(std::vector<QPushButton*> switchButtons, std::vector<QWidget*> actionButtons);

    void disableAll();

    // Enables the switches of ports 1..n and, for a hub with ports, all-on,
    // all-off and the action buttons; colours the titles of the listed
    // ports and checks the switches of those on (the state an assistive
    // technology reads). Returns n (0 for a count that is not a decimal
    // number).
    int setButtonlist(const std::string& portsperhub, const std::string& portsOn,
                      const std::string& portsOff);

    const std::vector<QPushButton*>& buttons() const { return switchButtons_; }

    // A click has just flipped a port switch's checked state: the hub, not
    // the click, decides it, so it goes back until the hub is read again.
    static void undoClickCheck(QPushButton* button);

    // "switch3" -> 3, "switchOn" -> -1, "switchOff" -> 0; none for other names.
    static std::optional<int> switchNumber(const QString& objectName);

private:
    void colour(const std::string& ports, const QColor& colour);

    std::vector<QPushButton*> switchButtons_;
    std::vector<QWidget*> actionButtons_;
};

}  // namespace panel
