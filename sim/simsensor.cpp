// SPDX-License-Identifier: GPL-3.0-or-later
#include "sim/simsensor.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace sim {

using Clock = std::chrono::steady_clock;

namespace {
std::int64_t nsSince(Clock::time_point origin, Clock::time_point t)
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(t - origin).count();
}
} // namespace

SimSensor::SimSensor(SimOptions options)
    : m_opt(std::move(options)),
      m_rng(m_opt.seed),
      m_pitch(m_opt.pitch),
      m_roll(m_opt.roll),
      m_temperature(m_opt.temperature),
      m_badA(m_opt.badAnswerToA),
      m_unanswered(m_opt.unanswered)
{
}

SimSensor::~SimSensor()
{
    stop();
}

std::string SimSensor::countReply(int count)
{
    if (count < 0)
        count = 0;
    if (count > 0xFFF)
        count = 0xFFF;
    char buf[8];
    std::snprintf(buf, sizeof buf, "%03X\n", count);
    return buf;
}

bool SimSensor::start(std::string* error)
{
    auto fail = [&](const char* what) {
        if (error)
            *error = std::string(what) + ": " + std::strerror(errno);
        stop();
        return false;
    };
    if (running())
        return true;
    m_stop = false;
    m_master = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (m_master < 0)
        return fail("posix_openpt");
    if (::grantpt(m_master) != 0 || ::unlockpt(m_master) != 0)
        return fail("grantpt/unlockpt");
    const char* name = ::ptsname(m_master);
    if (!name)
        return fail("ptsname");
    m_device = name;
    // Keep our own slave descriptor open: without it the master reports a
    // hang-up in a loop whenever the program closes the port.
    m_slave = ::open(name, O_RDWR | O_NOCTTY);
    if (m_slave < 0)
        return fail("open slave");
    termios tio {};
    if (::tcgetattr(m_slave, &tio) == 0) {
        ::cfmakeraw(&tio); // no line-end translation: bytes pass as they are
        ::tcsetattr(m_slave, TCSANOW, &tio);
    }
    ::fcntl(m_master, F_SETFL, ::fcntl(m_master, F_GETFL) | O_NONBLOCK);
    if (::pipe(m_wake) != 0)
        return fail("pipe");
    if (!m_opt.linkPath.empty()) {
        ::unlink(m_opt.linkPath.c_str());
        if (::symlink(m_device.c_str(), m_opt.linkPath.c_str()) != 0)
            return fail("symlink");
    }
    if (!m_opt.logPath.empty()) {
        m_logFile = std::fopen(m_opt.logPath.c_str(), "w");
        if (!m_logFile)
            return fail("log file");
    }
    m_startTime = Clock::now();
    m_thread = std::thread([this] { run(); });
    return true;
}

void SimSensor::stop()
{
    m_stop = true;
    if (m_wake[1] >= 0) {
        const char c = 'x';
        [[maybe_unused]] const auto n = ::write(m_wake[1], &c, 1);
    }
    if (m_thread.joinable())
        m_thread.join();
    for (int* fd : {&m_master, &m_slave, &m_wake[0], &m_wake[1]}) {
        if (*fd >= 0)
            ::close(*fd);
        *fd = -1;
    }
    if (!m_opt.linkPath.empty())
        ::unlink(m_opt.linkPath.c_str());
    std::lock_guard lock(m_mutex);
    if (m_logFile) {
        std::fclose(m_logFile);
        m_logFile = nullptr;
    }
    m_out.clear();
}

void SimSensor::setCounts(int pitch, int roll, int temperature)
{
    std::lock_guard lock(m_mutex);
    m_pitch = pitch;
    m_roll = roll;
    m_temperature = temperature;
}

void SimSensor::setBadAnswerToA(double p)
{
    std::lock_guard lock(m_mutex);
    m_badA = p;
}

void SimSensor::script(char letter, const std::string& reply)
{
    std::lock_guard lock(m_mutex);
    m_scripted.emplace_back(letter, reply);
}

void SimSensor::setUnanswered(const std::string& letters)
{
    std::lock_guard lock(m_mutex);
    m_unanswered = letters;
}

std::string SimSensor::received() const
{
    std::lock_guard lock(m_mutex);
    return m_received;
}

std::vector<LogEntry> SimSensor::log() const
{
    std::lock_guard lock(m_mutex);
    return m_log;
}

void SimSensor::clearLog()
{
    std::lock_guard lock(m_mutex);
    m_log.clear();
    m_received.clear();
}

void SimSensor::record(bool received, const char* data, std::size_t n)
{
    const std::int64_t t = nsSince(m_startTime, Clock::now());
    std::lock_guard lock(m_mutex);
    for (std::size_t i = 0; i < n; ++i) {
        if (m_opt.keepLog)
            m_log.push_back({t, received, data[i]});
        if (m_logFile)
            std::fprintf(m_logFile, "%lld.%06lld %s %02X\n", static_cast<long long>(t / 1'000'000'000),
                static_cast<long long>((t / 1000) % 1'000'000), received ? "rx" : "tx",
                static_cast<unsigned char>(data[i]));
    }
    if (received && m_opt.keepLog)
        m_received.append(data, n);
    if (m_logFile)
        std::fflush(m_logFile);
}

bool SimSensor::silentAt(Clock::time_point now) const
{
    if (m_forcedSilent)
        return true;
    if (m_opt.silenceEveryMs <= 0 || m_opt.silenceForMs <= 0)
        return false;
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now - m_startTime).count();
    const long period = m_opt.silenceEveryMs + m_opt.silenceForMs;
    return ms % period >= m_opt.silenceEveryMs;
}

void SimSensor::scheduleReply(const std::string& reply, Clock::time_point now)
{
    std::string text = reply;
    std::uniform_real_distribution<double> u(0.0, 1.0);
    if (m_opt.garbage > 0 && u(m_rng) < m_opt.garbage) {
        static const char noise[] = "G?#%z*~ 7\r";
        std::uniform_int_distribution<int> len(1, 3), pick(0, int(sizeof noise) - 2);
        std::string junk;
        for (int i = len(m_rng); i > 0; --i)
            junk.push_back(noise[pick(m_rng)]);
        text = junk + text;
    }
    using std::chrono::microseconds;
    using std::chrono::nanoseconds;
    // At a real line rate the command itself takes one character time to arrive.
    const nanoseconds charTime = m_opt.baud > 0 ? nanoseconds(10'000'000'000LL / m_opt.baud) : nanoseconds(0);
    Clock::time_point due = now + charTime + microseconds(m_opt.latencyUs);
    if (!m_out.empty() && m_out.back().due > due)
        due = m_out.back().due;
    if (m_opt.baud > 0) {
        for (std::size_t i = 0; i < text.size(); ++i) {
            due += charTime;
            m_out.push_back({due, std::string(1, text[i]), i + 1 == text.size()});
        }
        return;
    }
    int wanted = m_opt.splitPieces;
    if (wanted <= 0)
        wanted = std::uniform_int_distribution<int>(1, int(text.size()))(m_rng);
    const int pieces = std::max(1, std::min<int>(wanted, int(text.size())));
    if (pieces == 1) {
        m_out.push_back({due, text, true});
        return;
    }
    // Cut points chosen at random (repeatably, by the seed).
    std::vector<std::size_t> cuts;
    std::uniform_int_distribution<std::size_t> at(1, text.size() - 1);
    while (int(cuts.size()) < pieces - 1) {
        const std::size_t c = at(m_rng);
        if (std::find(cuts.begin(), cuts.end(), c) == cuts.end())
            cuts.push_back(c);
    }
    std::sort(cuts.begin(), cuts.end());
    cuts.push_back(text.size());
    std::size_t from = 0;
    for (std::size_t i = 0; i < cuts.size(); ++i) {
        m_out.push_back({due, text.substr(from, cuts[i] - from), i + 1 == cuts.size()});
        from = cuts[i];
        due += microseconds(m_opt.splitGapUs);
    }
}

void SimSensor::onByte(char c, Clock::time_point now)
{
    if (silentAt(now))
        return;
    int pitch, roll, temperature;
    double badA;
    {
        std::lock_guard lock(m_mutex);
        for (auto it = m_scripted.begin(); it != m_scripted.end(); ++it) {
            if (it->first == c) {
                const std::string reply = it->second;
                m_scripted.erase(it);
                scheduleReply(reply, now);
                return;
            }
        }
        pitch = m_pitch;
        roll = m_roll;
        temperature = m_temperature;
        badA = m_badA;
        if (m_unanswered.find(c) != std::string::npos)
            return;
    }
    if (m_opt.motion) {
        const double t = std::chrono::duration<double>(now - m_startTime).count();
        const double w = 2 * M_PI / std::max(0.1, m_opt.motionPeriodS);
        pitch = 2048 + int(std::lround(m_opt.motionAmplitude * std::sin(w * t)));
        roll = 2048 + int(std::lround(0.6 * m_opt.motionAmplitude * std::sin(0.77 * w * t + 1.0)));
        temperature = m_opt.temperature + int(std::lround(2 * std::sin(t / 60.0)));
    }
    std::uniform_real_distribution<double> u(0.0, 1.0);
    switch (c) {
    case 'A':
        if (badA > 0 && u(m_rng) < badA)
            scheduleReply(u(m_rng) < 0.5 ? "r" : "R\n", now);
        else
            scheduleReply("R", now);
        break;
    case 'B':
        scheduleReply(countReply(pitch), now);
        break;
    case 'C':
        scheduleReply(countReply(roll), now);
        break;
    case 'D':
        scheduleReply(countReply(temperature), now);
        break;
    case 'F':
        if (!m_opt.answerToF.empty())
            scheduleReply(m_opt.answerToF, now);
        break;
    default:
        break; // the zeros of the initialisation and anything unknown
    }
}

void SimSensor::run()
{
    char buf[256];
    while (!m_stop) {
        Clock::time_point now = Clock::now();
        // Send whatever is due.
        while (!m_out.empty() && m_out.front().due <= now) {
            const Pending p = m_out.front();
            m_out.pop_front();
            const ssize_t n = ::write(m_master, p.bytes.data(), p.bytes.size());
            if (n > 0)
                record(false, p.bytes.data(), std::size_t(n));
            if (p.endsReply)
                ++m_replies;
            now = Clock::now();
        }
        timespec timeout {};
        timespec* tp = nullptr;
        if (!m_out.empty()) {
            auto wait = std::max(Clock::duration::zero(), m_out.front().due - now);
            // The last stretch before a paced character is spun, not slept:
            // a sleeping thread wakes tens of microseconds late, which would
            // make the simulated line slower than a real one.
            constexpr auto SpinMargin = std::chrono::microseconds(150);
            if (m_opt.baud > 0)
                wait = wait > SpinMargin ? wait - SpinMargin : Clock::duration::zero();
            const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(wait).count();
            timeout.tv_sec = ns / 1'000'000'000;
            timeout.tv_nsec = ns % 1'000'000'000;
            tp = &timeout;
        }
        pollfd fds[2] = {{m_master, POLLIN, 0}, {m_wake[0], POLLIN, 0}};
        const int r = ::ppoll(fds, 2, tp, nullptr);
        if (r < 0 && errno != EINTR)
            break;
        if (fds[1].revents)
            break;
        if (fds[0].revents & POLLIN) {
            const ssize_t n = ::read(m_master, buf, sizeof buf);
            if (n > 0) {
                const Clock::time_point at = Clock::now();
                record(true, buf, std::size_t(n));
                for (ssize_t i = 0; i < n; ++i)
                    onByte(buf[i], at);
            }
        } else if (fds[0].revents & (POLLHUP | POLLERR)) {
            // The program closed the port; our slave descriptor keeps the
            // device alive, so this is rare. Do not spin on it.
            ::usleep(1000);
        }
    }
}

} // namespace sim
