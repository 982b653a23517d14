#pragma once

#include "driver/control/region.h"
