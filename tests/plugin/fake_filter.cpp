#include "tests/plugin/fake_filter.h"

#include "plugin/class_ids.h"
#include "tests/plugin/plugin_module.h"

namespace zyn::test {
namespace {

// A Tern camera's driver right after start: the settings at their creation values and the
// model's constants.
std::map<DWORD, LONG> TernValues() {
    return {
        {CAMPROP_EXTRIGGER, 0},
        {CAMPROP_TIMEOUT, 3000},
        {CAMPROP_EXPOSURE, 64},
        {CAMPROP_EXPOSURE_MIN, 8},
        {CAMPROP_EXPOSURE_MAX, 1074},
        {CAMPROP_EXPOSURE_DEFAULT, 64},
        {CAMPROP_GAIN, 512},
        {CAMPROP_GAIN_MIN, 0},
        {CAMPROP_GAIN_MAX, 1023},
        {CAMPROP_GAIN_DEFAULT, 512},
        {CAMPROP_FLIP_H, 0},
        {CAMPROP_FLIP_V, 0},
        {CAMPROP_COLOR_ENABLE, 1},
        {CAMPROP_WHITE_BALANCE, 0},
        {CAMPROP_RED_GAIN, 128},
        {CAMPROP_GREEN_GAIN, 128},
        {CAMPROP_BLUE_GAIN, 128},
        {CAMPROP_RGB_GAIN_MIN, 1},
        {CAMPROP_RGB_GAIN_MAX, 512},
        {CAMPROP_RGB_GAIN_DEFAULT, 128},
        {CAMPROP_BRIGHTNESS, 255},
        {CAMPROP_BRIGHTNESS_MIN, 0},
        {CAMPROP_BRIGHTNESS_MAX, 510},
        {CAMPROP_BRIGHTNESS_DEFAULT, 255},
        {CAMPROP_CONTRAST, 10},
        {CAMPROP_CONTRAST_MIN, 0},
        {CAMPROP_CONTRAST_MAX, 20},
        {CAMPROP_CONTRAST_DEFAULT, 10},
        {CAMPROP_SATURATION, 10},
        {CAMPROP_SATURATION_MIN, 0},
        {CAMPROP_SATURATION_MAX, 20},
        {CAMPROP_SATURATION_DEFAULT, 10},
        {CAMPROP_HUE, 0},
        {CAMPROP_HUE_MIN, 0},
        {CAMPROP_HUE_MAX, 359},
        {CAMPROP_HUE_DEFAULT, 0},
        {CAMPROP_SUBSAMPLE_STEPS, 0},
        {CAMPROP_SUBSAMPLE, 0},
        {CAMPROP_SENSOR_WIDTH, 1360},
        {CAMPROP_SENSOR_HEIGHT, 1024},
        {CAMPROP_ROI_X, 0},
        {CAMPROP_ROI_Y, 0},
        {CAMPROP_ROI_WIDTH, 1360},
        {CAMPROP_ROI_HEIGHT, 1024},
        {CAMPROP_REGION, 0},
        {CAMPROP_REGION_LOCKED, 0},
        {CAMPROP_EXTRIGGER_AVAILABLE, 1},
        {CAMPROP_RESERVED_47, 0},
        {CAMPROP_COLOR_CORRECTION, 1},
        {CAMPROP_CLOCK, 0},
        {CAMPROP_CLOCK_SELECTABLE, 0},
        {CAMPROP_FLIP_H_AVAILABLE, 1},
        {CAMPROP_FLIP_V_AVAILABLE, 1},
        {CAMPROP_AGC_AVAILABLE, 0},
        {CAMPROP_AEC_AVAILABLE, 0},
        {CAMPROP_AGC, 0},
        {CAMPROP_AEC, 0},
        {CAMPROP_REGISTER_SHADOW, 0},
        {CAMPROP_COLOR_GAIN_MIN, 0},
        {CAMPROP_COLOR_GAIN_MAX, 0},
        {CAMPROP_COLOR_GAIN_RED, 0},
        {CAMPROP_COLOR_GAIN_GREEN1, 0},
        {CAMPROP_COLOR_GAIN_GREEN2, 0},
        {CAMPROP_COLOR_GAIN_BLUE, 0},
        {CAMPROP_RELOAD_SETTINGS, 0},
        {CAMPROP_COLOR_GAIN_DIALOG, 0},
    };
}

// A Heron camera: larger sensor and ranges, one sub-sampling step, a region off the origin.
std::map<DWORD, LONG> HeronValues() {
    std::map<DWORD, LONG> values = TernValues();
    for (DWORD id = CAMPROP_COLOR_GAIN_MIN; id <= CAMPROP_COLOR_GAIN_DIALOG; ++id)
        values.erase(id);
    values[CAMPROP_EXPOSURE] = 2048;
    values[CAMPROP_EXPOSURE_MIN] = 1;
    values[CAMPROP_EXPOSURE_MAX] = 32767;
    values[CAMPROP_EXPOSURE_DEFAULT] = 2048;
    values[CAMPROP_GAIN] = 0;
    values[CAMPROP_GAIN_MAX] = 480;
    values[CAMPROP_GAIN_DEFAULT] = 0;
    values[CAMPROP_RGB_GAIN_MAX] = 255;
    values[CAMPROP_SUBSAMPLE_STEPS] = 1;
    values[CAMPROP_SENSOR_WIDTH] = 2448;
    values[CAMPROP_SENSOR_HEIGHT] = 2048;
    values[CAMPROP_ROI_X] = 100;
    values[CAMPROP_ROI_Y] = 200;
    values[CAMPROP_ROI_WIDTH] = 1024;
    values[CAMPROP_ROI_HEIGHT] = 768;
    return values;
}

} // namespace

FakeFilter::FakeFilter(DriverModel model, bool offersPropertySet) : OuterFilter(offersPropertySet) {
    switch (model) {
    case DriverModel::Tern:
        values = TernValues();
        idCount = 69;
        break;
    case DriverModel::Heron:
        values = HeronValues();
        idCount = 61;
        break;
    case DriverModel::Silent:
        failure = HRESULT_FROM_WIN32(ERROR_GEN_FAILURE);
        break;
    }
}

FakeFilter* FakeFilter::Create(DriverModel model, bool offersPropertySet) {
    return new FakeFilter(model, offersPropertySet);
}

std::vector<std::pair<DWORD, LONG>> FakeFilter::Sets() const {
    std::vector<std::pair<DWORD, LONG>> sets;
    for (const PropertyCall& call : calls) {
        if (call.set)
            sets.emplace_back(call.id, call.Field(24));
    }
    return sets;
}

std::vector<DWORD> FakeFilter::Gets() const {
    std::vector<DWORD> gets;
    for (const PropertyCall& call : calls) {
        if (!call.set)
            gets.push_back(call.id);
    }
    return gets;
}

bool FakeFilter::Answers(REFGUID set, DWORD id) const {
    return IsEqualGUID(set, KSPROPSETID_CameraSettings) && id < idCount;
}

void FakeFilter::Record(bool set, REFGUID propertySet, DWORD id, void* instance,
                        DWORD instanceLength, void* data, DWORD dataLength) {
    PropertyCall call{set, propertySet, id, {}, dataLength, instance == data};
    const auto* bytes = static_cast<const uint8_t*>(instance);
    call.record.assign(bytes, bytes + instanceLength);
    calls.push_back(std::move(call));
}

HRESULT STDMETHODCALLTYPE FakeFilter::Set(REFGUID set, DWORD id, void* instance,
                                          DWORD instanceLength, void* data, DWORD dataLength) {
    Record(true, set, id, instance, instanceLength, data, dataLength);
    if (!Answers(set, id))
        return failure;
    if (dataLength >= 28 && id != CAMPROP_REGION)
        values[id] = calls.back().Field(24);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FakeFilter::Get(REFGUID set, DWORD id, void* instance,
                                          DWORD instanceLength, void* data, DWORD dataLength,
                                          DWORD* returned) {
    Record(false, set, id, instance, instanceLength, data, dataLength);
    const auto value = values.find(id);
    if (!Answers(set, id) || value == values.end() || dataLength < 28)
        return failure;
    std::memcpy(static_cast<uint8_t*>(data) + 24, &value->second, sizeof(LONG));
    if (returned)
        *returned = dataLength;
    return S_OK;
}

} // namespace zyn::test
