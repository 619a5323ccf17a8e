#include "app/AppDelegate.hpp"

#include "gui/TrimWindow.hpp"

namespace keeptime {

AppDelegate::AppDelegate(TrimWindow& window, QString file, QObject* parent)
    : QObject(parent), window_(window), file_(std::move(file)) {}

void AppDelegate::applicationDidFinishLaunching() {
    if (!file_.isEmpty()) window_.openFile(file_);
}

void AppDelegate::applicationWillTerminate() { window_.stopAllCopies(); }

}  // namespace keeptime
