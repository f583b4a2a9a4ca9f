#pragma once
// Programs a test starts: kavon itself (KAVON_BIN) and the real user-space
// stacks it talks to (sound servers, players), each in a process group of
// its own so that nothing it starts outlives the test.
#include <sys/types.h>

#include <string>
#include <vector>

namespace kavon::test {

// The kavon program under test.
std::string KavonBinary();
// Starts argv[0] (looked up on PATH) with argv, the test's environment plus
// env ("NAME=value", replacing a name already set), and stdout and stderr
// into outputFile when one is named (else inherited).
pid_t Spawn(const std::vector<std::string>& argv, const std::vector<std::string>& env = {},
            const std::string& outputFile = {});
// The exit status (128 + signal for a signal) within `seconds` of real
// time, or -1 after killing it when it did not end.
int WaitExit(pid_t pid, double seconds = 20);
// Ends a process group started by Spawn: SIGTERM, then SIGKILL.
void StopGroup(pid_t pid);
// Runs argv to its end (at most `seconds`); true when it exited 0.
bool RunQuietly(const std::vector<std::string>& argv, const std::vector<std::string>& env = {}, double seconds = 20);

}  // namespace kavon::test
