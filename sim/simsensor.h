// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace sim {

// How the simulated VELTRAK sensor behaves.
struct SimOptions {
    int pitch = 0x800; // static counts (0..4095)
    int roll = 0x800;
    int temperature = 0x09E; // 25 degrees C
    bool motion = false; // slow, smooth tilt instead of static counts
    double motionAmplitude = 300; // counts
    double motionPeriodS = 20;
    long latencyUs = 0; // delay before each reply starts
    int splitPieces = 1; // replies are sent in this many pieces (0 = a random number each time)...
    long splitGapUs = 2000; // ...with this gap between them
    int baud = 0; // 0 = answer at once; else pace every byte at this line rate
    long silenceEveryMs = 0; // fall silent periodically (0 = never)...
    long silenceForMs = 0; // ...for this long
    double badAnswerToA = 0; // probability of a wrong answer to "A"
    double garbage = 0; // probability of garbage in front of a reply
    std::string answerToF; // sent after "F"; nothing by default
    std::string unanswered; // command letters that get no answer
    unsigned seed = 1;
    std::string linkPath; // symlink to the device, if set
    std::string logPath; // every byte received and sent, with timestamps
    bool keepLog = true; // keep the byte log in memory (off for long runs)
};

struct LogEntry {
    std::int64_t tNs; // steady clock
    bool received; // true: from the program; false: sent by the sensor
    char byte;
};

// A sensor on a pseudo-terminal, served by its own thread.
class SimSensor {
public:
    explicit SimSensor(SimOptions options = {});
    ~SimSensor();
    SimSensor(const SimSensor&) = delete;
    SimSensor& operator=(const SimSensor&) = delete;

    bool start(std::string* error = nullptr);
    void stop(); // the device vanishes (as when an adapter is pulled)
    bool running() const { return m_thread.joinable(); }
    std::string devicePath() const { return m_device; }

    // Thread-safe controls and observations.
    void setSilent(bool silent) { m_forcedSilent = silent; }
    void setCounts(int pitch, int roll, int temperature);
    void setBadAnswerToA(double p);
    void setUnanswered(const std::string& letters);
    // The next command `letter` is answered with `reply` instead (in the
    // order scripted), e.g. line noise: script('B', "ZZZ\n").
    void script(char letter, const std::string& reply);
    std::string received() const; // every byte the program sent
    std::vector<LogEntry> log() const;
    void clearLog();
    std::size_t repliesSent() const { return m_replies; }

    // The text of a count as the sensor sends it: three hex digits and a line feed.
    static std::string countReply(int count);

private:
    struct Pending {
        std::chrono::steady_clock::time_point due;
        std::string bytes;
        bool endsReply;
    };
    void run();
    void onByte(char c, std::chrono::steady_clock::time_point now);
    void scheduleReply(const std::string& reply, std::chrono::steady_clock::time_point now);
    bool silentAt(std::chrono::steady_clock::time_point now) const;
    void record(bool received, const char* data, std::size_t n);

    SimOptions m_opt;
    int m_master = -1;
    int m_slave = -1;
    int m_wake[2] = {-1, -1};
    std::string m_device;
    std::thread m_thread;
    std::atomic<bool> m_stop {false};
    std::atomic<bool> m_forcedSilent {false};
    std::atomic<std::size_t> m_replies {0};
    std::chrono::steady_clock::time_point m_startTime;
    std::mt19937 m_rng;
    std::deque<Pending> m_out;

    mutable std::mutex m_mutex; // guards everything below
    int m_pitch, m_roll, m_temperature;
    double m_badA;
    std::string m_unanswered;
    std::deque<std::pair<char, std::string>> m_scripted;
    std::vector<LogEntry> m_log;
    std::string m_received;
    FILE* m_logFile = nullptr;
};

} // namespace sim
