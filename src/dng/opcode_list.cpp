#include "opcode_list.h"

#include "error.h"

#include <algorithm>

namespace dng {

namespace {

uint32_t BigEndian32(std::span<const uint8_t> b, size_t at)
{
    return (uint32_t(b[at]) << 24) | (uint32_t(b[at + 1]) << 16) | (uint32_t(b[at + 2]) << 8) | uint32_t(b[at + 3]);
}

} // namespace

void OpcodeList::Parse(std::span<const uint8_t> bytes)
{
    Clear();
    if (bytes.empty())
        return;
    if (bytes.size() < 4)
        ThrowBadFormat("opcode list too short");
    uint32_t count = BigEndian32(bytes, 0);
    if (count > kMaxOpcodes)
        ThrowBadFormat("too many opcodes");
    std::vector<Opcode> opcodes;
    size_t at = 4;
    for (uint32_t i = 0; i < count; ++i) {
        if (bytes.size() - at < 16)
            ThrowBadFormat("opcode list ends inside an opcode header");
        Opcode op;
        op.id = BigEndian32(bytes, at);
        op.dngVersion = BigEndian32(bytes, at + 4);
        op.flags = BigEndian32(bytes, at + 8);
        uint32_t paramBytes = BigEndian32(bytes, at + 12);
        at += 16;
        if (paramBytes > bytes.size() - at)
            ThrowBadFormat("opcode parameters run past the opcode list");
        op.params.assign(bytes.begin() + static_cast<ptrdiff_t>(at), bytes.begin() + static_cast<ptrdiff_t>(at + paramBytes));
        at += paramBytes;
        opcodes.push_back(std::move(op));
    }
    if (at != bytes.size())
        ThrowBadFormat("opcode sizes do not add up to the list's byte count");
    fBytes.assign(bytes.begin(), bytes.end());
    fOpcodes = std::move(opcodes);
}

void OpcodeList::Clear()
{
    fBytes.clear();
    fOpcodes.clear();
}

void OpcodeList::SetOpcodes(std::vector<Opcode> opcodes)
{
    std::vector<uint8_t> bytes;
    auto put = [&bytes](uint32_t v) {
        for (int shift = 24; shift >= 0; shift -= 8)
            bytes.push_back(static_cast<uint8_t>(v >> shift));
    };
    if (!opcodes.empty()) {
        put(static_cast<uint32_t>(opcodes.size()));
        for (const Opcode& op : opcodes) {
            put(op.id);
            put(op.dngVersion);
            put(op.flags);
            put(static_cast<uint32_t>(op.params.size()));
            bytes.insert(bytes.end(), op.params.begin(), op.params.end());
        }
    }
    fBytes = std::move(bytes);
    fOpcodes = std::move(opcodes);
}

uint32_t OpcodeList::MinVersion() const
{
    uint32_t v = 0;
    for (const Opcode& op : fOpcodes)
        if (!op.IsOptional())
            v = std::max(v, op.dngVersion);
    return v;
}

} // namespace dng
