// Tag records, tag addresses and the tag list.
#include "engine/base_dll_object.h"

namespace tk571 {

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

TDLLTag* TBaseDLLObject::FindTag(uint32_t tag_id) {
  const int32_t p = TagIndex_.Find(tag_id);
  return (p >= 0 && p < static_cast<int32_t>(Tags_.size()))
             ? Tags_[static_cast<std::size_t>(p)].get()
             : nullptr;
}

bool TBaseDLLObject::ValidTagValFrm(uint8_t, uint8_t) {
  return false;
}
int32_t TBaseDLLObject::GetChID(const std::string&, const std::string&, uint8_t) {
  return -1;
}
int32_t TBaseDLLObject::GetBitID(const std::string&, const std::string&, uint8_t) {
  return -1;
}
int32_t TBaseDLLObject::GetThirdSegID(const std::string&, const std::string&, uint8_t) {
  return 0;
}
int32_t TBaseDLLObject::GetFourSegID(const std::string&, const std::string&, uint8_t) {
  return 0;
}
int32_t TBaseDLLObject::GetFiveSegID(const std::string&, const std::string&, uint8_t) {
  return 0;
}
std::unique_ptr<TDLLTag> TBaseDLLObject::CreatInternalTag(const TTagInfo&) {
  return nullptr;
}
void TBaseDLLObject::GetTagTypeStr(const std::string&, const std::string&, std::string& out) {
  out.clear();
}
void TBaseDLLObject::CheckAddrValid(std::unique_ptr<TDLLTag>&) {}
bool TBaseDLLObject::CheckTagAddr(const TDevicePDB&, std::string&) {
  return false;
}
bool TBaseDLLObject::AddTagLists(const std::vector<const TTagInfo*>&, std::vector<int32_t>&) {
  return false;
}
bool TBaseDLLObject::IniTagList(const std::vector<const TTagInfo*>&) {
  return false;
}
int32_t TBaseDLLObject::GetTagTypeIndex(const std::string&, const std::string&) {
  return -1;
}
int32_t TBaseDLLObject::GetDevID(const std::string&, const std::string&) {
  return -1;
}

}  // namespace tk571
