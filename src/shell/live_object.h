// The module-level record of which plug-in object the client holds.
#pragma once

class CBridgePlugIn;

// Called by the shutdown: once an object is torn down, the exit function
// must not tear it down again, whichever of the two the client used first.
void ForgetLiveObject(CBridgePlugIn *object);
