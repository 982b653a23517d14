#pragma once

#include "driver/wdk.h"
