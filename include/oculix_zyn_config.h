/* IOculixZYNDSConfig: the extension interface that OculixZYN.ax adds to the capture filter of
 * every Oculix ZYN camera. An application obtains it with QueryInterface on the capture filter
 * and reads and writes the camera settings of oculix_zyn_properties.h through it; every call
 * becomes one property request to the driver, which validates and clamps the values.
 *
 * Usable from C and C++. The method order is part of the interface's contract. */
#ifndef OCULIX_ZYN_CONFIG_H
#define OCULIX_ZYN_CONFIG_H

#include <objbase.h>

#include "oculix_zyn_properties.h"

/* The interface id is the property set's id. */
static const IID IID_IOculixZYNDSConfig = {STATIC_KSPROPSETID_CameraSettings};

#undef INTERFACE
#define INTERFACE IOculixZYNDSConfig
DECLARE_INTERFACE_(IOculixZYNDSConfig, IUnknown) {
    /* IUnknown, answered by the capture filter. */
    STDMETHOD(QueryInterface)(THIS_ REFIID riid, void** object) PURE;
    STDMETHOD_(ULONG, AddRef)(THIS) PURE;
    STDMETHOD_(ULONG, Release)(THIS) PURE;

    /* Reads property `id` (a CameraPropertyId). *value goes in as the value to keep when the
     * driver does not answer and comes back as the property's value; the driver's failure is
     * returned unchanged. */
    STDMETHOD(GetProperty)(THIS_ ULONG id, LONG * value) PURE;
    /* Writes property `id`; the driver clamps the value to the camera's limits. */
    STDMETHOD(SetProperty)(THIS_ ULONG id, LONG value) PURE;
    /* Sets sub-sampling (0 full resolution, 1 skip 2x, 2 skip 4x, 3 skip 8x) and the region of
     * interest in sensor pixels. Refused by the driver while the capture pin exists. */
    STDMETHOD(SetRegion)(THIS_ LONG subSample, LONG x, LONG y, LONG width, LONG height) PURE;
};
#undef INTERFACE

#if defined(__cplusplus) && defined(__CRT_UUID_DECL)
__CRT_UUID_DECL(IOculixZYNDSConfig, 0x3F263C66, 0x0FDA, 0x41D5, 0x9E, 0xA8, 0xCF, 0x2E, 0x34, 0x2C,
                0xEF, 0xB2)
#endif

#if !defined(__cplusplus) || defined(CINTERFACE)
#define IOculixZYNDSConfig_QueryInterface(p, a, b) (p)->lpVtbl->QueryInterface(p, a, b)
#define IOculixZYNDSConfig_AddRef(p) (p)->lpVtbl->AddRef(p)
#define IOculixZYNDSConfig_Release(p) (p)->lpVtbl->Release(p)
#define IOculixZYNDSConfig_GetProperty(p, a, b) (p)->lpVtbl->GetProperty(p, a, b)
#define IOculixZYNDSConfig_SetProperty(p, a, b) (p)->lpVtbl->SetProperty(p, a, b)
#define IOculixZYNDSConfig_SetRegion(p, a, b, c, d, e) (p)->lpVtbl->SetRegion(p, a, b, c, d, e)
#endif

#endif /* OCULIX_ZYN_CONFIG_H */
