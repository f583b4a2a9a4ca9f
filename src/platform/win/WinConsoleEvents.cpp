#include "platform/win/WinConsoleEvents.h"

#include <windows.h>

namespace kavon::platform {

ConsoleEventAnswer AnswerConsoleEvent(unsigned long event, bool asService) {
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT: return ConsoleEventAnswer::Stop;
    case CTRL_CLOSE_EVENT: return ConsoleEventAnswer::StopAndWait;
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT: return asService ? ConsoleEventAnswer::PassOn : ConsoleEventAnswer::StopAndWait;
    default: return ConsoleEventAnswer::PassOn;
  }
}

}  // namespace kavon::platform
