#include "panel/app_shell.h"

#include <QApplication>
#include <cstdio>
#include <exception>

#include "hublink/std_streams.h"

namespace panel {

namespace {

int run(int argc, char** argv, const char* name,
        const std::function<std::unique_ptr<QWidget>()>& makeWindow) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QString::fromLatin1(name));
    // Linux desktops offer no dock icon to bring a hidden window back, so
    // closing the last window ends the program.
    QApplication::setQuitOnLastWindowClosed(true);
    AppDelegate delegate(makeWindow());
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
