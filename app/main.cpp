// Keeptime: the trim window for Broadcast-WAV recordings.
#include <QApplication>
#include <QCommandLineParser>
#include <QIcon>
#include <QTimer>
#include <iostream>

#include "app/AppDelegate.hpp"
#include "gui/TrimWindow.hpp"

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    // The names under which QSettings keeps the weird-TC mode and the window's size.
    QApplication::setOrganizationName(QStringLiteral("Keeptime"));
    QApplication::setApplicationName(QStringLiteral("Keeptime"));
    QApplication::setApplicationVersion(QStringLiteral(KEEPTIME_VERSION));
    QApplication::setDesktopFileName(QStringLiteral("keeptime"));
    QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("keeptime")));

    QCommandLineParser arguments;
    arguments.setApplicationDescription(
        QApplication::translate("main", "Makes a trimmed copy of a Broadcast-WAV recording, keeping its time stamp."));
    arguments.addHelpOption();
    arguments.addVersionOption();
    arguments.addPositionalArgument(QStringLiteral("FILE"),
                                    QApplication::translate("main", "The recording to open (optional)."),
                                    QStringLiteral("[FILE]"));
    arguments.process(application);
    const QStringList files = arguments.positionalArguments();

    keeptime::TrimWindow window(&std::cout);
    keeptime::AppDelegate delegate(window, files.isEmpty() ? QString() : files.constFirst());
    QObject::connect(&application, &QCoreApplication::aboutToQuit, &delegate,
                     &keeptime::AppDelegate::applicationWillTerminate);
    window.show();
    // Once the event loop runs, so that a refused file's message has a window to sit on.
    QTimer::singleShot(0, &delegate, &keeptime::AppDelegate::applicationDidFinishLaunching);
    return QApplication::exec();
}
