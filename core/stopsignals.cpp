// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/stopsignals.h"

#include <csignal>
#include <initializer_list>
#include <sys/socket.h>
#include <unistd.h>

namespace {
int signalPipe[2] = {-1, -1};

void onSignal(int sig)
{
    const auto c = static_cast<unsigned char>(sig);
    [[maybe_unused]] const auto n = ::write(signalPipe[1], &c, 1);
}
} // namespace

namespace stopsignals {

int install()
{
    ::signal(SIGPIPE, SIG_IGN);
    if (signalPipe[0] >= 0 || ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPipe) != 0)
        return signalPipe[0];
    struct sigaction sa { };
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    for (int sig : {SIGTERM, SIGINT, SIGHUP, SIGUSR1})
        ::sigaction(sig, &sa, nullptr);
    return signalPipe[0];
}

int take()
{
    unsigned char c = 0;
    return ::read(signalPipe[0], &c, 1) == 1 ? c : 0;
}

} // namespace stopsignals
