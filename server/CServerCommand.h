#pragma once

#include "data/CStoreConfig.h"

#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

// poston-server: which store this terminal uses.
//   poston-server                       the store, whether the server answers,
//                                       the visits waiting to go up
//   poston-server use URI [--name NAME] use a PostgreSQL server from the next start
//   poston-server local                 go back to the terminal's own file
// Every failure is one line a school office understands, on the error
// output, with a non-zero exit and nothing changed.
class CServerCommand {
public:
    // Asks for a password without showing it; empty when none can be asked.
    using AskPassword = std::function<std::string(const std::string& prompt)>;

    CServerCommand(std::string dataFolder, std::ostream& out, std::ostream& err,
                   AskPassword askPassword);

    int run(const std::vector<std::string>& arguments);

private:
    int status();
    int use(const std::string& uri, std::string name);
    int local();
    // The data file ready for use: migrated when a new master file waits,
    // made from the master file when there is none.
    bool prepareDataFile();
    int fail(const std::string& message);

    std::string m_folder;
    std::ostream& m_out;
    std::ostream& m_err;
    AskPassword m_askPassword;
};
