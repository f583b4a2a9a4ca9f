#pragma once
// Who may open the pipe of `kavon ctl`, as an SDDL security descriptor.
#include <string>
#include <string_view>

namespace kavon::platform {

// Full access for the account kavon runs as and nobody else. A kavon that
// runs as one of the system's service accounts (the service) is asked by
// the machine's administrators: they may open it too (elevated).
std::wstring ControlPipeAccess(std::wstring_view userSid);

}  // namespace kavon::platform
