#pragma once

#include <QObject>

#include <functional>

class QSocketNotifier;

// Turns SIGTERM and SIGINT into a call on the user-interface thread, so that
// the program ends as the closing screen ends it (outcomes stored, the lock
// released) instead of being cut off. While an object lives, the signals no
// longer end the process by themselves; the previous handling comes back
// when it goes. One object at a time.
class CTerminationSignals : public QObject {
    Q_OBJECT
public:
    explicit CTerminationSignals(std::function<void()> onSignal);
    ~CTerminationSignals() override;
    CTerminationSignals(const CTerminationSignals&) = delete;
    CTerminationSignals& operator=(const CTerminationSignals&) = delete;

private:
    void readSignals();

    std::function<void()> m_onSignal;
    QSocketNotifier* m_notifier = nullptr;
};
