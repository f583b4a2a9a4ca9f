// A build without an HTTP server library (the Windows build): HttpListen
// is reported as unavailable and kavon runs on without it.
#include "app/HttpEndpoint.h"

namespace kavon {

std::unique_ptr<HttpEndpoint> MakeHttpEndpoint(const MetricsBoard&) { return nullptr; }

}  // namespace kavon
