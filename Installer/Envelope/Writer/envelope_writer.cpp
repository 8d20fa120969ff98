#include "envelope_writer.h"

#include <stdexcept>
#include <iterator>

#include "envelope_reader.h"
#include "envelope_walk.h"
#include "md5.h"

namespace envelope {

std::string RecordTrailer(uint32_t length, std::string_view digest) {
  std::string trailer;
  for (int i = 0; i < 4; ++i) trailer += static_cast<char>(length >> (8 * i));
  trailer += digest;
  return trailer;
}

void CloseRecord(std::string& out, size_t payload_start) {
  const std::string_view payload = std::string_view(out).substr(payload_start);
  if (payload.size() > UINT32_MAX) throw std::length_error("record payload of 4 GiB or more");
  out += RecordTrailer(static_cast<uint32_t>(payload.size()), Md5Hasher(payload).Digest());
}

void AppendRecord(std::string& out, std::string_view payload) {
  const size_t start = out.size();
  out += payload;
  CloseRecord(out, start);
}

void AppendGroup(std::string& out, std::string_view type, std::string_view key,
                 std::initializer_list<std::string_view> further) {
  for (auto record = std::rbegin(further); record != std::rend(further); ++record) {
    AppendRecord(out, *record);
  }
  AppendRecord(out, key);
  AppendRecord(out, type);
}

void AppendStubGroup(std::string& out, std::string_view name) {
  CloseRecord(out, 0);
  AppendRecord(out, name);
  AppendGroup(out, kStubGroupType, kStubGroupType);
}

void AppendFileGroup(std::string& out, std::string_view key, std::string_view name,
                     std::string_view contents) {
  AppendGroup(out, kFileGroupType, key, {name, contents});
}

void AppendValueGroup(std::string& out, std::string_view key, std::string_view value) {
  AppendGroup(out, kValueGroupType, key, {value});
}

void AppendTail(std::string& out) { AppendRecord(out, TailMarker()); }

}  // namespace envelope
