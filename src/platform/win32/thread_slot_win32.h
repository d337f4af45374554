// The Windows thread slots end with their threads through the library's entry
// point, which the loader calls for every thread that ends.
#pragma once

namespace tk571::platform::win32 {

// Destroys the calling thread's values of every live slot. Runs under the
// loader lock: a destructor must not wait for another thread.
void DestroyThreadValues();

}  // namespace tk571::platform::win32
