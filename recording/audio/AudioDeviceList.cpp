#include "recording/audio/AudioDeviceList.h"

#include "common/ComRef.h"

#include <windows.h>
#include <initguid.h>
#include <mmdeviceapi.h>
#include <functiondiscoverykeys_devpkey.h>

std::vector<std::wstring> AudioDeviceList() {
    std::vector<std::wstring> names;
    ComRef<IMMDeviceEnumerator> enumerator;
    if (FAILED(CoCreateInstance(__uuidof(MMDeviceEnumerator), nullptr, CLSCTX_ALL, IID_PPV_ARGS(enumerator.put()))))
        return names;
    ComRef<IMMDeviceCollection> devices;
    if (FAILED(enumerator->EnumAudioEndpoints(eCapture, DEVICE_STATE_ACTIVE, devices.put()))) return names;
    UINT count = 0;
    if (FAILED(devices->GetCount(&count))) return names;
    for (UINT i = 0; i < count; ++i) {
        ComRef<IMMDevice> device;
        if (FAILED(devices->Item(i, device.put()))) continue;
        ComRef<IPropertyStore> properties;
        if (FAILED(device->OpenPropertyStore(STGM_READ, properties.put()))) continue;
        PROPVARIANT name;
        PropVariantInit(&name);
        if (SUCCEEDED(properties->GetValue(PKEY_Device_FriendlyName, &name)) && name.vt == VT_LPWSTR && name.pwszVal)
            names.emplace_back(name.pwszVal);
        PropVariantClear(&name);
    }
    return names;
}
