#pragma once
// What kavon does with the console's control events.

namespace kavon::platform {

enum class ConsoleEventAnswer {
  PassOn,       // not ours: the next handler (at last the system's) decides
  Stop,         // the main loop stops; the process goes on until main ends it
  StopAndWait,  // the process ends when the handler returns: wait for the flush
};

// A service hears of logoff and shutdown too, but a user logging off is not
// the end of a service, and shutdown reaches it from the service manager;
// the system's handler for a service ends nothing on them.
ConsoleEventAnswer AnswerConsoleEvent(unsigned long event, bool asService);

}  // namespace kavon::platform
