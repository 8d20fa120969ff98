// Appending envelope records and record groups to a stub, in the byte format
// the reader reads (see envelope_reader.h and envelope_walk.h).
//
// The reader reads from the end, so each group is written with its
// first-read record last. Build an installer as: the stub's bytes, then
// AppendStubGroup, the file and value groups (the last one written is read
// first, and wins when a key repeats), then AppendTail.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

namespace envelope {

// Appends one record: the payload, its length (32-bit little-endian) and its
// MD5 digest. Throws std::length_error for a payload of 4 GiB or more.
void AppendRecord(std::string& out, std::string_view payload);

// The length field and digest that close a record of `length` payload bytes
// whose MD5 digest is `digest`.
std::string RecordTrailer(uint32_t length, std::string_view digest);

// Closes the record whose payload is everything in `out` from
// `payload_start` on, by appending its length and digest.
void CloseRecord(std::string& out, size_t payload_start);

// Appends a group: the further records (given in the order the reader reads
// them, after the key), then the key, then the type, so that the type is read
// first.
void AppendGroup(std::string& out, std::string_view type, std::string_view key,
                 std::initializer_list<std::string_view> further = {});

// Makes all of `out` (the stub's bytes) the envelope's first record, the
// contents of the stub group, and appends the group's name, key and type.
void AppendStubGroup(std::string& out, std::string_view name);

void AppendFileGroup(std::string& out, std::string_view key, std::string_view name,
                     std::string_view contents);
void AppendValueGroup(std::string& out, std::string_view key, std::string_view value);

// Appends the tail record, which ends the envelope.
void AppendTail(std::string& out);

}  // namespace envelope
