#pragma once

namespace httplib {
class Server;
}
struct SandboxContext;

// The ladder web service under /api/v1: login, refresh, accounts, ladders,
// maps, statistics, the find-match exchange and the result upload.
namespace ApiRoutes {
void install(httplib::Server &server, SandboxContext &context);
}
