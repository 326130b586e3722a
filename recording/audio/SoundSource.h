#pragma once
// Where a recording's sound comes from: nothing, a capture device, or what the default output
// device plays ("System sound").
#include <string>

enum class SoundSourceKind { None, Device, SystemSound };

struct SoundSource {
    SoundSourceKind kind = SoundSourceKind::None;
    std::wstring endpointId;  // the capture endpoint, for Device
};
