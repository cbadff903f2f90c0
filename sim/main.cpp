// SPDX-License-Identifier: GPL-3.0-or-later
// veltrak-sim: a simulated VELTRAK sensor on a pseudo-terminal, for trying
// the monitor without hardware and for tests and benchmarks.
#include "sim/simsensor.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {
void usage(FILE* out)
{
    std::fputs("Usage: veltrak-sim [options]\n"
               "Opens a pseudo-terminal and answers like a VELTRAK sensor:\n"
               "  A -> R;  B/C/D -> three hex digits and a line feed (pitch, roll, temperature counts).\n\n"
               "Options:\n"
               "  --link PATH          make PATH a symlink to the device (removed at exit)\n"
               "  --pitch HEX          static pitch count (default 800)\n"
               "  --roll HEX           static roll count (default 800)\n"
               "  --temp HEX           temperature count (default 09E = 25 C)\n"
               "  --motion             slow, smooth tilt instead of static counts\n"
               "  --amplitude N        motion amplitude in counts (default 300)\n"
               "  --period S           motion period in seconds (default 20)\n"
               "  --latency-us N       delay before each reply\n"
               "  --split N            send each reply in N pieces (0: a random number each time)...\n"
               "  --gap-us N           ...N microseconds apart (default 2000)\n"
               "  --baud N             pace every byte at this line rate (e.g. 19200)\n"
               "  --silence-every MS   answer for MS milliseconds, then...\n"
               "  --silence-for MS     ...fall silent for MS milliseconds, and repeat\n"
               "  --bad-a P            answer \"A\" wrongly with probability P (0..1)\n"
               "  --garbage P          put garbage in front of a reply with probability P\n"
               "  --answer-f TEXT      answer the initialisation \"F\" with TEXT\n"
               "  --unanswered LETTERS never answer these commands (e.g. C)\n"
               "  --seed N             seed for repeatable runs (default 1)\n"
               "  --log FILE           log every byte received (rx) and sent (tx) with timestamps\n"
               "  -h, --help           this help\n"
               "Prints the device path on its first line, then runs until interrupted.\n",
        out);
}

bool parse(int argc, char** argv, sim::SimOptions& o)
{
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&]() -> const char* {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "veltrak-sim: %s needs a value\n", a.c_str());
                std::exit(2);
            }
            return argv[++i];
        };
        if (a == "-h" || a == "--help") {
            usage(stdout);
            std::exit(0);
        } else if (a == "--link")
            o.linkPath = value();
        else if (a == "--pitch")
            o.pitch = int(std::strtol(value(), nullptr, 16));
        else if (a == "--roll")
            o.roll = int(std::strtol(value(), nullptr, 16));
        else if (a == "--temp")
            o.temperature = int(std::strtol(value(), nullptr, 16));
        else if (a == "--motion")
            o.motion = true;
        else if (a == "--amplitude")
            o.motionAmplitude = std::atof(value());
        else if (a == "--period")
            o.motionPeriodS = std::atof(value());
        else if (a == "--latency-us")
            o.latencyUs = std::atol(value());
        else if (a == "--split")
            o.splitPieces = std::atoi(value());
        else if (a == "--gap-us")
            o.splitGapUs = std::atol(value());
        else if (a == "--baud")
            o.baud = std::atoi(value());
        else if (a == "--silence-every")
            o.silenceEveryMs = std::atol(value());
        else if (a == "--silence-for")
            o.silenceForMs = std::atol(value());
        else if (a == "--bad-a")
            o.badAnswerToA = std::atof(value());
        else if (a == "--garbage")
            o.garbage = std::atof(value());
        else if (a == "--answer-f")
            o.answerToF = value();
        else if (a == "--unanswered")
            o.unanswered = value();
        else if (a == "--seed")
            o.seed = unsigned(std::strtoul(value(), nullptr, 10));
        else if (a == "--log")
            o.logPath = value();
        else {
            std::fprintf(stderr, "veltrak-sim: unknown option %s\n\n", a.c_str());
            usage(stderr);
            return false;
        }
    }
    return true;
}
} // namespace

int main(int argc, char** argv)
{
    sim::SimOptions options;
    if (!parse(argc, argv, options))
        return 2;
    // Block the stop signals before the sensor thread starts, so they are
    // taken here by sigwait.
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);

    sim::SimSensor sensor(options);
    std::string error;
    if (!sensor.start(&error)) {
        std::fprintf(stderr, "veltrak-sim: %s\n", error.c_str());
        return 1;
    }
    std::printf("%s\n", options.linkPath.empty() ? sensor.devicePath().c_str() : options.linkPath.c_str());
    std::fflush(stdout);
    int sig = 0;
    sigwait(&set, &sig);
    sensor.stop();
    return 0;
}
