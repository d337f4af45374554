#include <sys/resource.h>
#include <sys/sysinfo.h>
#include <sys/utsname.h>

#include <algorithm>
#include <cstdlib>
#include <optional>

#include "platform/files.h"
#include "platform/system_info.h"

namespace tk571::platform {
namespace {

constexpr std::size_t kProcFileMaxBytes = 1 << 20;

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) {
    s.remove_suffix(1);
  }
  return s;
}

// The value of the first "name : value" line of a /proc text.
std::optional<std::string> ProcField(std::string_view text, std::string_view name) {
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view line = text.substr(pos, end - pos);
    pos = end + 1;
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos) continue;
    if (Trim(line.substr(0, colon)) == name) return std::string(Trim(line.substr(colon + 1)));
  }
  return std::nullopt;
}

std::string MachineName() {
  utsname names{};
  if (uname(&names) != 0) return std::string();
  return names.machine;
}

bool IsX86(std::string_view machine) {
  return machine == "x86_64" || machine == "amd64" ||
         (machine.size() == 4 && machine[0] == 'i' && machine.substr(2) == "86");
}

// "/proc/meminfo" gives kB.
std::optional<uint64_t> MeminfoBytes(std::string_view meminfo, std::string_view name) {
  const std::optional<std::string> field = ProcField(meminfo, name);
  if (!field) return std::nullopt;
  char* end = nullptr;
  const unsigned long long kb = std::strtoull(field->c_str(), &end, 10);
  if (end == field->c_str()) return std::nullopt;
  return static_cast<uint64_t>(kb) * 1024u;
}

// The user address space the kernel gives a process when no limit is set.
uint64_t DefaultAddressSpace(std::string_view machine) {
  if constexpr (sizeof(void*) == 4) {
    return uint64_t{3} << 30;
  } else {
    if (machine == "aarch64") return uint64_t{1} << 48;
    return uint64_t{1} << 47;
  }
}

}  // namespace

std::optional<std::string> ProcessorDescriptionFromCpuinfo(std::string_view cpuinfo,
                                                           std::string_view machine) {
  if (auto model = ProcField(cpuinfo, "model name"); model && !model->empty()) return model;
  // No model name: the vendor followed by the family, in the form Windows
  // shows for its processor identifier.
  std::string vendor = ProcField(cpuinfo, "vendor_id").value_or("");
  if (vendor.empty()) vendor = ProcField(cpuinfo, "CPU implementer").value_or("");
  std::string family;
  if (auto f = ProcField(cpuinfo, "cpu family")) {
    family = std::string(IsX86(machine) ? "x86" : machine) + " Family " + *f;
    if (auto m = ProcField(cpuinfo, "model")) family += " Model " + *m;
    if (auto s = ProcField(cpuinfo, "stepping")) family += " Stepping " + *s;
  } else if (auto a = ProcField(cpuinfo, "CPU architecture")) {
    family = std::string(machine) + " Family " + *a;
    if (auto p = ProcField(cpuinfo, "CPU part")) family += " Model " + *p;
    if (auto r = ProcField(cpuinfo, "CPU revision")) family += " Revision " + *r;
  } else if (auto c = ProcField(cpuinfo, "cpu")) {
    family = *c;  // PowerPC and others name the processor here
  }
  return vendor + family;
}

std::optional<std::string> ProcessorDescription() {
  const std::optional<std::string> cpuinfo = ReadFileHead("/proc/cpuinfo", kProcFileMaxBytes);
  if (!cpuinfo || cpuinfo->empty()) return std::nullopt;
  return ProcessorDescriptionFromCpuinfo(*cpuinfo, MachineName());
}

std::string ArchitectureNameOf(std::string_view machine) {
  if (IsX86(machine)) return "Intel";
  if (machine.substr(0, 4) == "mips") return "MIPS";
  if (machine.substr(0, 5) == "alpha") return "Aplha";
  if (machine.substr(0, 3) == "ppc" || machine.substr(0, 7) == "powerpc") return "PPC";
  return std::string(machine);
}

std::string ArchitectureName() {
  return ArchitectureNameOf(MachineName());
}

MemoryStatus ReadMemoryStatus() {
  MemoryStatus status;
  struct sysinfo info {};
  if (sysinfo(&info) == 0) {
    const uint64_t unit = info.mem_unit ? info.mem_unit : 1;
    status.total_physical = static_cast<uint64_t>(info.totalram) * unit;
    status.available_physical =
        (static_cast<uint64_t>(info.freeram) + static_cast<uint64_t>(info.bufferram)) * unit;
  }
  // MemAvailable counts the page cache the kernel can give back, which is
  // what "available" means to a user.
  if (const auto meminfo = ReadFileHead("/proc/meminfo", kProcFileMaxBytes)) {
    if (auto total = MeminfoBytes(*meminfo, "MemTotal")) status.total_physical = *total;
    if (auto avail = MeminfoBytes(*meminfo, "MemAvailable")) status.available_physical = *avail;
  }
  status.available_physical = std::min(status.available_physical, status.total_physical);
  if (status.total_physical > 0) {
    const uint64_t used = status.total_physical - status.available_physical;
    status.load_percent =
        static_cast<uint32_t>((used * 100u + status.total_physical / 2) / status.total_physical);
  }

  rlimit limit{};
  if (getrlimit(RLIMIT_AS, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY) {
    status.total_virtual = static_cast<uint64_t>(limit.rlim_cur);
  } else {
    status.total_virtual = DefaultAddressSpace(MachineName());
  }
  uint64_t in_use = 0;
  if (const auto self = ReadFileHead("/proc/self/status", kProcFileMaxBytes)) {
    in_use = MeminfoBytes(*self, "VmSize").value_or(0);
  }
  status.available_virtual = status.total_virtual > in_use ? status.total_virtual - in_use : 0;
  return status;
}

}  // namespace tk571::platform
