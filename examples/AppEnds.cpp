#include "examples/AppEnds.h"

#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

namespace SampleApp {

namespace {

constexpr auto kLifetime = std::chrono::minutes(5);

}  // namespace

AppEnds::AppEnds() : deadline(std::chrono::steady_clock::now() + kLifetime) {
    struct stat in;
    piped = fstat(0, &in) == 0 && (S_ISFIFO(in.st_mode) || S_ISSOCK(in.st_mode));
}

bool AppEnds::shouldEnd(int waitMs) {
    struct pollfd input = {0, POLLIN, 0};
    if (!piped || inputClosed) {
        if (waitMs > 0)
            usleep(useconds_t(waitMs) * 1000);
    } else if (poll(&input, 1, waitMs) > 0) {
        char buffer[256];
        if (read(0, buffer, sizeof buffer) <= 0)
            inputClosed = true;
    }
    return quitAsked || inputClosed || std::chrono::steady_clock::now() >= deadline;
}

}  // namespace SampleApp
