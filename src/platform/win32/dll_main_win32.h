// What the library's entry point learned from the loader.
#pragma once

namespace tk571::platform::win32 {

// The library unloads because the process ends: the system has ended every
// other thread already.
bool ProcessEnding();

}  // namespace tk571::platform::win32
