// The application's delegate: told when launching has finished and when the
// application is about to quit. It adds no behaviour of its own beyond opening
// a file named on the command line and making sure that no unfinished copy
// outlives the process.
#pragma once

#include <QObject>
#include <QString>

namespace keeptime {

class TrimWindow;

class AppDelegate : public QObject {
    Q_OBJECT

public:
    // file: the path given on the command line, or empty.
    AppDelegate(TrimWindow& window, QString file, QObject* parent = nullptr);

public slots:
    // Opens the file given on the command line, as if chosen in the open dialog.
    void applicationDidFinishLaunching();
    // Stops a copy still running (the window has asked the user already) and
    // waits until its unfinished file is removed.
    void applicationWillTerminate();

private:
    TrimWindow& window_;
    QString file_;
};

}  // namespace keeptime
