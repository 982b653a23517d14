#pragma once

#include "driver/kernel/guard.h"
