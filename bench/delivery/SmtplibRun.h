#pragma once

#include <string>

// Python's smtplib sending the messages of messagesFile (separated by a zero
// byte), one session each, to 127.0.0.1:port: the seconds it took, or a
// negative value when the run failed.
double smtplibSeconds(int port, const std::string& messagesFile, const std::string& sender,
                      const std::string& recipient, const std::string& heloName);
