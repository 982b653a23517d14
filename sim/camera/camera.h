// The camera as the drivers see it over USB: the board firmware with its registers, memory and
// answer queue, the sensor of its model, and the frame transfer on the data endpoint.
//
// Frame transfer. CMD_FRAME_REQUEST starts a frame request: it discards whatever is left of a
// frame still on its way out (so a host that gave up on a frame never receives its tail at
// the start of the next one) and arms the board. CMD_READS_QUEUED on an armed board makes the
// request pending; a second CMD_FRAME_REQUEST before it merely re-arms. A pending request is
// served with exactly one frame once all of these hold:
//   - the camera was started (CMD_START_CONTROL with byte 1 non-zero) and the sensor streams
//     (Tern: out of reset; Heron, Egret: powered and released by CMD_SENSOR_CONTROL 0x20 and
//     0x60);
//   - free-running: the frame period has passed since the previous frame (at once when
//     unpaced); trigger mode (board register 11 equal to the model's trigger value): a trigger
//     pulse was taken and the exposure time has passed since it.
// The frame period and exposure time are what the sensor registers program, scaled so that the
// full window at the shortest exposure takes the pacing interval (CameraOptions).
// The frame is rendered at that moment from the scene and the registers then in effect
// (levels scaled by the programmed exposure and gain relative to the shortest exposure at gain
// code 0, what a driver with fresh settings programs), and
// holds frameBytes (board registers 0 to 3) bytes: the picture, then zero padding. A byte count
// of 0 serves the request with nothing. CMD_READS_QUEUED without an armed board is ignored.
//
// Trigger. A pulse exposes one frame: it goes out at once when a request is pending, else with
// the next request served. Pulses before that make no further frames; leaving trigger mode
// forgets a pulse not yet used.
//
// Answers. CMD_BOARD_READ, CMD_MEMORY_READ and (Heron, Egret) CMD_SENSOR_READ answer with two
// 64-byte packets on the response endpoint: a copy of the command, then the result from byte 0
// on. Unread answers queue up (at most 64 packets; the oldest go first). Commands a model does
// not know, and CMD_RAW, are logged and otherwise ignored.
//
// Thread safety: every member may be called from any thread. The data-ready callback runs
// without the camera's lock held, on the thread whose call made data ready (or the pacing
// thread of a paced camera on real time).
#pragma once

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "sim/camera/camera_model.h"
#include "sim/camera/command_log.h"
#include "sim/camera/frame_geometry.h"
#include "sim/camera/frame_stream.h"
#include "sim/camera/sensor.h"
#include "sim/imaging/rgb_image.h"
#include "sim/usb/device_model.h"

namespace sim::camera {

constexpr std::chrono::nanoseconds kFrameInterval30{33'333'333};

struct CameraOptions {
    // Least time between two free-running frames; zero sends each frame as soon as it is
    // requested (what tests use).
    std::chrono::nanoseconds frameInterval = kFrameInterval30;
    // Camera time stands at 0 and moves only by AdvanceTime; no pacing thread is started.
    bool manualTime = false;
    // Sensor noise: each lit sample moves by up to this many levels, from a seeded sequence.
    int noise = 0;
    uint32_t noiseSeed = 1;
};

struct CameraStatus {
    bool started = false;         // CMD_START_CONTROL received
    bool sensorStreaming = false; // sensor powered, out of reset, released
    bool triggerMode = false;
    bool requestPending = false;  // a frame request waits to be served
    bool triggerTaken = false;    // a trigger pulse waits for a request
    uint64_t bytesInTransit = 0;  // of the frame on the data endpoint
    uint64_t framesSent = 0;
    size_t answersQueued = 0;     // packets on the response endpoint
};

class Camera final : public usb::DeviceModel {
public:
    explicit Camera(Model model, CameraOptions options = {});
    ~Camera() override;
    Camera(const Camera&) = delete;
    Camera& operator=(const Camera&) = delete;

    // The bus side.
    std::vector<uint8_t> DeviceDescriptor() const override;
    std::vector<uint8_t> ConfigurationDescriptor(uint8_t index) const override;
    // Command endpoint only (anything else stalls). Each 64 bytes are one command packet; a
    // shorter packet reads as zero-filled.
    bool Out(uint8_t endpoint, const uint8_t* data, size_t length) override;
    // Response endpoint: at most one answer packet per call. Data endpoint: frame bytes.
    InResult In(uint8_t endpoint, uint8_t* data, size_t length) override;
    void SetDataReadyCallback(std::function<void()> callback) override;
    // Response endpoint: queued answers are dropped. Data endpoint: the frame in transit and
    // any frame request are dropped.
    void ResetEndpoint(uint8_t endpoint) override;

    Model model() const { return info_.model; }
    const ModelInfo& info() const { return info_; }

    // The scene in front of the lens. Any picture is fitted to the active area (FitToSensor);
    // the default is colour bars.
    void SetScene(const imaging::RgbImage& picture);
    std::shared_ptr<const imaging::RgbImage> Scene() const;

    // Trigger input; false when the camera is not in trigger mode (the pulse is ignored).
    bool FireTrigger();

    // Moves manual time on and serves a request that falls due; no effect on real time.
    void AdvanceTime(std::chrono::nanoseconds step);
    std::chrono::nanoseconds Now() const;
    // As the sensor registers program them, on the camera's clock (0 when unpaced).
    std::chrono::nanoseconds FramePeriod() const;
    std::chrono::nanoseconds ExposureTime() const;
    // The same in nominal frame periods, with the level scale; meaningful unpaced too.
    SensorTiming Timing() const;

    // What the camera believes: the read-out its registers program and the frame byte count.
    FrameGeometry Geometry() const;
    // The frame the camera would send now, and the picture it shows before the colour filter
    // (without noise).
    std::vector<uint8_t> ExpectedFrame() const;
    imaging::RgbImage ExpectedView() const;
    CameraStatus Status() const;

    // Test access; none of it appears in the command log.
    uint8_t BoardRegister(uint8_t reg) const;
    // As a host write, with its effects, but read-only registers take the value too.
    void SetBoardRegister(uint8_t reg, uint8_t value);
    void SetClockIndex(uint8_t index) { SetBoardRegister(board::kClockIndex, index); }
    // The 24-bit version in board registers 29 (high) to 31 (ModelInfo::firmwareVersion).
    void SetFirmwareVersion(uint32_t version);
    uint32_t SensorRegister(uint32_t address) const;
    void SetSensorRegister(uint32_t address, uint32_t value);
    uint8_t MemoryByte(uint16_t address) const;
    void WriteMemory(uint16_t address, const std::vector<uint8_t>& bytes);
    // Puts the camera in the state the model's start sequence leaves it in, with an upright
    // full read-out, so a frame read works without a driver: frame byte count, started,
    // sensor streaming.
    void PrepareStreaming(uint32_t frameBytes);

    std::vector<CommandRecord> CommandLog() const;
    void ClearCommandLog();
    // The sensor writes of the log, decoded in the model's encoding (packets the sensor would
    // not take are left out).
    std::vector<SensorWrite> SensorWriteLog() const;

private:
    static constexpr size_t kMaxAnswerPackets = 64;

    // What a picture rendered now starts from, taken together under the lock.
    struct RenderInput {
        std::shared_ptr<const imaging::RgbImage> scene;
        FrameGeometry geometry;
        double brightness = 1;
    };
    RenderInput CurrentRenderInput() const;

    std::chrono::nanoseconds NowLocked() const;
    bool TriggerModeLocked() const { return board_[board::kTrigger] == info_.triggerOn; }
    uint32_t FrameBytesLocked() const;
    FrameGeometry GeometryLocked() const;
    // Each returns true when it made data ready on an IN endpoint.
    bool ExecuteLocked(const CommandRecord& packet);
    bool WriteBoardLocked(uint8_t reg, uint8_t value, bool fromHost);
    void StoreFirmwareVersionLocked(uint32_t version);
    bool AnswerLocked(const CommandRecord& command, const uint8_t* result, size_t length);
    bool ServeLocked();
    std::optional<std::chrono::nanoseconds> PacingDeadlineLocked() const;
    std::chrono::nanoseconds ScaledLocked(double nominalFrames) const;
    std::shared_ptr<const std::vector<uint8_t>> PictureLocked(const FrameGeometry& geometry);
    void NotifyDataReady(std::unique_lock<std::mutex>& lock);
    void PacingLoop();

    const ModelInfo& info_;
    const CameraOptions options_;
    const std::chrono::steady_clock::time_point epoch_;

    mutable std::mutex mutex_;
    std::condition_variable wake_; // the pacing thread's
    std::unique_ptr<Sensor> sensor_;
    std::array<uint8_t, 256> board_{};
    std::vector<uint8_t> memory_;
    std::deque<std::array<uint8_t, kPacketSize>> answers_;
    std::vector<CommandRecord> log_;
    std::shared_ptr<const imaging::RgbImage> scene_;
    FrameStream stream_;
    // The last picture rendered, and the scene and read-out it was rendered from.
    std::shared_ptr<const imaging::RgbImage> renderedScene_;
    FrameGeometry renderedGeometry_;
    // Shared with the frames on their way out, so never changed in place: a change of
    // picture makes a new one.
    std::shared_ptr<const std::vector<uint8_t>> renderedPicture_;
    double renderedBrightness_ = 1;
    std::shared_ptr<const std::vector<uint8_t>> exposedPicture_; // at renderedBrightness_
    uint32_t noiseSeed_ = 1;
    std::chrono::nanoseconds triggerDue_{0}; // the taken pulse's frame leaves then
    std::function<void()> dataReady_;
    std::chrono::nanoseconds manualNow_{0};
    std::optional<std::chrono::nanoseconds> lastFrame_;
    uint64_t framesSent_ = 0;
    bool started_ = false;
    bool armed_ = false;
    bool pending_ = false;
    bool triggerTaken_ = false;
    bool stopping_ = false;
    std::thread pacer_;
};

} // namespace sim::camera
