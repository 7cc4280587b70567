#include <QApplication>

#include "app_delegate.h"

int main(int argc, char** argv) {
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
