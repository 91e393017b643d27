// The network module's one entry point (see remotemodule.h).
#include "remote/moduleserver.h"

#include <memory>

extern "C" Q_DECL_EXPORT RemoteServer *kestrimCreateRemoteServer3(PerformAction perform)
{
    // Ownership crosses into the program, which holds the server in a unique_ptr from the moment it gets it.
    return std::make_unique<ModuleServer>(std::move(perform)).release();
}
