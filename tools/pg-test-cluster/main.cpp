// The PostgreSQL cluster that the test processes of one build share, as a
// ctest fixture:
//   pg-test-cluster start FOLDER   initdb and start it there (kept running)
//   pg-test-cluster stop FOLDER    stop it and remove the folder
#include "tools/pg-test-cluster/CPgTestCluster.h"

#include <cstdio>
#include <string>

int main(int argc, char** argv) {
    const std::string command = argc == 3 ? argv[1] : "";
    if (command == "start") {
        const auto cluster = iotest::CPgTestCluster::shared(argv[2]);
        if (cluster->ready())
            return 0;
        std::fprintf(stderr, "the cluster did not start; see %s\n", argv[2]);
        return 1;
    }
    if (command == "stop")
        return iotest::CPgTestCluster::removeShared(argv[2]) ? 0 : 1;
    std::fprintf(stderr, "usage: pg-test-cluster start|stop FOLDER\n");
    return 2;
}
