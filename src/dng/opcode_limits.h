// What a DNG reader accepts in the parameters of the opcodes it knows: byte counts that match
// the counts inside, finite numbers, centres and phases in their ranges, areas with a size and
// pitches of at least 1, and (WarpRectilinear) a warp that leaves every part of the image a
// source area. A file is written with the opcode lists of its source, so a source whose opcodes
// break these limits would give a file that readers refuse.
#pragma once

#include "opcode_list.h"

#include <cstdint>
#include <span>
#include <string>

namespace dng {

// Why a reader would refuse this opcode when it runs on an image of width x height pixels and
// `planes` planes whose pixels are pixelAspect times as wide as high; empty when it would not. An
// opcode that no DNG version defines may be skipped only when it is marked optional: a reader
// refuses a file that asks it to run one it cannot. A lens warp has one coefficient set for all
// planes or one for each. A WarpRectilinear on a colour image must also hold in the one-plane
// file made from it, at the image's size and at half of it.
std::string OpcodeProblem(const Opcode& opcode, int32_t width, int32_t height, uint32_t planes, double pixelAspect);

// The same for a whole stored list (the bytes of an OpcodeList tag), named `name` in the answer.
std::string OpcodeListProblem(std::span<const uint8_t> bytes, const char* name, int32_t width, int32_t height,
                              uint32_t planes, double pixelAspect);

} // namespace dng
