#include "panel/app_shell.h"

#include <QApplication>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <optional>
#include <string>

#include "hublink/std_streams.h"
#include "panel/hub_window.h"

namespace panel {

std::optional<std::chrono::milliseconds> refreshOption(const QStringList& args) {
    for (int i = 1; i < args.size(); ++i) {
        QString value;
        if (args[i] == QStringLiteral("--refresh") && i + 1 < args.size()) value = args[i + 1];
        else if (args[i].startsWith(QStringLiteral("--refresh="))) value = args[i].mid(10);
        else if (args[i] == QStringLiteral("--refresh")) return std::nullopt;
        else continue;
        bool ok = false;
        const double seconds = value.toDouble(&ok);
        if (!ok || !std::isfinite(seconds) || seconds < 0 || seconds > 86400) return std::nullopt;
        return std::chrono::milliseconds(std::llround(seconds * 1000));
    }
    return kRefreshPeriod;
}

namespace {

int run(int argc, char** argv, const char* name,
        const std::function<std::unique_ptr<QWidget>()>& makeWindow) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QString::fromLatin1(name));
    const auto refresh = refreshOption(QApplication::arguments());
    if (!refresh) {
        std::fprintf(stderr, "%s: --refresh wants a number of seconds (0 turns reading off)\n", name);
        return 2;
    }
    // Linux desktops offer no dock icon to bring a hidden window back, so
    // closing the last window ends the program.
    QApplication::setQuitOnLastWindowClosed(true);
    std::unique_ptr<QWidget> window = makeWindow();
    if (auto* hubs = dynamic_cast<HubWindow*>(window.get())) hubs->setRefreshPeriod(*refresh);
    AppDelegate delegate(std::move(window));
    delegate.applicationDidFinishLaunching();
    const int status = QApplication::exec();
    delegate.applicationWillTerminate();
    return status;
}

}  // namespace

int runApplication(int argc, char** argv, const char* name,
                   const std::function<std::unique_ptr<QWidget>()>& makeWindow) {
    if (!hublink::ensureStdStreams()) return 1;
    try {
        return run(argc, argv, name, makeWindow);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s: %s\n", name, e.what());
    } catch (...) {
        std::fprintf(stderr, "%s: unexpected failure\n", name);
    }
    return 1;
}

}  // namespace panel
