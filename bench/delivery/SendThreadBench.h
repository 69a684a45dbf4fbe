#pragma once

#include <string>

// The send thread end to end: a data file with count due visits (one address
// each), a window that runs the thread's data commands on it the way the
// screens do, and the configured SMTP server at 127.0.0.1:port.
struct SendThreadResult {
    double seconds = 0;      // from the first due-visit query to the last state change
    double stateSeconds = 0; // of which writing the visits' states to the data file
    int sent = 0;            // visits turned to '2'
    std::string error;       // why the run could not be made
};

SendThreadResult runSendThread(int count, int port);
