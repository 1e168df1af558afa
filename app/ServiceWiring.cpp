#include "app/ServiceWiring.h"

#include "models/update/ModelUpdater.h"
#include "services/CGlobal.h"
#include "services/settings/Deployment.h"

void WireServices(CGlobal& global) {
    global.SetModelUpdateStarter([](const vorn::ClientPaths& paths, int localVersion) {
        // Created on the first request and deliberately never destroyed, like the services
        // object: its worker may still run while the process exits.
        static CModelUpdater* updater = nullptr;
        if (!updater)
            updater = new CModelUpdater(paths.StateFolder(), vorn::deployment::HttpResourceHost(),
                                        vorn::HttpLimits{}, vorn::InstallLimits{},
                                        paths.SettingsFile());
        updater->Start(localVersion);
    });
}
