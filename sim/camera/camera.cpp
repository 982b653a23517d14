#include "sim/camera/camera.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "sim/camera/exposure_levels.h"
#include "sim/camera/frame_render.h"
#include "sim/camera/scene_fit.h"
#include "sim/camera/usb_descriptors.h"
#include "sim/imaging/scenes.h"

namespace sim::camera {
namespace {

constexpr size_t kMemorySize = 0x10000;

// The board memory's contents at power-on: no two neighbouring addresses alike, and the high
// byte of the address matters, so a wrong or byte-swapped address reads a different value.
uint8_t MemoryPattern(uint32_t address) {
    return static_cast<uint8_t>(((address ^ (address >> 8)) * 0x9D + (address >> 8) + 0x3B) & 0xFF);
}

} // namespace

Camera::Camera(Model model, CameraOptions options)
    : info_(Info(model)),
      options_(options),
      epoch_(std::chrono::steady_clock::now()),
      sensor_(MakeSensor(model)),
      memory_(kMemorySize),
      scene_(std::make_shared<const imaging::RgbImage>(
          imaging::ColorBars(info_.sensorWidth, info_.sensorHeight))),
      noiseSeed_(options.noiseSeed) {
    for (uint32_t a = 0; a < kMemorySize; ++a) {
        memory_[a] = MemoryPattern(a);
    }
    if (info_.hasFirmwareVersion) {
        StoreFirmwareVersionLocked(info_.firmwareVersion);
    }
    if (options_.frameInterval.count() > 0 && !options_.manualTime) {
        pacer_ = std::thread([this] { PacingLoop(); });
    }
}

Camera::~Camera() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    if (pacer_.joinable()) {
        pacer_.join();
    }
}

std::vector<uint8_t> Camera::DeviceDescriptor() const {
    return BuildDeviceDescriptor(info_);
}

std::vector<uint8_t> Camera::ConfigurationDescriptor(uint8_t index) const {
    if (index != 0) {
        return {};
    }
    return BuildConfigurationDescriptor();
}

bool Camera::Out(uint8_t endpoint, const uint8_t* data, size_t length) {
    if (endpoint != kCommandEndpoint) {
        return false;
    }
    std::unique_lock<std::mutex> lock(mutex_);
    bool ready = false;
    for (size_t offset = 0; offset < length; offset += kPacketSize) {
        CommandRecord record;
        record.time = NowLocked();
        record.length = static_cast<uint8_t>(std::min(kPacketSize, length - offset));
        std::memcpy(record.bytes.data(), data + offset, record.length);
        log_.push_back(record);
        ready |= ExecuteLocked(record);
    }
    wake_.notify_all();
    if (ready) {
        NotifyDataReady(lock);
    }
    return true;
}

usb::DeviceModel::InResult Camera::In(uint8_t endpoint, uint8_t* data, size_t length) {
    std::lock_guard<std::mutex> lock(mutex_);
    InResult result;
    if (endpoint == kResponseEndpoint) {
        if (answers_.empty() || length == 0) {
            return result;
        }
        // One answer packet per transfer: shorter than the endpoint's packet size, it ends it.
        result.bytes = std::min(length, kPacketSize);
        std::memcpy(data, answers_.front().data(), result.bytes);
        answers_.pop_front();
        result.shortPacket = true;
    } else if (endpoint == kDataEndpoint) {
        result = stream_.Read(data, length);
    }
    return result;
}

void Camera::SetDataReadyCallback(std::function<void()> callback) {
    std::lock_guard<std::mutex> lock(mutex_);
    dataReady_ = std::move(callback);
}

void Camera::ResetEndpoint(uint8_t endpoint) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (endpoint == kResponseEndpoint) {
        answers_.clear();
    } else if (endpoint == kDataEndpoint) {
        stream_.Clear();
        armed_ = pending_ = false;
    }
}

void Camera::SetScene(const imaging::RgbImage& picture) {
    auto fitted = std::make_shared<const imaging::RgbImage>(
        FitToSensor(picture, info_.sensorWidth, info_.sensorHeight));
    std::lock_guard<std::mutex> lock(mutex_);
    scene_ = std::move(fitted);
}

std::shared_ptr<const imaging::RgbImage> Camera::Scene() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return scene_;
}

bool Camera::FireTrigger() {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!TriggerModeLocked()) {
        return false;
    }
    if (!triggerTaken_) {
        triggerTaken_ = true;
        triggerDue_ = NowLocked() + ScaledLocked(sensor_->Timing().exposureTime);
    }
    if (ServeLocked()) {
        NotifyDataReady(lock);
    }
    wake_.notify_all();
    return true;
}

void Camera::AdvanceTime(std::chrono::nanoseconds step) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!options_.manualTime || step.count() <= 0) {
        return;
    }
    manualNow_ += step;
    if (ServeLocked()) {
        NotifyDataReady(lock);
    }
}

std::chrono::nanoseconds Camera::Now() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return NowLocked();
}

std::chrono::nanoseconds Camera::FramePeriod() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return ScaledLocked(sensor_->Timing().framePeriod);
}

std::chrono::nanoseconds Camera::ExposureTime() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return ScaledLocked(sensor_->Timing().exposureTime);
}

SensorTiming Camera::Timing() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return sensor_->Timing();
}

FrameGeometry Camera::Geometry() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return GeometryLocked();
}

Camera::RenderInput Camera::CurrentRenderInput() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return {scene_, GeometryLocked(), sensor_->Timing().brightness};
}

std::vector<uint8_t> Camera::ExpectedFrame() const {
    const RenderInput input = CurrentRenderInput();
    std::vector<uint8_t> frame = RenderRawFrame(*input.scene, input.geometry);
    if (input.brightness != 1) {
        ScaleLevels(frame.data(), frame.size(), input.brightness, 0, nullptr);
    }
    return frame;
}

imaging::RgbImage Camera::ExpectedView() const {
    const RenderInput input = CurrentRenderInput();
    imaging::RgbImage view = RenderView(*input.scene, input.geometry);
    if (input.brightness != 1) {
        ScaleLevels(view.pixels.data(), view.pixels.size(), input.brightness, 0, nullptr);
    }
    return view;
}

CameraStatus Camera::Status() const {
    std::lock_guard<std::mutex> lock(mutex_);
    CameraStatus s;
    s.started = started_;
    s.sensorStreaming = sensor_->Streaming();
    s.triggerMode = TriggerModeLocked();
    s.requestPending = armed_ && pending_;
    s.triggerTaken = triggerTaken_;
    s.bytesInTransit = stream_.Remaining();
    s.framesSent = framesSent_;
    s.answersQueued = answers_.size();
    return s;
}

uint8_t Camera::BoardRegister(uint8_t reg) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return board_[reg];
}

void Camera::SetBoardRegister(uint8_t reg, uint8_t value) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (WriteBoardLocked(reg, value, false)) {
        NotifyDataReady(lock);
    }
    wake_.notify_all();
}

void Camera::SetFirmwareVersion(uint32_t version) {
    std::lock_guard<std::mutex> lock(mutex_);
    StoreFirmwareVersionLocked(version);
}

uint32_t Camera::SensorRegister(uint32_t address) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return sensor_->Register(address);
}

void Camera::SetSensorRegister(uint32_t address, uint32_t value) {
    std::lock_guard<std::mutex> lock(mutex_);
    sensor_->Write(address, value);
}

uint8_t Camera::MemoryByte(uint16_t address) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return memory_[address];
}

void Camera::WriteMemory(uint16_t address, const std::vector<uint8_t>& bytes) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (size_t i = 0; i < bytes.size(); ++i) {
        memory_[(address + i) % kMemorySize] = bytes[i];
    }
}

void Camera::PrepareStreaming(uint32_t frameBytes) {
    std::unique_lock<std::mutex> lock(mutex_);
    for (uint8_t i = 0; i < 4; ++i) {
        board_[board::kFrameBytes0 + i] = static_cast<uint8_t>(frameBytes >> (8 * i));
    }
    started_ = true;
    sensor_->StartStreaming();
    if (ServeLocked()) {
        NotifyDataReady(lock);
    }
    wake_.notify_all();
}

std::vector<CommandRecord> Camera::CommandLog() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return log_;
}

void Camera::ClearCommandLog() {
    std::lock_guard<std::mutex> lock(mutex_);
    log_.clear();
}

std::vector<SensorWrite> Camera::SensorWriteLog() const {
    std::vector<SensorWrite> writes;
    for (const CommandRecord& record : CommandLog()) {
        SensorWrite write;
        if (record.code() == CMD_SENSOR_WRITE && sensor_->DecodeWrite(record.bytes.data(), write)) {
            writes.push_back(write);
        }
    }
    return writes;
}

std::chrono::nanoseconds Camera::NowLocked() const {
    if (options_.manualTime) {
        return manualNow_;
    }
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() -
                                                                epoch_);
}

uint32_t Camera::FrameBytesLocked() const {
    return static_cast<uint32_t>(board_[0]) | static_cast<uint32_t>(board_[1]) << 8 |
           static_cast<uint32_t>(board_[2]) << 16 | static_cast<uint32_t>(board_[3]) << 24;
}

FrameGeometry Camera::GeometryLocked() const {
    FrameGeometry g = sensor_->Geometry();
    g.frameBytes = FrameBytesLocked();
    return g;
}

bool Camera::ExecuteLocked(const CommandRecord& command) {
    const uint8_t* p = command.bytes.data();
    switch (command.code()) {
    case CMD_FRAME_REQUEST:
        stream_.Clear();
        armed_ = true;
        pending_ = false;
        return false;
    case CMD_READS_QUEUED:
        if (!armed_) {
            return false;
        }
        pending_ = true;
        return ServeLocked();
    case CMD_SENSOR_WRITE: {
        SensorWrite write;
        if (sensor_->DecodeWrite(p, write)) {
            sensor_->Write(write.address, write.value);
        }
        return false;
    }
    case CMD_START_CONTROL:
        started_ = p[1] != 0;
        return ServeLocked();
    case CMD_SENSOR_READ: {
        if (!info_.hasSensorRead) {
            return false;
        }
        const uint8_t value = static_cast<uint8_t>(sensor_->Register(uint32_t{p[1]} << 8 | p[2]));
        return AnswerLocked(command, &value, 1);
    }
    case CMD_SENSOR_CONTROL:
        if (!info_.hasSensorRead) {
            return false;
        }
        sensor_->Control(p[1], p[2]);
        return ServeLocked();
    case CMD_BOARD_WRITE:
        return WriteBoardLocked(p[1], p[2], true);
    case CMD_BOARD_READ:
        return AnswerLocked(command, &board_[p[1]], 1);
    case CMD_MEMORY_READ: {
        // Only the board memory space reads; anything else answers zeros so the host is never
        // left waiting for an answer.
        uint8_t bytes[kPacketSize] = {};
        const size_t count = std::clamp<size_t>(p[3], 1, kPacketSize);
        if (p[1] == kMemorySpace0 && p[2] == kMemorySpace1) {
            const uint32_t address = uint32_t{p[4]} << 8 | p[5];
            for (size_t i = 0; i < count; ++i) {
                bytes[i] = memory_[(address + i) % kMemorySize];
            }
        }
        return AnswerLocked(command, bytes, count);
    }
    default: // CMD_INIT_BEGIN, CMD_RAW and unknown codes: nothing to do beyond the log
        return false;
    }
}

bool Camera::WriteBoardLocked(uint8_t reg, uint8_t value, bool fromHost) {
    if (fromHost) {
        if (reg == board::kClockIndex && !info_.clockSelectable) {
            return false;
        }
        if (info_.hasFirmwareVersion && reg >= board::kVersionHigh && reg <= board::kVersionLow) {
            return false;
        }
    }
    board_[reg] = value;
    if (reg == board::kSensorReset) {
        sensor_->HoldInReset(value & 1);
    }
    if (reg == board::kTrigger && !TriggerModeLocked()) {
        triggerTaken_ = false;
    }
    return ServeLocked();
}

void Camera::StoreFirmwareVersionLocked(uint32_t version) {
    board_[board::kVersionHigh] = static_cast<uint8_t>(version >> 16);
    board_[board::kVersionHigh + 1] = static_cast<uint8_t>(version >> 8);
    board_[board::kVersionLow] = static_cast<uint8_t>(version);
}

bool Camera::AnswerLocked(const CommandRecord& command, const uint8_t* result, size_t length) {
    std::array<uint8_t, kPacketSize> second{};
    std::memcpy(second.data(), result, std::min(length, kPacketSize));
    answers_.push_back(command.bytes);
    answers_.push_back(second);
    while (answers_.size() > kMaxAnswerPackets) {
        answers_.pop_front();
    }
    return true;
}

bool Camera::ServeLocked() {
    if (!armed_ || !pending_ || !started_ || !sensor_->Streaming()) {
        return false;
    }
    const std::chrono::nanoseconds now = NowLocked();
    if (TriggerModeLocked()) {
        if (!triggerTaken_ || now < triggerDue_) {
            return false;
        }
        triggerTaken_ = false;
    } else if (const auto deadline = PacingDeadlineLocked(); deadline && now < *deadline) {
        return false;
    }
    armed_ = pending_ = false;
    const FrameGeometry geometry = GeometryLocked();
    if (geometry.frameBytes == 0) {
        return false;
    }
    stream_ = FrameStream(PictureLocked(geometry), geometry.frameBytes, kBulkPacketSize);
    lastFrame_ = now;
    ++framesSent_;
    return true;
}

// A still scene seen through unchanged registers gives the same picture every frame: it is
// rendered once and sent as copies, so the emulator costs the host little more than a real
// camera would (the transfer), and streaming measures the driver rather than the renderer.
std::shared_ptr<const std::vector<uint8_t>> Camera::PictureLocked(const FrameGeometry& geometry) {
    const FrameGeometry& last = renderedGeometry_;
    const bool same = renderedPicture_ != nullptr && renderedScene_ == scene_ &&
                      last.windowX == geometry.windowX && last.windowY == geometry.windowY &&
                      last.windowWidth == geometry.windowWidth &&
                      last.windowHeight == geometry.windowHeight &&
                      last.subSample == geometry.subSample && last.mirrored == geometry.mirrored &&
                      last.flipped == geometry.flipped && last.phase == geometry.phase &&
                      last.width == geometry.width && last.lines == geometry.lines &&
                      last.pitch == geometry.pitch && last.frameBytes == geometry.frameBytes;
    const double brightness = sensor_->Timing().brightness;
    if (!same) {
        renderedPicture_ =
            std::make_shared<const std::vector<uint8_t>>(RenderPicture(*scene_, geometry));
        renderedScene_ = scene_;
        renderedGeometry_ = geometry;
        exposedPicture_.reset();
    }
    // The default exposure and gain leave the picture as rendered; another setting costs one
    // table pass when it changes, and noise one pass per frame.
    if (brightness != 1 && (exposedPicture_ == nullptr || brightness != renderedBrightness_)) {
        auto exposed = std::make_shared<std::vector<uint8_t>>(*renderedPicture_);
        ScaleLevels(exposed->data(), exposed->size(), brightness, 0, nullptr);
        exposedPicture_ = std::move(exposed);
    }
    renderedBrightness_ = brightness;
    const std::shared_ptr<const std::vector<uint8_t>>& picture =
        brightness != 1 ? exposedPicture_ : renderedPicture_;
    if (options_.noise > 0) {
        auto noisy = std::make_shared<std::vector<uint8_t>>(*picture);
        ScaleLevels(noisy->data(), noisy->size(), 1, options_.noise, &noiseSeed_);
        return noisy;
    }
    return picture;
}

std::chrono::nanoseconds Camera::ScaledLocked(double nominalFrames) const {
    return std::chrono::nanoseconds(
        std::llround(static_cast<double>(options_.frameInterval.count()) * nominalFrames));
}

std::optional<std::chrono::nanoseconds> Camera::PacingDeadlineLocked() const {
    if (TriggerModeLocked()) {
        if (triggerTaken_ && triggerDue_ > NowLocked()) {
            return triggerDue_;
        }
        return std::nullopt;
    }
    if (options_.frameInterval.count() <= 0 || !lastFrame_) {
        return std::nullopt;
    }
    return *lastFrame_ + ScaledLocked(sensor_->Timing().framePeriod);
}

void Camera::NotifyDataReady(std::unique_lock<std::mutex>& lock) {
    std::function<void()> callback = dataReady_;
    lock.unlock();
    if (callback) {
        callback();
    }
    lock.lock();
}

void Camera::PacingLoop() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!stopping_) {
        if (ServeLocked()) {
            NotifyDataReady(lock);
            continue;
        }
        const auto deadline = PacingDeadlineLocked();
        if (armed_ && pending_ && deadline && NowLocked() < *deadline) {
            wake_.wait_until(lock, epoch_ + *deadline);
        } else {
            wake_.wait(lock);
        }
    }
}

} // namespace sim::camera
