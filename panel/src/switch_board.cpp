#include "panel/switch_board.h"

#include <QApplication>
#include <QPointer>
#include <QProxyStyle>
#include <QPushButton>
#include <QStyleOptionButton>
#include <algorithm>
#include <charconv>
#include <sstream>

namespace panel {

namespace {

// A non-negative decimal number, or none.
std::optional<int> decimal(const std::string& text) {
    int value = 0;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (text.empty() || ec != std::errc() || ptr != end || value < 0) return std::nullopt;
    return value;
}

constexpr int kPortSwitches = 16;

// A switch's title colour comes from a palette of its own, and every palette
// set is a new one to the style's cache of drawn bevels: drawn with those,
// each click added cache entries until the cache was full. The bevel does
// not show the title colour, so it is drawn from the application's palette,
// whose identity does not change.
class SwitchStyle : public QProxyStyle {
public:
    void drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                     const QWidget* widget) const override {
        const auto* button = qstyleoption_cast<const QStyleOptionButton*>(option);
        if (element != CE_PushButtonBevel || button == nullptr || widget == nullptr) {
            QProxyStyle::drawControl(element, option, painter, widget);
            return;
        }
        QStyleOptionButton bevel(*button);
        bevel.palette = QApplication::palette(widget);
        QProxyStyle::drawControl(element, &bevel, painter, widget);
    }
};

QStyle* switchStyle() {
    static QPointer<QStyle> style;
    if (style.isNull()) {
        style = new SwitchStyle;
        style->setParent(qApp);  // goes with the application
    }
    return style;
}

}  // namespace

SwitchBoard::SwitchBoard(std::vector<QPushButton*> switchButtons, std::vector<QWidget*> actionButtons)
    : switchButtons_(std::move(switchButtons)), actionButtons_(std::move(actionButtons)) {
    for (QPushButton* button : switchButtons_) {
        if (button->style() != switchStyle()) button->setStyle(switchStyle());
    }
    for (int i = 0; i < kPortSwitches && i < static_cast<int>(switchButtons_.size()); ++i)
        switchButtons_[static_cast<std::size_t>(i)]->setCheckable(true);
}

void SwitchBoard::undoClickCheck(QPushButton* button) {
    if (button->isCheckable()) button->setChecked(!button->isChecked());
}

void SwitchBoard::disableAll() {
    for (QPushButton* button : switchButtons_) button->setEnabled(false);
}

int SwitchBoard::setButtonlist(const std::string& portsperhub, const std::string& portsOn,
                               const std::string& portsOff) {
    disableAll();
    const int n = decimal(portsperhub).value_or(0);
    const int shown = std::min<int>(n, static_cast<int>(switchButtons_.size()));
    for (int i = 0; i < shown; ++i) switchButtons_[static_cast<std::size_t>(i)]->setEnabled(true);
    if (n != 0) {
        switchButtons_.at(kPortSwitches)->setEnabled(true);
        switchButtons_.at(kPortSwitches + 1)->setEnabled(true);
        for (QWidget* action : actionButtons_) action->setEnabled(true);
    }
    colour(portsOn, kOnColour);
    colour(portsOff, Qt::black);
    for (int i = std::max(shown, 0); i < kPortSwitches; ++i)
        switchButtons_.at(static_cast<std::size_t>(i))->setChecked(false);  // no such port
    return n;
}

void SwitchBoard::colour(const std::string& ports, const QColor& colour) {
    std::istringstream items(ports);
    std::string item;
    while (std::getline(items, item, ',')) {
        // Only port switches take a colour: an odd number must not paint
        // the all-on or all-off button.
        const std::optional<int> port = decimal(item);
        if (!port || *port < 1 || *port > kPortSwitches) continue;
        QPushButton* button = switchButtons_.at(static_cast<std::size_t>(*port - 1));
        const bool on = colour == kOnColour;
        if (button->isChecked() != on) button->setChecked(on);
        // Every palette set is a new one to the style's cache of drawn
        // buttons: set it only when the title changes colour.
        if (button->palette().color(QPalette::Active, QPalette::ButtonText) == colour) continue;
        // Only the enabled look: a disabled switch must still look disabled.
        QPalette palette = button->palette();
        palette.setColor(QPalette::Active, QPalette::ButtonText, colour);
        palette.setColor(QPalette::Inactive, QPalette::ButtonText, colour);
        button->setPalette(palette);
    }
}

std::optional<int> SwitchBoard::switchNumber(const QString& objectName) {
    if (!objectName.startsWith(QStringLiteral("switch"))) return std::nullopt;
    const QString rest = objectName.mid(6);
    if (rest == QStringLiteral("On")) return -1;
    if (rest == QStringLiteral("Off")) return 0;
    const std::optional<int> n = decimal(rest.toStdString());
    if (!n || *n < 1 || *n > kPortSwitches) return std::nullopt;
    return n;
}

}  // namespace panel
