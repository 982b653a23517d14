// Starts a system thread and waits for it to end through its object, as a driver does.
#pragma once

#include <gtest/gtest.h>

#include "sim/wdk/sim_wdk.h"

namespace sim::testing {

inline void RunSystemThread(PKSTART_ROUTINE routine, PVOID context) {
    HANDLE handle;
    ASSERT_EQ(PsCreateSystemThread(&handle, THREAD_ALL_ACCESS, nullptr, nullptr, nullptr, routine,
                                   context),
              STATUS_SUCCESS);
    PVOID thread;
    ASSERT_EQ(ObReferenceObjectByHandle(handle, THREAD_ALL_ACCESS, *PsThreadType, KernelMode,
                                        &thread, nullptr),
              STATUS_SUCCESS);
    EXPECT_EQ(ZwClose(handle), STATUS_SUCCESS);
    EXPECT_EQ(KeWaitForSingleObject(thread, Executive, KernelMode, FALSE, nullptr),
              STATUS_SUCCESS);
    ObDereferenceObject(thread);
}

} // namespace sim::testing
