#pragma once
// The status display's clock: tick arithmetic modulo 2^32 and the hh:mm:ss text.
#include <cstdint>
#include <string>

// hours:minutes:seconds, each at least two digits; hours are not capped.
std::wstring FormatDuration(uint32_t ms);

// Recording time shown while recording: now - paused - start, wrapping like the tick count.
constexpr uint32_t ElapsedRecordingMs(uint32_t nowTick, uint32_t startTick, uint32_t pausedMs) {
    return nowTick - pausedMs - startTick;
}

// Recording time frozen at a pause; never negative.
constexpr uint32_t ElapsedAtPauseMs(uint32_t pauseTick, uint32_t startTick, uint32_t pausedMs) {
    const uint32_t sinceStart = pauseTick - startTick;
    return sinceStart > pausedMs ? sinceStart - pausedMs : 0;
}
