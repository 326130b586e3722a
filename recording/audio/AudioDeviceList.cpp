#include "recording/audio/AudioDeviceList.h"

#include "common/ComRef.h"

#include <windows.h>
#include <initguid.h>
#include <mmdeviceapi.h>
#include <functiondiscoverykeys_devpkey.h>

std::vector<AudioDevice> AudioDeviceList() {
    std::vector<AudioDevice> list;
    ComRef<IMMDeviceEnumerator> enumerator;
    if (FAILED(CoCreateInstance(__uuidof(MMDeviceEnumerator), nullptr, CLSCTX_ALL, IID_PPV_ARGS(enumerator.put()))))
        return list;
    ComRef<IMMDeviceCollection> devices;
    if (FAILED(enumerator->EnumAudioEndpoints(eCapture, DEVICE_STATE_ACTIVE, devices.put()))) return list;
    UINT count = 0;
    if (FAILED(devices->GetCount(&count))) return list;
    for (UINT i = 0; i < count; ++i) {
        ComRef<IMMDevice> device;
        if (FAILED(devices->Item(i, device.put()))) continue;
        LPWSTR id = nullptr;
        if (FAILED(device->GetId(&id))) continue;
        std::wstring endpointId = id;
        CoTaskMemFree(id);
        ComRef<IPropertyStore> properties;
        if (FAILED(device->OpenPropertyStore(STGM_READ, properties.put()))) continue;
        PROPVARIANT name;
        PropVariantInit(&name);
        if (SUCCEEDED(properties->GetValue(PKEY_Device_FriendlyName, &name)) && name.vt == VT_LPWSTR && name.pwszVal)
            list.push_back({std::move(endpointId), name.pwszVal});
        PropVariantClear(&name);
    }
    return list;
}
