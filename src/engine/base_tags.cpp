// Tag records, tag addresses and the tag list.
#include <algorithm>
#include <exception>

#include "engine/address_text.h"
#include "engine/base_dll_object.h"
#include "engine/link_texts.h"
#include "engine/part_names.h"
#include "engine/run_log.h"
#include "engine/tag_address.h"
#include "engine/tag_info_reader.h"
#include "platform/clock.h"
#include "platform/gbk.h"

namespace tk571 {

namespace at = address_text;

namespace {

// Internal tags, recognised by the start of the address.
enum class InternalKind { kNone, kCommLink, kEnCommLink, kDeviceLink, kEnDeviceLink, kEnLog };

InternalKind InternalKindOf(const std::string& address, bool enlog_allowed) {
  // ENCOMMLINK and ENDEVICELINK are tested after COMMLINK and DEVICELINK, but
  // neither can be mistaken: no address begins with two of the words.
  if (at::StartsWithNoCase(address, "COMMLINK")) return InternalKind::kCommLink;
  if (at::StartsWithNoCase(address, "ENCOMMLINK")) return InternalKind::kEnCommLink;
  if (at::StartsWithNoCase(address, "DEVICELINK")) return InternalKind::kDeviceLink;
  if (at::StartsWithNoCase(address, "ENDEVICELINK")) return InternalKind::kEnDeviceLink;
  if (enlog_allowed && at::StartsWithNoCase(address, "ENLOG")) return InternalKind::kEnLog;
  return InternalKind::kNone;
}

// The device number of DEVICELINK n / ENDEVICELINK n; 0 when it is not a
// number in 0..99.
int32_t InternalDevice(std::string_view rest, bool up_to_colon) {
  if (up_to_colon) {
    if (const auto colon = at::FindColon(rest)) rest = rest.substr(0, colon->at);
  }
  const auto n = at::ParseInt(rest);
  return (n && *n >= 0 && *n < kDeviceCount) ? *n : 0;
}

// Stops the object when its tag list cannot be built to the end, before the
// exception line of the building operation is written.
class StopUnlessBuilt {
 public:
  explicit StopUnlessBuilt(TBaseDLLObject& object) : object_(object) {}
  ~StopUnlessBuilt() {
    if (std::uncaught_exceptions() > exceptions_) object_.Stop();
  }
  StopUnlessBuilt(const StopUnlessBuilt&) = delete;
  StopUnlessBuilt& operator=(const StopUnlessBuilt&) = delete;

 private:
  TBaseDLLObject& object_;
  const int exceptions_ = std::uncaught_exceptions();
};

}  // namespace

void TagIdIndex::Reset(std::size_t reserve) {
  dense_.assign(std::min<std::size_t>(reserve, kDenseLimit), -1);
  sparse_.clear();
}

void TagIdIndex::Set(uint32_t id, int32_t position) {
  if (id < kDenseLimit) {
    if (id >= dense_.size()) dense_.resize(static_cast<std::size_t>(id) + 1, -1);
    dense_[id] = position;
  } else {
    sparse_[id] = position;
  }
}

int32_t TagIdIndex::Find(uint32_t id) const {
  if (id < dense_.size()) return dense_[id];
  const auto it = sparse_.find(id);
  return it == sparse_.end() ? -1 : it->second;
}

TDLLTag* TBaseDLLObject::TagAt(int32_t position) const {
  return (position >= 0 && static_cast<std::size_t>(position) < Tags_.size())
             ? Tags_[static_cast<std::size_t>(position)].get()
             : nullptr;
}

TDLLTag* TBaseDLLObject::FindTag(uint32_t tag_id) {
  return TagAt(TagIndex_.Find(tag_id));
}

std::string TBaseDLLObject::TagPrefix(const std::string& name) const {
  return DateTimeText() + TK571_GBK("：标签") + name;
}

const TagTypeRow* TBaseDLLObject::TypeRow(int32_t type_index) const {
  const TagTypeTable types = TagTypes();
  return (type_index >= 0 && static_cast<std::size_t>(type_index) < types.size())
             ? &types[static_cast<std::size_t>(type_index)]
             : nullptr;
}

int32_t TBaseDLLObject::ChannelMinOf(uint8_t dev_type, int32_t type_index) const {
  const TagTypeRow* row = TypeRow(type_index);
  return (row && IsDeviceTypeRow(dev_type)) ? row->ChannelMin : kNoLimit;
}

int32_t TBaseDLLObject::ChannelMaxOf(uint8_t dev_type, int32_t type_index) const {
  const TagTypeRow* row = TypeRow(type_index);
  return (row && IsDeviceTypeRow(dev_type)) ? row->ChannelMax : kNoLimit;
}

void TBaseDLLObject::HintMissing(const std::string& name, const std::string& address,
                                 const std::string& part, int32_t fallback) {
  if (LogTraceOn())
    SetLogMsg(TagPrefix(name) + TK571_GBK("提示：地址=") + address + TK571_GBK("中缺少") + part +
              TK571_GBK("，系统采用缺省值") + std::to_string(fallback) + kCrLf);
}

void TBaseDLLObject::ReportIllegal(const std::string& name, const std::string& address,
                                   const std::string& joiner, const std::string& part) {
  if (LogErrorsOn())
    SetLogMsg(TagPrefix(name) + TK571_GBK("错误：标签地址") + address + joiner + part +
              TK571_GBK("非法。") + kCrLf);
}

int32_t TBaseDLLObject::NotedPart(const std::string& name, const std::string& address,
                                  const AddressPart& part, const std::string& part_name,
                                  const std::string& joiner) {
  if (part.note == AddressNote::kMissing) HintMissing(name, address, part_name, part.value);
  if (part.note == AddressNote::kIllegal) ReportIllegal(name, address, joiner, part_name);
  return part.value;
}

int32_t TBaseDLLObject::GetTagTypeIndex(const std::string&, const std::string& address) {
  return Guarded(this, "GetTagTypeIndex", -1,
                 [&] { return AddressTypeIndex(TagTypes(), address); });
}

void TBaseDLLObject::GetTagTypeStr(const std::string& name, const std::string& address,
                                   std::string& out) {
  out.clear();
  Guarded(this, "GetTagTypeStr", [&] {
    if (const TagTypeRow* row = TypeRow(GetTagTypeIndex(name, address)))
      out = std::string(row->Name);
  });
}

int32_t TBaseDLLObject::GetDevID(const std::string& name, const std::string& address) {
  return Guarded(this, "GetDevID", -1, [&] {
    return NotedPart(name, address, AddressDevice(TagTypes(), address, DefaultDevNo_),
                     DriverPartNames().DevIDName, TK571_GBK("中"));
  });
}

int32_t TBaseDLLObject::GetChID(const std::string& name, const std::string& address,
                                uint8_t dev_type) {
  return Guarded(this, "GetChID", -1, [&] {
    return NotedPart(name, address, AddressChannel(TagTypes(), address, dev_type),
                     DriverPartNames().ChIDName, TK571_GBK("的"));
  });
}

int32_t TBaseDLLObject::GetBitID(const std::string& name, const std::string& address,
                                 uint8_t dev_type) {
  return Guarded(this, "GetBitID", -1, [&] {
    return NotedPart(name, address, AddressBit(TagTypes(), address, dev_type),
                     DriverPartNames().BitIDName, TK571_GBK("的"));
  });
}

int32_t TBaseDLLObject::GetThirdSegID(const std::string& name, const std::string& address,
                                      uint8_t dev_type) {
  return Guarded(this, "GetThirdSegID", -1, [&] {
    return NotedPart(name, address, AddressSegment(TagTypes(), address, dev_type, 2),
                     DriverPartNames().ThirdSegIDName, TK571_GBK("的"));
  });
}

int32_t TBaseDLLObject::GetFourSegID(const std::string& name, const std::string& address,
                                     uint8_t dev_type) {
  return Guarded(this, "GetFourSegID", -1, [&] {
    return NotedPart(name, address, AddressSegment(TagTypes(), address, dev_type, 3),
                     DriverPartNames().FourSegIDName, TK571_GBK("的"));
  });
}

int32_t TBaseDLLObject::GetFiveSegID(const std::string& name, const std::string& address,
                                     uint8_t dev_type) {
  return Guarded(this, "GetFiveSegID", -1, [&] {
    return NotedPart(name, address, AddressSegment(TagTypes(), address, dev_type, 4),
                     DriverPartNames().FiveSegIDName, TK571_GBK("的"));
  });
}

std::unique_ptr<TDLLTag> TBaseDLLObject::CreatInternalTag(const TTagInfo& info) {
  return Guarded(this, "CreatInternalTag", std::unique_ptr<TDLLTag>(), [&] {
    auto tag = std::make_unique<TDLLTag>();
    tag->TagID = info.TagID;
    tag->Name = FieldText(info.Name, sizeof(info.Name));
    tag->Address = FieldText(info.Address, sizeof(info.Address));
    tag->DataKind = info.DataKind;
    tag->ScanTime = info.ScanTime;
    GetTagTypeStr(tag->Name, tag->Address, tag->TypeName);
    tag->TypeIndex = GetTagTypeIndex(tag->Name, tag->Address);
    tag->ChangeTick = platform::Tick();
    tag->DevNo = GetDevID(tag->Name, tag->Address);
    tag->DevType =
        (tag->DevNo >= 0 && tag->DevNo < kDeviceCount) ? Pdb_.TypeCode(tag->DevNo) : kEmptyTypeCode;
    tag->Channel = GetChID(tag->Name, tag->Address, tag->DevType);
    tag->BitNo = GetBitID(tag->Name, tag->Address, tag->DevType);
    tag->Seg3 = GetThirdSegID(tag->Name, tag->Address, tag->DevType);
    tag->Seg4 = GetFourSegID(tag->Name, tag->Address, tag->DevType);
    tag->Seg5 = GetFiveSegID(tag->Name, tag->Address, tag->DevType);
    if (const TagTypeRow* row = TypeRow(tag->TypeIndex)) {
      tag->FormatCode = row->FormatCode;
      tag->Writable = row->Writable;
    }
    tag->Value = InitialValueOf(info.InitialValue);
    if (tag->Value.IsEmpty()) {
      switch (tag->DataKind) {
        case TK571_VALUE_FLOAT:
          tag->Value = TagValue::Integer(0);
          tag->BitNo = 1;
          break;
        case TK571_VALUE_BOOL:
          tag->Value = TagValue::Boolean(false);
          break;
        case TK571_VALUE_STRING:
          tag->Value = TagValue::Text(std::string());
          tag->BitNo = 1;
          break;
        default:
          break;
      }
    }
    tag->ReportedValue = tag->Value;
    tag->SavedValue = tag->Value;
    // The host defines three data kinds; a value of any other kind could be
    // neither reported nor written.
    if (tag->DataKind > TK571_VALUE_STRING) {
      WriteDevMsg(TagPrefix(tag->Name) + TK571_GBK("错误：标签地址") + tag->Address +
                  TK571_GBK("的数据类型") + std::to_string(tag->DataKind) + TK571_GBK("无效。"));
      DropTag(tag);
    }
    return tag;
  });
}

void TBaseDLLObject::CheckAddrValid(std::unique_ptr<TDLLTag>& tag) {
  Guarded(this, "CheckAddrValid", [&] {
    if (!tag) return;
    const PartNames& names = DriverPartNames();
    const std::string head = TagPrefix(tag->Name) + TK571_GBK("错误：标签地址") + tag->Address;
    const std::string dev_name = (tag->DevNo >= 0 && tag->DevNo < kDeviceCount)
                                     ? DeviceTypeName(Pdb_.TypeCode(tag->DevNo))
                                     : std::string();
    const TagTypeRow* row = TypeRow(tag->TypeIndex);
    bool failed = true;
    if (!row) {
      WriteDevMsg(head + TK571_GBK("指定不存在的标签类型。"));
    } else if (!IsDeviceTypeRow(tag->DevType)) {
      WriteDevMsg(head + TK571_GBK("所指定的") + at::FourDigits(tag->DevNo) + TK571_GBK("号") +
                  names.DevTypeName + TK571_GBK("不存在。请在设备向导中添加该") +
                  names.DevTypeName + TK571_GBK("！") + kCrLf);
    } else if (tag->Channel == -1 && ChannelMinOf(tag->DevType, tag->TypeIndex) != kNoLimit) {
      WriteDevMsg(head + names.ChIDName + TK571_GBK("错误，") + dev_name +
                  TK571_GBK("不存在此标签。"));
    } else if (tag->BitNo == -1 && row->BitMin != kNoLimit) {
      WriteDevMsg(head + TK571_GBK("位号错误，") + dev_name + TK571_GBK("不存在此标签。"));
    } else {
      failed = false;
      const int32_t channel_min = ChannelMinOf(tag->DevType, tag->TypeIndex);
      const int32_t channel_max = ChannelMaxOf(tag->DevType, tag->TypeIndex);
      if (row->BitMax != kNoLimit && tag->BitNo > row->BitMax) {
        WriteDevMsg(head + TK571_GBK("的位号超出") + dev_name + TK571_GBK("的最大范围") +
                    std::to_string(row->BitMax));
        failed = true;
      }
      if (row->BitMin != kNoLimit && tag->BitNo < row->BitMin) {
        WriteDevMsg(head + TK571_GBK("的位号超出最小范围") + dev_name + TK571_GBK("的最小范围") +
                    std::to_string(row->BitMin));
        failed = true;
      }
      if (channel_max != kNoLimit && tag->Channel > channel_max) {
        WriteDevMsg(head + TK571_GBK("的") + names.ChIDName + TK571_GBK("超出") + dev_name +
                    TK571_GBK("的最大范围") + std::to_string(channel_max));
        failed = true;
      }
      if (channel_min != kNoLimit && tag->Channel < channel_min) {
        WriteDevMsg(head + TK571_GBK("的") + names.ChIDName + TK571_GBK("超出") + dev_name +
                    TK571_GBK("的最小范围") + std::to_string(channel_min));
        failed = true;
      }
    }
    if (failed) DropTag(tag);
  });
}

void TBaseDLLObject::DropTag(std::unique_ptr<TDLLTag>& tag) {
  const std::string name = tag->Name;
  tag.reset();
  SetLogMsg(DevMsg_ + kCrLf);
  SetLogMsg(TagPrefix(name) + TK571_GBK("错误报告：由于出现错误，系统在通讯时丢弃该标签！") +
            kCrLf);
}

void TBaseDLLObject::SetUpInternalTag(TDLLTag& tag, bool full_setup) {
  const PartNames& names = DriverPartNames();
  // At start ENLOG is no internal tag; appended definitions set up less.
  switch (InternalKindOf(tag.Address, !full_setup)) {
    case InternalKind::kCommLink:
      LastCommOK_ = false;
      if (!full_setup) break;
      LinkStatus_ = 0;
      tag.Writable = 0;
      if (tag.DataKind <= TK571_VALUE_STRING)
        tag.Value = LinkTagValue(LinkTagKind::kComm, tag.DataKind, 0);
      break;
    case InternalKind::kEnCommLink:
      CommEnabled_ = true;
      if (!full_setup) break;
      if (tag.DataKind <= TK571_VALUE_BOOL)
        tag.Value = LinkTagValue(LinkTagKind::kEnComm, tag.DataKind, 0);
      // Only the first text names the device; later ones show the switch.
      if (tag.DataKind == TK571_VALUE_STRING)
        tag.Value = TagValue::Text(names.DeviceName + CommEnabledText(CommEnabled_));
      break;
    case InternalKind::kDeviceLink: {
      const int32_t n = InternalDevice(std::string_view(tag.Address).substr(10), true);
      tag.DevNo = n;
      DevLinkStatus_[n] = 0;
      DevFailCount_[n] = 0xFFFFFFFFu;
      tag.Writable = 0;
      if (tag.DataKind <= TK571_VALUE_STRING)
        tag.Value = LinkTagValue(LinkTagKind::kDevice, tag.DataKind, n);
      break;
    }
    case InternalKind::kEnDeviceLink: {
      const int32_t n = InternalDevice(std::string_view(tag.Address).substr(12), false);
      tag.DevNo = n;
      DevInUse_[n] = 1;
      break;
    }
    case InternalKind::kEnLog:
      Log_.AssignEnLog(true);
      HasEnLogTag_ = true;
      break;
    case InternalKind::kNone:
      return;
  }
  tag.Internal = 1;
  tag.TypeName = at::Upper(tag.Address);
  tag.ReportedValue = tag.Value;
  tag.SavedValue = tag.Value;
}

void TBaseDLLObject::AppendTag(std::unique_ptr<TDLLTag> tag) {
  const auto position = static_cast<int32_t>(Tags_.size());
  TagIndex_.Set(tag->TagID, position);
  tag->Index = position;
  Tags_.push_back(std::move(tag));
  TagCount_ = static_cast<int32_t>(Tags_.size());
}

void TBaseDLLObject::BeginTagList(std::size_t count) {
  Tags_.clear();
  TagIndex_.Reset(count + 1);
  Initialized_ = true;
  Log_.AssignEnLog(true);
  LastCommOK_ = false;
  CommEnabled_ = true;
}

bool TBaseDLLObject::IniTagList(const std::vector<const TTagInfo*>& tags) {
  return Guarded(this, "IniTagList", false, [&] {
    const StopUnlessBuilt stop_unless_built(*this);
    if (Initialized_) Stop();
    ReleaseCommandLists();
    BeginTagList(tags.size());
    for (const TTagInfo* info : tags) {
      std::unique_ptr<TDLLTag> tag = CreatInternalTag(*info);
      if (!tag) continue;
      if (InternalKindOf(tag->Address, false) != InternalKind::kNone) {
        SetUpInternalTag(*tag, true);
      } else {
        CheckAddrValid(tag);
      }
      if (tag) AppendTag(std::move(tag));
    }
    if (Tags_.empty()) {
      Stop();
      SetLogMsg(DateTimeText() + TK571_GBK("：驱动程序加载失败：无合法标签！") + kCrLf);
      WriteCommEvent(TK571_GBK("驱动程序加载失败：无合法标签！") + kCrLf);
      TagCount_ = 0;
      return false;
    }
    Refresh();
    TagCount_ = static_cast<int32_t>(Tags_.size());
    return true;
  });
}

bool TBaseDLLObject::AddTagLists(const std::vector<const TTagInfo*>& tags,
                                 std::vector<int32_t>& rejected) {
  return Guarded(this, "AddTagLists", false, [&] {
    const StopUnlessBuilt stop_unless_built(*this);
    if (!Initialized_) {
      ReadCommands_.clear();
      BeginTagList(tags.size());
      Stopped_ = false;
    }
    rejected.assign(tags.size(), 0);
    bool any_rejected = false;
    for (std::size_t i = 0; i < tags.size(); ++i) {
      std::unique_ptr<TDLLTag> tag = CreatInternalTag(*tags[i]);
      if (tag) {
        // Appended definitions know ENLOG but not the device link tags.
        const InternalKind kind = InternalKindOf(tag->Address, true);
        if (kind == InternalKind::kCommLink || kind == InternalKind::kEnCommLink ||
            kind == InternalKind::kEnLog) {
          SetUpInternalTag(*tag, false);
        } else {
          CheckAddrValid(tag);
        }
      }
      if (tag) {
        AppendTag(std::move(tag));
      } else {
        rejected[i] = 1;
        any_rejected = true;
      }
    }
    if (Tags_.empty()) {
      Stop();
    } else {
      Refresh();
    }
    TagCount_ = static_cast<int32_t>(Tags_.size());
    return any_rejected;
  });
}

bool TBaseDLLObject::CheckTagAddr(const TDevicePDB& block, std::string& address) {
  return Guarded(this, "CheckTagAddr", false, [&] {
    const std::string none;
    const std::string original = address;
    const ParsedAddress parsed = ParseTagAddress(TagTypes(), original, DefaultDevNo_, block);
    const PartNames& names = DriverPartNames();
    NotedPart(none, original, parsed.device, names.DevIDName, TK571_GBK("中"));
    NotedPart(none, original, parsed.bit, names.BitIDName, TK571_GBK("的"));
    NotedPart(none, original, parsed.channel, names.ChIDName, TK571_GBK("的"));
    NotedPart(none, original, parsed.segments[0], names.ThirdSegIDName, TK571_GBK("的"));
    NotedPart(none, original, parsed.segments[1], names.FourSegIDName, TK571_GBK("的"));
    NotedPart(none, original, parsed.segments[2], names.FiveSegIDName, TK571_GBK("的"));
    address = parsed.normalised;
    return parsed.type_index != -1;
  });
}

}  // namespace tk571
