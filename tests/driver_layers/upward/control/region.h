#pragma once

#include "driver/core/device.h"
