#pragma once
// The active audio capture devices, offered by the settings window.
#include <string>
#include <vector>

struct AudioDevice {
    std::wstring endpointId;  // what a recording opens the device by
    std::wstring name;
};

// In the platform's endpoint order; every failure only shortens the list.
std::vector<AudioDevice> AudioDeviceList();
