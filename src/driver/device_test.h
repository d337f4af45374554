// The device test behind DLLTestDev: a silent probe or the interactive test
// window, both driving the calling thread's driver object through the
// ordinary entry points.
#pragma once

namespace tk571 {

// Runs the test on a private copy of the host's block; the thread's driver
// object that the test started is destroyed afterwards.
bool RunDeviceTest(const void* host_block, bool interactive);

}  // namespace tk571
