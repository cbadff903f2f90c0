#include "core/stopsignals.h"

#include <QtGlobal>

#ifdef Q_OS_UNIX
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace {
int signalPipe[2] = {-1, -1};

void onStopSignal(int)
{
    const char c = 1;
    [[maybe_unused]] const auto n = ::write(signalPipe[1], &c, 1);
}
} // namespace

namespace stopsignals {

int install()
{
    ::signal(SIGPIPE, SIG_IGN);
    if (signalPipe[0] >= 0 || ::socketpair(AF_UNIX, SOCK_STREAM, 0, signalPipe) != 0)
        return signalPipe[0];
    struct sigaction sa { };
    sa.sa_handler = onStopSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    for (int sig : {SIGTERM, SIGINT, SIGHUP})
        ::sigaction(sig, &sa, nullptr);
    return signalPipe[0];
}

void take()
{
    char c;
    [[maybe_unused]] const auto n = ::read(signalPipe[0], &c, 1);
}

} // namespace stopsignals
#else
namespace stopsignals {
int install()
{
    return -1;
}
void take()
{
}
} // namespace stopsignals
#endif
