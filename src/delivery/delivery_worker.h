// The one background thread: takes events out of the queue, oldest first,
// and posts each to the endpoint, up to four attempts with pauses of 1, 2
// and 4 seconds. All network waiting happens here, never on the client's
// thread.
#pragma once

#include <stdint.h>

#include "capture/stand_event.h"
#include "platform/win32.h"

struct BridgeCore;

const uint32_t kAttemptsPerEvent = 4;
const DWORD kIdleWaitMs = 1000;
const uint32_t kHeaderBlockCapacity = 512;

// The thread routine; its argument is the plug-in's BridgeCore. Returns when
// it sees the stop flag, giving back the module reference taken for it.
DWORD WINAPI RunDeliveryWorker(void *core);

// The loop of RunDeliveryWorker without the thread's start and end.
void DeliverUntilStopped(BridgeCore &core);

// One attempt: builds the body, opens session, connection and request,
// posts, reads the status. Success is a status of 200..299. `status` stays
// 0 when none was read. Every handle is closed before it returns.
bool AttemptDelivery(const BridgeCore &core, const StandEvent &event, uint32_t &status);

// "Content-Type: application/json\r\nAuthorization: Bearer <token>\r\n";
// returns its length in units without the NUL.
uint32_t BuildHeaderBlock(WCHAR (&block)[kHeaderBlockCapacity], const WCHAR *token);
