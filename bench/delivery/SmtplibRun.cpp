#include "SmtplibRun.h"

#include <cstdio>

#ifndef POSTON_BENCH_DIR
#error "POSTON_BENCH_DIR names the folder of smtplib_send.py"
#endif

double smtplibSeconds(int port, const std::string& messagesFile, const std::string& sender,
                      const std::string& recipient, const std::string& heloName) {
    const std::string command = std::string("/usr/bin/python3 '") + POSTON_BENCH_DIR +
                                "/smtplib_send.py' " + std::to_string(port) + " '" + messagesFile +
                                "' " + sender + " " + recipient + " " + heloName;
    double seconds = -1;
    FILE* output = ::popen(command.c_str(), "r");
    if (!output || std::fscanf(output, "%lf", &seconds) != 1)
        seconds = -1;
    if (output && ::pclose(output) != 0)
        seconds = -1;
    return seconds;
}
