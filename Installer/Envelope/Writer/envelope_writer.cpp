#include "envelope_writer.h"

#include <cstdint>
#include <stdexcept>
#include <iterator>

#include "envelope_reader.h"
#include "md5.h"

namespace envelope {

void CloseRecord(std::string& out, size_t payload_start) {
  const std::string_view payload = std::string_view(out).substr(payload_start);
  if (payload.size() > UINT32_MAX) throw std::length_error("record payload of 4 GiB or more");
  const auto length = static_cast<uint32_t>(payload.size());
  const std::string digest = Md5Hasher(payload).Digest();
  for (int i = 0; i < 4; ++i) out += static_cast<char>(length >> (8 * i));
  out += digest;
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
  AppendGroup(out, "stub", "stub");
}

void AppendFileGroup(std::string& out, std::string_view key, std::string_view name,
                     std::string_view contents) {
  AppendGroup(out, "file", key, {name, contents});
}

void AppendValueGroup(std::string& out, std::string_view key, std::string_view value) {
  AppendGroup(out, "value", key, {value});
}

void AppendTail(std::string& out) { AppendRecord(out, TailMarker()); }

}  // namespace envelope
