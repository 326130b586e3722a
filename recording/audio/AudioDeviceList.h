#pragma once
// Names of the active audio capture devices, offered by the settings window.
#include <string>
#include <vector>

// Friendly names in the platform's endpoint order; every failure only shortens the list.
std::vector<std::wstring> AudioDeviceList();
