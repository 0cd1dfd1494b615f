#pragma once
// Hand declarations of the window-capture runtime interfaces (Windows.Graphics.Capture and the
// Direct3D interop it needs), absent from the cross compiler's headers. The vtable order is the
// interface definition order; every method is __stdcall and returns HRESULT; properties are
// get_X/put_X, events add_X/remove_X. Kept in a namespace of their own: the legacy d3d.h has an
// unrelated global IDirect3DDevice.
#include <windows.h>
#include <dxgi.h>
#include <eventtoken.h>
#include <inspectable.h>
#include <roapi.h>
#include <winstring.h>

#include <cstdint>

#include "capture/wgc_iid_windows.hpp"

namespace capture::abi {

constexpr GUID vers_guid(const commun::Guid& g) {
    return GUID{g.donnees1,
                g.donnees2,
                g.donnees3,
                {g.donnees4[0], g.donnees4[1], g.donnees4[2], g.donnees4[3], g.donnees4[4], g.donnees4[5],
                 g.donnees4[6], g.donnees4[7]}};
}

struct SizeInt32 {
    INT32 Width;
    INT32 Height;
};
static_assert(sizeof(SizeInt32) == 8);

struct TimeSpan {
    INT64 Duration;
};

enum DirectXPixelFormat : INT32 {
    DirectXPixelFormat_B8G8R8A8UIntNormalized = 87,
};

struct Direct3DMultisampleDescription {
    INT32 Count;
    INT32 Quality;
};

struct Direct3DSurfaceDescription {
    INT32 Width;
    INT32 Height;
    DirectXPixelFormat Format;
    Direct3DMultisampleDescription MultisampleDescription;
};
static_assert(sizeof(Direct3DSurfaceDescription) == 20);
static_assert(sizeof(boolean) == 1, "WinRT Boolean is one byte");
static_assert(sizeof(EventRegistrationToken) == 8);

struct IDirect3D11CaptureFramePool;
struct IDirect3D11CaptureFrame;
struct IGraphicsCaptureItem;
struct IGraphicsCaptureSession;

// TypedEventHandler<Direct3D11CaptureFramePool, Object>: a delegate, so based on IUnknown.
struct IGestionnaireFrameArrived : IUnknown {
    static constexpr GUID iid = vers_guid(iids::gestionnaire_frame_arrived);
    virtual HRESULT STDMETHODCALLTYPE Invoke(IDirect3D11CaptureFramePool* sender, IInspectable* args) = 0;
};

// TypedEventHandler<GraphicsCaptureItem, Object>.
struct IGestionnaireClosed : IUnknown {
    static constexpr GUID iid = vers_guid(iids::gestionnaire_closed);
    virtual HRESULT STDMETHODCALLTYPE Invoke(IGraphicsCaptureItem* sender, IInspectable* args) = 0;
};

struct IClosable : IInspectable {
    static constexpr GUID iid = vers_guid(iids::closable);
    virtual HRESULT STDMETHODCALLTYPE Close() = 0;
};

// Windows.Graphics.DirectX.Direct3D11.IDirect3DDevice (the object also implements IClosable).
struct IDirect3DDevice : IInspectable {
    static constexpr GUID iid = vers_guid(iids::direct3d_device);
    virtual HRESULT STDMETHODCALLTYPE Trim() = 0;
};

struct IDirect3DSurface : IInspectable {
    static constexpr GUID iid = vers_guid(iids::direct3d_surface);
    virtual HRESULT STDMETHODCALLTYPE get_Description(Direct3DSurfaceDescription* value) = 0;
};

struct IDirect3DDxgiInterfaceAccess : IUnknown {
    static constexpr GUID iid = vers_guid(iids::dxgi_interface_access);
    virtual HRESULT STDMETHODCALLTYPE GetInterface(REFIID riid, void** object) = 0;
};

struct IGraphicsCaptureItemInterop : IUnknown {
    static constexpr GUID iid = vers_guid(iids::graphics_capture_item_interop);
    virtual HRESULT STDMETHODCALLTYPE CreateForWindow(HWND window, REFIID riid, void** result) = 0;
    virtual HRESULT STDMETHODCALLTYPE CreateForMonitor(HMONITOR monitor, REFIID riid, void** result) = 0;
};

struct IGraphicsCaptureItem : IInspectable {
    static constexpr GUID iid = vers_guid(iids::graphics_capture_item);
    virtual HRESULT STDMETHODCALLTYPE get_DisplayName(HSTRING* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Size(SizeInt32* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE add_Closed(IGestionnaireClosed* handler, EventRegistrationToken* token) = 0;
    virtual HRESULT STDMETHODCALLTYPE remove_Closed(EventRegistrationToken token) = 0;
};

struct IDirect3D11CaptureFramePoolStatics2 : IInspectable {
    static constexpr GUID iid = vers_guid(iids::frame_pool_statics2);
    virtual HRESULT STDMETHODCALLTYPE CreateFreeThreaded(IDirect3DDevice* device, DirectXPixelFormat pixelFormat,
                                                         INT32 numberOfBuffers, SizeInt32 size,
                                                         IDirect3D11CaptureFramePool** result) = 0;
};

struct IDirect3D11CaptureFramePool : IInspectable {
    static constexpr GUID iid = vers_guid(iids::frame_pool);
    virtual HRESULT STDMETHODCALLTYPE Recreate(IDirect3DDevice* device, DirectXPixelFormat pixelFormat,
                                               INT32 numberOfBuffers, SizeInt32 size) = 0;
    virtual HRESULT STDMETHODCALLTYPE TryGetNextFrame(IDirect3D11CaptureFrame** result) = 0;
    virtual HRESULT STDMETHODCALLTYPE add_FrameArrived(IGestionnaireFrameArrived* handler,
                                                       EventRegistrationToken* token) = 0;
    virtual HRESULT STDMETHODCALLTYPE remove_FrameArrived(EventRegistrationToken token) = 0;
    virtual HRESULT STDMETHODCALLTYPE CreateCaptureSession(IGraphicsCaptureItem* item,
                                                           IGraphicsCaptureSession** result) = 0;
    // Windows.System.DispatcherQueue; never called here.
    virtual HRESULT STDMETHODCALLTYPE get_DispatcherQueue(IInspectable** value) = 0;
};

struct IDirect3D11CaptureFrame : IInspectable {
    static constexpr GUID iid = vers_guid(iids::frame);
    virtual HRESULT STDMETHODCALLTYPE get_Surface(IDirect3DSurface** value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_SystemRelativeTime(TimeSpan* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_ContentSize(SizeInt32* value) = 0;
};

struct IGraphicsCaptureSession : IInspectable {
    static constexpr GUID iid = vers_guid(iids::session);
    virtual HRESULT STDMETHODCALLTYPE StartCapture() = 0;
};

struct IGraphicsCaptureSession2 : IInspectable {
    static constexpr GUID iid = vers_guid(iids::session2);
    virtual HRESULT STDMETHODCALLTYPE get_IsCursorCaptureEnabled(boolean* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_IsCursorCaptureEnabled(boolean value) = 0;
};

struct IGraphicsCaptureSession3 : IInspectable {
    static constexpr GUID iid = vers_guid(iids::session3);
    virtual HRESULT STDMETHODCALLTYPE get_IsBorderRequired(boolean* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_IsBorderRequired(boolean value) = 0;
};

// IInspectable's IID: the cross import libraries hold it only in a library we do not link.
inline constexpr GUID iid_inspectable = vers_guid(iids::inspectable);

}  // namespace capture::abi

// d3d11.dll: wraps a DXGI device as a runtime IDirect3DDevice (returned as IInspectable).
extern "C" HRESULT __stdcall CreateDirect3D11DeviceFromDXGIDevice(IDXGIDevice* dxgiDevice,
                                                                  IInspectable** graphicsDevice);
