#include "platform/win32/VideoInput_win.h"
#include "platform/VideoDevices.h"

#include "common/LogSink.h"
#include "platform/win32/Text_win.h"

#include <windows.h>

#include <dshow.h>
#include <objbase.h>
#include <oleauto.h>

namespace vorn::platform::win32 {
namespace {

// Releases a COM interface at scope end.
template <typename T>
struct Ref {
    T* p = nullptr;
    ~Ref() {
        if (p)
            p->Release();
    }
    T** out() { return &p; }
    T* operator->() const { return p; }
};

std::string ReadProperty(IPropertyBag* bag, const wchar_t* name) {
    VARIANT value;
    VariantInit(&value);
    std::string text;
    if (SUCCEEDED(bag->Read(name, &value, nullptr)) && value.vt == VT_BSTR && value.bstrVal)
        text = WideToUtf8(std::wstring_view(value.bstrVal, SysStringLen(value.bstrVal)));
    VariantClear(&value);
    return text;
}

std::string DisplayNameOf(IMoniker* moniker) {
    LPOLESTR name = nullptr;
    std::string text;
    if (SUCCEEDED(moniker->GetDisplayName(nullptr, nullptr, &name)) && name)
        text = WideToUtf8(name);
    CoTaskMemFree(name);
    return text;
}

}  // namespace

std::vector<VideoInputDevice> EnumerateVideoInputDevices() {
    std::vector<VideoInputDevice> devices;
    // S_FALSE (already initialised) and RPC_E_CHANGED_MODE (the thread chose another model)
    // both leave COM usable here.
    const HRESULT init = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    {
        Ref<ICreateDevEnum> system;
        if (FAILED(CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_ALL, IID_ICreateDevEnum,
                                    reinterpret_cast<void**>(system.out())))) {
            log::Warning(log::Area::Probes, "The system device enumerator is not available.");
        } else {
            Ref<IEnumMoniker> monikers;
            if (system->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, monikers.out(), 0) ==
                    S_OK &&
                monikers.p) {
                monikers->Reset();
                for (;;) {
                    Ref<IMoniker> moniker;
                    if (monikers->Next(1, moniker.out(), nullptr) != S_OK)
                        break;
                    Ref<IPropertyBag> bag;
                    if (FAILED(moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag,
                                                      reinterpret_cast<void**>(bag.out()))))
                        continue;
                    VideoInputDevice device;
                    device.friendlyName = ReadProperty(bag.p, L"FriendlyName");
                    device.displayName = DisplayNameOf(moniker.p);
                    device.description = ReadProperty(bag.p, L"Description");
                    // The page has always seen the name where a device has no description.
                    if (device.description.empty())
                        device.description = device.friendlyName;
                    device.devicePath = ReadProperty(bag.p, L"DevicePath");
                    devices.push_back(std::move(device));
                }
            }
        }
    }
    if (SUCCEEDED(init))
        CoUninitialize();
    return devices;
}

bool IsUsbCamera(const VideoInputDevice& device) {
    if (device.displayName.starts_with("@device:sw") ||
        device.displayName.starts_with("@device:pnp:\\\\?\\root"))
        return false;
    return device.devicePath.starts_with("\\\\?\\usb#");
}

std::vector<VideoInputDevice> NonUsbVideoInputDevices() {
    std::vector<VideoInputDevice> devices = EnumerateVideoInputDevices();
    std::erase_if(devices, IsUsbCamera);
    return devices;
}

}  // namespace vorn::platform::win32

namespace vorn::platform {

namespace {

class DirectShowVideoDevices : public IVideoDevices {
public:
    // The page's identifier is the moniker's display name; what Linux calls the card and the
    // driver are the friendly name and the description here.
    std::vector<VideoDevice> Enumerate(bool includeUsb) const override {
        std::vector<VideoDevice> devices;
        for (win32::VideoInputDevice& input : win32::EnumerateVideoInputDevices()) {
            const bool usb = win32::IsUsbCamera(input);
            if (usb && !includeUsb)
                continue;
            devices.push_back(
                VideoDevice{std::move(input.displayName), std::move(input.friendlyName),
                            std::move(input.description), usb ? VideoBus::Usb : VideoBus::Other});
        }
        return devices;
    }
};

}  // namespace

std::unique_ptr<IVideoDevices> CreateVideoDevices() {
    return std::make_unique<DirectShowVideoDevices>();
}

}  // namespace vorn::platform
