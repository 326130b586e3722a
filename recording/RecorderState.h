#pragma once
#include <cstdint>

enum RecorderState : int32_t { Ready = 0, Recording = 1, Paused = 2 };
