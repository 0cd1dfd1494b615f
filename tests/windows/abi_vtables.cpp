// One call per hand-declared method: abi_vtables.sh compiles this with the cross compiler and
// checks the vtable offset each call goes through against the interfaces' published order.
#include "capture/wgc_abi_windows.hpp"
using namespace capture::abi;
#define F(n) extern "C" __attribute__((noinline)) void n
F(item_interop)(IGraphicsCaptureItemInterop* p) { p->CreateForWindow(nullptr, IGraphicsCaptureItem::iid, nullptr); }
F(item_size)(IGraphicsCaptureItem* p) {
    SizeInt32 s;
    p->get_Size(&s);
}
F(item_add_closed)(IGraphicsCaptureItem* p) { p->add_Closed(nullptr, nullptr); }
F(item_remove_closed)(IGraphicsCaptureItem* p) { p->remove_Closed(EventRegistrationToken{}); }
F(statics_cft)(IDirect3D11CaptureFramePoolStatics2* p) {
    p->CreateFreeThreaded(nullptr, DirectXPixelFormat_B8G8R8A8UIntNormalized, 3, SizeInt32{1, 2}, nullptr);
}
F(pool_recreate)(IDirect3D11CaptureFramePool* p) {
    p->Recreate(nullptr, DirectXPixelFormat_B8G8R8A8UIntNormalized, 3, SizeInt32{1, 2});
}
F(pool_try)(IDirect3D11CaptureFramePool* p) { p->TryGetNextFrame(nullptr); }
F(pool_add)(IDirect3D11CaptureFramePool* p) { p->add_FrameArrived(nullptr, nullptr); }
F(pool_remove)(IDirect3D11CaptureFramePool* p) { p->remove_FrameArrived(EventRegistrationToken{}); }
F(pool_session)(IDirect3D11CaptureFramePool* p) { p->CreateCaptureSession(nullptr, nullptr); }
F(frame_surface)(IDirect3D11CaptureFrame* p) { p->get_Surface(nullptr); }
F(frame_content)(IDirect3D11CaptureFrame* p) { p->get_ContentSize(nullptr); }
F(session_start)(IGraphicsCaptureSession* p) { p->StartCapture(); }
F(session2_put)(IGraphicsCaptureSession2* p) { p->put_IsCursorCaptureEnabled(0); }
F(session3_put)(IGraphicsCaptureSession3* p) { p->put_IsBorderRequired(0); }
F(closable_close)(IClosable* p) { p->Close(); }
F(access_get)(IDirect3DDxgiInterfaceAccess* p) { p->GetInterface(IClosable::iid, nullptr); }
F(fa_invoke)(IGestionnaireFrameArrived* p) { p->Invoke(nullptr, nullptr); }
F(cl_invoke)(IGestionnaireClosed* p) { p->Invoke(nullptr, nullptr); }
