#include "tools/common/property_catalog.h"

#include <array>
#include <cctype>
#include <cstdlib>

#include "oculix_zyn_properties.h"

namespace zyn::tools {

namespace {

PropertyInfo Plain(uint32_t id, const char* name) {
    return {id, name, {}, {}, {}};
}
PropertyInfo Ranged(uint32_t id, const char* name, uint32_t minimum, uint32_t maximum,
                    uint32_t preset) {
    return {id, name, minimum, maximum, preset};
}

const std::array<PropertyInfo, kPropertyIdCount>& Catalog() {
    static const std::array<PropertyInfo, kPropertyIdCount> catalog = {
        Plain(CAMPROP_EXTRIGGER, "extrigger"),
        Plain(CAMPROP_TIMEOUT, "timeout"),
        Ranged(CAMPROP_EXPOSURE, "exposure", CAMPROP_EXPOSURE_MIN, CAMPROP_EXPOSURE_MAX,
               CAMPROP_EXPOSURE_DEFAULT),
        Plain(CAMPROP_EXPOSURE_MIN, "exposure_min"),
        Plain(CAMPROP_EXPOSURE_MAX, "exposure_max"),
        Plain(CAMPROP_EXPOSURE_DEFAULT, "exposure_default"),
        Ranged(CAMPROP_GAIN, "gain", CAMPROP_GAIN_MIN, CAMPROP_GAIN_MAX, CAMPROP_GAIN_DEFAULT),
        Plain(CAMPROP_GAIN_MIN, "gain_min"),
        Plain(CAMPROP_GAIN_MAX, "gain_max"),
        Plain(CAMPROP_GAIN_DEFAULT, "gain_default"),
        Plain(CAMPROP_FLIP_H, "flip_h"),
        Plain(CAMPROP_FLIP_V, "flip_v"),
        Plain(CAMPROP_COLOR_ENABLE, "color_enable"),
        Plain(CAMPROP_WHITE_BALANCE, "white_balance"),
        Ranged(CAMPROP_RED_GAIN, "red_gain", CAMPROP_RGB_GAIN_MIN, CAMPROP_RGB_GAIN_MAX,
               CAMPROP_RGB_GAIN_DEFAULT),
        Ranged(CAMPROP_GREEN_GAIN, "green_gain", CAMPROP_RGB_GAIN_MIN, CAMPROP_RGB_GAIN_MAX,
               CAMPROP_RGB_GAIN_DEFAULT),
        Ranged(CAMPROP_BLUE_GAIN, "blue_gain", CAMPROP_RGB_GAIN_MIN, CAMPROP_RGB_GAIN_MAX,
               CAMPROP_RGB_GAIN_DEFAULT),
        Plain(CAMPROP_RGB_GAIN_MIN, "rgb_gain_min"),
        Plain(CAMPROP_RGB_GAIN_MAX, "rgb_gain_max"),
        Plain(CAMPROP_RGB_GAIN_DEFAULT, "rgb_gain_default"),
        Ranged(CAMPROP_BRIGHTNESS, "brightness", CAMPROP_BRIGHTNESS_MIN, CAMPROP_BRIGHTNESS_MAX,
               CAMPROP_BRIGHTNESS_DEFAULT),
        Plain(CAMPROP_BRIGHTNESS_MIN, "brightness_min"),
        Plain(CAMPROP_BRIGHTNESS_MAX, "brightness_max"),
        Plain(CAMPROP_BRIGHTNESS_DEFAULT, "brightness_default"),
        Ranged(CAMPROP_CONTRAST, "contrast", CAMPROP_CONTRAST_MIN, CAMPROP_CONTRAST_MAX,
               CAMPROP_CONTRAST_DEFAULT),
        Plain(CAMPROP_CONTRAST_MIN, "contrast_min"),
        Plain(CAMPROP_CONTRAST_MAX, "contrast_max"),
        Plain(CAMPROP_CONTRAST_DEFAULT, "contrast_default"),
        Ranged(CAMPROP_SATURATION, "saturation", CAMPROP_SATURATION_MIN, CAMPROP_SATURATION_MAX,
               CAMPROP_SATURATION_DEFAULT),
        Plain(CAMPROP_SATURATION_MIN, "saturation_min"),
        Plain(CAMPROP_SATURATION_MAX, "saturation_max"),
        Plain(CAMPROP_SATURATION_DEFAULT, "saturation_default"),
        Ranged(CAMPROP_HUE, "hue", CAMPROP_HUE_MIN, CAMPROP_HUE_MAX, CAMPROP_HUE_DEFAULT),
        Plain(CAMPROP_HUE_MIN, "hue_min"),
        Plain(CAMPROP_HUE_MAX, "hue_max"),
        Plain(CAMPROP_HUE_DEFAULT, "hue_default"),
        Plain(CAMPROP_SUBSAMPLE_STEPS, "subsample_steps"),
        Plain(CAMPROP_SUBSAMPLE, "subsample"),
        Plain(CAMPROP_SENSOR_WIDTH, "sensor_width"),
        Plain(CAMPROP_SENSOR_HEIGHT, "sensor_height"),
        Plain(CAMPROP_ROI_X, "roi_x"),
        Plain(CAMPROP_ROI_Y, "roi_y"),
        Plain(CAMPROP_ROI_WIDTH, "roi_width"),
        Plain(CAMPROP_ROI_HEIGHT, "roi_height"),
        Plain(CAMPROP_REGION, "region"),
        Plain(CAMPROP_REGION_LOCKED, "region_locked"),
        Plain(CAMPROP_EXTRIGGER_AVAILABLE, "extrigger_available"),
        Plain(CAMPROP_RESERVED_47, "reserved_47"),
        Plain(CAMPROP_COLOR_CORRECTION, "color_correction"),
        Plain(CAMPROP_CLOCK, "clock"),
        Plain(CAMPROP_CLOCK_SELECTABLE, "clock_selectable"),
        Plain(CAMPROP_FLIP_H_AVAILABLE, "flip_h_available"),
        Plain(CAMPROP_FLIP_V_AVAILABLE, "flip_v_available"),
        Plain(CAMPROP_AGC_AVAILABLE, "agc_available"),
        Plain(CAMPROP_AEC_AVAILABLE, "aec_available"),
        Plain(CAMPROP_AGC, "agc"),
        Plain(CAMPROP_AEC, "aec"),
        Plain(CAMPROP_SENSOR_REGISTER, "sensor_register"),
        Plain(CAMPROP_REGISTER_SHADOW, "register_shadow"),
        Plain(CAMPROP_RAW_COMMAND, "raw_command"),
        Plain(CAMPROP_MEMORY_BYTE, "memory_byte"),
        Plain(CAMPROP_COLOR_GAIN_MIN, "color_gain_min"),
        Plain(CAMPROP_COLOR_GAIN_MAX, "color_gain_max"),
        Plain(CAMPROP_COLOR_GAIN_RED, "color_gain_red"),
        Plain(CAMPROP_COLOR_GAIN_GREEN1, "color_gain_green1"),
        Plain(CAMPROP_COLOR_GAIN_GREEN2, "color_gain_green2"),
        Plain(CAMPROP_COLOR_GAIN_BLUE, "color_gain_blue"),
        Plain(CAMPROP_RELOAD_SETTINGS, "reload_settings"),
        Plain(CAMPROP_COLOR_GAIN_DIALOG, "color_gain_dialog"),
        Plain(CAMPROP_DOT, "dot"),
        Plain(CAMPROP_DOT_THRESHOLD, "dot_threshold"),
    };
    return catalog;
}

} // namespace

const PropertyInfo& Property(uint32_t id) {
    return Catalog().at(id);
}

const PropertyInfo* FindProperty(const std::string& nameOrId) {
    if (nameOrId.empty()) {
        return nullptr;
    }
    std::string lower;
    for (char c : nameOrId) {
        lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    if (lower.rfind("camprop_", 0) == 0) {
        lower.erase(0, 8);
    }
    for (const PropertyInfo& info : Catalog()) {
        if (lower == info.name) {
            return &info;
        }
    }
    char* end = nullptr;
    const unsigned long id = std::strtoul(lower.c_str(), &end, 10);
    if (std::isdigit(static_cast<unsigned char>(lower[0])) && *end == '\0' &&
        id < kPropertyIdCount) {
        return &Catalog()[id];
    }
    return nullptr;
}

} // namespace zyn::tools
