// The Windows thread slots end with their threads through the library's entry
// point, which the loader calls for every thread that ends.
#pragma once

namespace tk571::platform::win32 {

// Hands the calling thread's values of every live slot to their destructors,
// which run on a thread of their own: this runs under the loader lock.
void DestroyThreadValues();

}  // namespace tk571::platform::win32
