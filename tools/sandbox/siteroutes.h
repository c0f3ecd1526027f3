#pragma once

namespace httplib {
class Server;
}
struct SandboxContext;

// Everything outside /api/v1: the ladder pages, map previews, the tunnel
// master list, the map database, the log collector, /inspect and /control.
namespace SiteRoutes {
void install(httplib::Server &server, SandboxContext &context);
// Fills the preview, archive and master-list caches from the data set.
void prepare(SandboxContext &context);
}
