// The cost of judging a lens warp before a photo is opened or written: readers' tiles are mapped
// edge pixel by edge pixel on the colour image, then on the one-plane file at full size and at the
// nine half sizes. Measured for the three kinds of warp on a full-size D800 frame and on the
// largest frame a damaged header can claim.
#include "dng/byte_order.h"
#include "dng/opcode_limits.h"
#include "dng/warp_rectilinear.h"

#include <algorithm>
#include <bit>
#include <chrono>
#include <cstdio>
#include <vector>

namespace {

void Put32(std::vector<uint8_t>& out, uint32_t v)
{
    for (int i = 3; i >= 0; --i)
        out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

void PutDouble(std::vector<uint8_t>& out, double v)
{
    const auto bits = std::bit_cast<uint64_t>(v);
    for (int i = 7; i >= 0; --i)
        out.push_back(static_cast<uint8_t>(bits >> (8 * i)));
}

// Three coefficient sets of `set`, then the centre of the frame (and for WarpRectilinear2 a
// reciprocal flag of 0).
dng::Opcode Warp(uint32_t id, const std::vector<double>& set)
{
    dng::Opcode op;
    op.id = id;
    Put32(op.params, 3);
    for (int i = 0; i < 3; ++i)
        for (double v : set)
            PutDouble(op.params, v);
    PutDouble(op.params, 0.5);
    PutDouble(op.params, 0.5);
    if (id == dng::kOpcodeWarpRectilinear2)
        Put32(op.params, 0);
    return op;
}

} // namespace

int main()
{
    std::vector<double> r2(19, 0.0);
    r2[0] = 1.0, r2[2] = -0.01, r2[18] = 1.0;
    const struct {
        const char* name;
        dng::Opcode op;
    } warps[] = {
        {"WarpRectilinear", Warp(dng::kOpcodeWarpRectilinear, {1.0, -0.01, 0, 0, 0, 0})},
        {"WarpFisheye", Warp(dng::kOpcodeWarpFisheye, {1.0, 0, 0, 0})},
        {"WarpRectilinear2", Warp(dng::kOpcodeWarpRectilinear2, r2)},
    };
    const struct {
        int32_t width, height;
    } frames[] = {{7424, 4924}, {40000, 40000}};
    for (const auto& frame : frames) {
        for (const auto& warp : warps) {
            double fastest = 1e30;
            std::string problem;
            for (int run = 0; run < 3; ++run) {
                const auto t0 = std::chrono::steady_clock::now();
                problem = dng::OpcodeProblem(warp.op, frame.width, frame.height, 3, 1.0);
                const auto t1 = std::chrono::steady_clock::now();
                fastest = std::min(fastest, std::chrono::duration<double>(t1 - t0).count());
            }
            std::printf("%-17s %5d x %5d: %.3f s%s%s\n", warp.name, frame.width, frame.height, fastest,
                        problem.empty() ? "" : ", refused: ", problem.c_str());
        }
    }
}
