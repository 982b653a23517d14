// Class ids and names of the two classes OculixZYN.ax serves.
#pragma once

#include <windows.h>

#include "oculix_zyn_properties.h"

namespace zyn {

// {408FCBCD-EDF2-4556-A8C7-4186A40170AC}
inline constexpr CLSID CLSID_OculixZYNPropertyPage = {
    0x408FCBCD, 0xEDF2, 0x4556, {0xA8, 0xC7, 0x41, 0x86, 0xA4, 0x01, 0x70, 0xAC}};

// The kernel streaming proxy creates the handler of a property set by using the set's id as
// the class id, so the extension object's class id is the property set's id.
inline constexpr CLSID CLSID_OculixZYNExtension = {STATIC_KSPROPSETID_CameraSettings};

inline constexpr const wchar_t kPropertyPageName[] = L"Oculix ZYN Property Page";
inline constexpr const wchar_t kExtensionName[] = L"Oculix ZYN DS Extension Interface";

} // namespace zyn
