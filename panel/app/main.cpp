#include <QApplication>

#include <cstdio>
#include <exception>

#include "app_delegate.h"

namespace {

int run(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("hubpanel"));
    // Linux desktops offer no dock icon to bring a hidden window back, so
    // closing the last window ends the program.
    QApplication::setQuitOnLastWindowClosed(true);
    AppDelegate delegate;
    delegate.applicationDidFinishLaunching();
    const int status = QApplication::exec();
    delegate.applicationWillTerminate();
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        return run(argc, argv);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "hubpanel: %s\n", e.what());
    } catch (...) {
        std::fprintf(stderr, "hubpanel: unexpected failure\n");
    }
    return 1;
}
