// The reception terminal.
#include "app/CPostonApp.h"

#include <QApplication>

int main(int argc, char** argv) {
    QApplication qt(argc, argv);
    QApplication::setApplicationName(QStringLiteral("poston"));
    // The program leaves when its closing screen has gone, not when the last
    // window closes between two screens.
    QApplication::setQuitOnLastWindowClosed(false);
    CPostonApp app;
    return app.run();
}
