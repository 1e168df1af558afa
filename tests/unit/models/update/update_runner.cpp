// Runs one model update: update_runner <client folder ending in "/"> <version host>.
#include "models/update/ModelUpdater.h"

#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: update_runner <client folder/> <host[:port]>\n");
        return 2;
    }
    vorn::CModelUpdater updater(QString::fromLocal8Bit(argv[1]), QString::fromLocal8Bit(argv[2]));
    if (!updater.Start(-1))
        return 1;
    updater.WaitForIdle();
    return 0;
}
