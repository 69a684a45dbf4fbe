#pragma once

#include <QObject>

// Tells the screens that wait for a card that the cards on the reader may
// have changed, so that they look at once instead of at their next tick. The
// application announces it when the reader library says so; a library that
// cannot tell leaves the screens to their timers.
class CCardWatch : public QObject {
    Q_OBJECT
public:
    static CCardWatch& instance();
    static void announce() { emit instance().cardsChanged(); }

signals:
    void cardsChanged();
};
