#pragma once
// The requests `kavon ctl` sends to a running kavon, and their answers:
// "status" (each channel's state, file, elapsed time, level and warnings,
// and the next timer entry; "status --json" for scripts), "start N",
// "stop N", "reload-timers", "metrics" (the Prometheus text) and "quit" (ends kavon as a stop signal would:
// Windows has no signal for it). An answer's first line is "OK" or
// "ERROR" with the reason; a bad request changes nothing.
#include <string>

#include "app/FrmMain.h"

namespace kavon {

std::string AnswerControlRequest(FrmMain& app, const std::string& request);

}  // namespace kavon
