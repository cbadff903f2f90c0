// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <algorithm>

// The pause before each attempt to reach something that went away (the
// logger's device, the MQTT broker): doubled after each failed attempt up to
// its cap, back to the first once the attempt succeeds and lasts.
class Backoff {
public:
    static constexpr int FirstMs = 1000;
    static constexpr int CapMs = 30'000;

    Backoff() = default;
    Backoff(int firstMs, int capMs) : m_firstMs(firstMs), m_capMs(std::max(firstMs, capMs)), m_nextMs(firstMs) { }

    int next()
    {
        const int delay = m_nextMs;
        // Halved cap first: doubling a cap near INT_MAX must not overflow.
        m_nextMs = m_nextMs > m_capMs / 2 ? m_capMs : m_nextMs * 2;
        return delay;
    }
    void reset() { m_nextMs = m_firstMs; }

private:
    int m_firstMs = FirstMs;
    int m_capMs = CapMs;
    int m_nextMs = FirstMs;
};
