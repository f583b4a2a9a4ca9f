#pragma once
// The requests `kavon ctl` sends to a running kavon, and their answers:
// "status" (each channel's state, file, elapsed time, level and warnings,
// and the next timer entry; "status --json" for scripts), "start N",
// "stop N" and "reload-timers". An answer's first line is "OK" or
// "ERROR" with the reason; a bad request changes nothing.
#include <string>

#include "app/FrmMain.h"

namespace kavon {

std::string AnswerControlRequest(FrmMain& app, const std::string& request);

}  // namespace kavon
