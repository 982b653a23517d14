/* The simulated PC as a Windows DLL for the plug-in's end-to-end tests: an emulated Tern camera
 * on the simulated USB bus, the Tern driver loaded through its entry point on the simulated
 * kernel and kernel streaming class driver, and the camera's capture filter opened, as the
 * kernel streaming proxy finds it. Its interface is plain C so that the test program, which
 * sees the Windows headers, and the simulated platform, which declares the kernel's names
 * itself, never share a translation unit.
 *
 * One PC at a time; every call is made from one thread. Statuses are NTSTATUS values. */
#ifndef ZYN_SIMULATED_PC_H
#define ZYN_SIMULATED_PC_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(ZYN_SIMULATED_PC_BUILD)
#define ZYN_SIMULATED_PC_API __declspec(dllexport)
#else
#define ZYN_SIMULATED_PC_API __declspec(dllimport)
#endif

/* The driver's settings record of the camera, as the device context holds it now. */
typedef struct ZynSimSettings {
    int32_t ExTrigger;
    int32_t Timeout;
    int32_t Exposure;
    int32_t GlobalGain;
    int32_t FlipH;
    int32_t FlipV;
    int32_t ColorEnable;
    int32_t WhiteBalance;
    int32_t RedGain;
    int32_t GreenGain;
    int32_t BlueGain;
    int32_t ColorCorrection;
    int32_t Brightness;
    int32_t Contrast;
    int32_t Saturation;
    int32_t Hue;
    int32_t SubSample;
    int32_t RoiX;
    int32_t RoiY;
    int32_t RoiW;
    int32_t RoiH;
    int32_t OutputWidth;
    int32_t OutputHeight;
    int32_t PinOpen;
} ZynSimSettings;

/* A sensor register write as the camera decoded it. */
typedef struct ZynSimSensorWrite {
    uint32_t index;
    uint32_t value;
} ZynSimSensorWrite;

/* Starts from an empty registry, loads the Tern driver image, plugs the camera in, adds and
 * starts the device and opens its filter. Returns the first failure, 0 on success. */
ZYN_SIMULATED_PC_API int32_t ZynSimOpen(void);
/* Closes the pin and the filter, stops and removes the device, unplugs the camera and unloads
 * the image; the pool blocks and kernel objects still live then are verifier failures. */
ZYN_SIMULATED_PC_API void ZynSimClose(void);

/* A property request on the filter, as IOCTL_KS_PROPERTY brings it: `property` is the
 * KSPROPERTY header with any instance data behind it, `data` the property buffer. The byte
 * count the driver reported goes to `returned`. */
ZYN_SIMULATED_PC_API int32_t ZynSimProperty(const void* property, uint32_t propertyLength,
                                            void* data, uint32_t dataLength, uint32_t* returned);

/* Creates the capture pin in the format the filter offers first, and closes it. */
ZYN_SIMULATED_PC_API int32_t ZynSimOpenPin(void);
ZYN_SIMULATED_PC_API void ZynSimClosePin(void);

/* The size of the capture format the filter offers now. */
ZYN_SIMULATED_PC_API int32_t ZynSimCaptureSize(int32_t* width, int32_t* height);

/* The driver's settings record; 0 when no device is there. */
ZYN_SIMULATED_PC_API int32_t ZynSimSettingsNow(ZynSimSettings* settings);
/* A DWORD of the camera's Settings key in the registry (kept after ZynSimClose); 0 when the
 * value is missing. */
ZYN_SIMULATED_PC_API int32_t ZynSimStoredSetting(const char* name, uint32_t* value);

/* The camera's side: a sensor register as the sensor holds it, a board register, and the
 * sensor writes received since the log was last cleared (returns the count; copies at most
 * `capacity`). */
ZYN_SIMULATED_PC_API uint32_t ZynSimSensorRegister(uint32_t index);
ZYN_SIMULATED_PC_API uint32_t ZynSimBoardRegister(uint32_t index);
ZYN_SIMULATED_PC_API uint32_t ZynSimSensorWrites(ZynSimSensorWrite* writes, uint32_t capacity);
ZYN_SIMULATED_PC_API void ZynSimClearCommandLog(void);

/* Verifier failures (rules of the platform broken, leaks) since ZynSimOpen: returns the count
 * and copies the messages, one a line, into `text` (cut to `capacity` bytes, terminated). */
ZYN_SIMULATED_PC_API uint32_t ZynSimVerifierFailures(char* text, uint32_t capacity);

#ifdef __cplusplus
}
#endif

#endif
