// Kernel events. A notification event stays signalled until reset and releases every waiter;
// a synchronization event releases one waiter and resets itself.
#pragma once

#include "sim/wdk/dispatcher.h"

typedef enum _EVENT_TYPE { NotificationEvent, SynchronizationEvent } EVENT_TYPE;

typedef struct _KEVENT {
    DISPATCHER_HEADER Header;
} KEVENT, *PKEVENT, *PRKEVENT;

#define IO_NO_INCREMENT 0
#define EVENT_INCREMENT 1

VOID KeInitializeEvent(PRKEVENT event, EVENT_TYPE type, BOOLEAN state);
// The previous state.
LONG KeSetEvent(PRKEVENT event, LONG increment, BOOLEAN wait);
LONG KeResetEvent(PRKEVENT event);
VOID KeClearEvent(PRKEVENT event);
LONG KeReadStateEvent(PRKEVENT event);
