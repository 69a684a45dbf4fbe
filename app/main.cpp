// The reception terminal. poston --kiosk: every screen full-screen, for a
// terminal that visitors face alone.
#include "app/CKioskMode.h"
#include "app/CPostonApp.h"

#include <QApplication>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    // As given: QApplication takes its own options out of argv.
    const std::vector<std::string> arguments(argv, argv + argc);
    QApplication qt(argc, argv);
    QApplication::setApplicationName(QStringLiteral("poston"));
    // The program leaves when its closing screen has gone, not when the last
    // window closes between two screens.
    QApplication::setQuitOnLastWindowClosed(false);
    std::unique_ptr<CKioskMode> kiosk;
    if (CKioskMode::requested(QApplication::arguments())) {
        CKioskMode::restartScaled(arguments);
        kiosk = std::make_unique<CKioskMode>();
        qt.installEventFilter(kiosk.get());
    }
    // POSTON_INSTANCE_NAME lets tests run terminals side by side; a normal
    // start leaves it unset and shares the one name of the machine.
    CPostonApp::Options options;
    if (const char* name = std::getenv("POSTON_INSTANCE_NAME"))
        options.instanceName = name;
    CPostonApp app(options);
    return app.run();
}
