// Processor and memory figures of the machine, for the run log's creation and
// stop reports.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tk571::platform {

struct MemoryStatus {
  uint32_t load_percent = 0;    // share of physical memory in use
  uint64_t total_physical = 0;  // bytes
  uint64_t available_physical = 0;
  uint64_t total_virtual = 0;  // address space of this process
  uint64_t available_virtual = 0;
};

// The processor's model name; when the system gives none, its vendor and
// family ("GenuineIntel" + "x86 Family 6 Model 158 Stepping 10"). nullopt
// when the system offers no processor description at all.
std::optional<std::string> ProcessorDescription();
// The same, from the text of /proc/cpuinfo and the machine name; exposed for
// tests.
std::optional<std::string> ProcessorDescriptionFromCpuinfo(std::string_view cpuinfo,
                                                           std::string_view machine);

// "Intel", "MIPS", "Aplha" (sic, the name hosts have always shown) or "PPC"
// for those processor families; the kernel's machine name for any other.
std::string ArchitectureName();
std::string ArchitectureNameOf(std::string_view machine);

// Zeroes where a figure cannot be read.
MemoryStatus ReadMemoryStatus();

}  // namespace tk571::platform
