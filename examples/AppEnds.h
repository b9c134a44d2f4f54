// When the sample application ends: its standard input (a pipe or a
// socket) closed, a debug message said "quit", or five minutes passed (a
// launched copy reads /dev/null and would otherwise never end).
#pragma once
#include <chrono>

namespace SampleApp {

class AppEnds {
public:
    // Five minutes from now; whether the input is a pipe or a socket.
    AppEnds();

    void askQuit() { quitAsked = true; }
    // Waits up to waitMs (0: not at all) for the input, reading and
    // dropping what comes; true once one of the ends is reached.
    bool shouldEnd(int waitMs);

private:
    std::chrono::steady_clock::time_point deadline;
    bool piped = false;
    bool inputClosed = false;
    bool quitAsked = false;
};

}  // namespace SampleApp
