// The row table the interpolation passes read while they rewrite the stage-1 image, and the G2
// equalisation some bodies need: their two kinds of green photosites answer light differently,
// which shows as a fine maze pattern after interpolation unless the G2 sites are evened out.
#include "vrel_negative.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace engine {

namespace {

// White level of plane 0; a negative without linearization info has the full 16-bit range.
double WhiteLevelOf(const dng::LinearizationInfo* lin)
{
    return lin ? lin->fWhiteLevel[0] : 65535.0;
}

} // namespace

void VrelNegative::CopyBufferToRows(RowTable& rows, const dng::Image& buffer) const
{
    const dng::ConstView16 src = buffer.ConstView16Of(0);
    const int32_t h = std::min(rows.Height(), src.height);
    const int32_t w = std::min(rows.Width(), src.width);
    for (int32_t r = 0; r < h; ++r) {
        const uint16_t* s = src.Row(r);
        std::copy(s, s + w, rows.Row(r));
    }
}

// Pulls a G2 photosite to the mean of the diagonal G1 pair that varies least (both pairs when
// they vary alike), but only where the neighbourhood is smooth: every spread must stay below a
// threshold proportional to the photosite's brightness, and the photosite must not be darker
// than its upper-right G1 neighbour. Reads the buffer, writes only G2 entries of the table.
void VrelNegative::EqualizeG2Pixels(RowTable& rows, const dng::Image& buffer, int32_t value, bool verticalCheck) const
{
    const dng::ConstView16 src = buffer.ConstView16Of(0);
    const int32_t h = std::min(rows.Height(), src.height);
    const int32_t w = std::min(rows.Width(), src.width);
    const double q0 = double(value) / WhiteLevelOf(GetLinearizationInfo());

    // The predicates depend on the row and column parity only; ask them once per phase.
    bool g2[2][2];
    for (int32_t py = 0; py < 2; ++py)
        for (int32_t px = 0; px < 2; ++px)
            g2[py][px] = IsG2Pixel(px, py);

    // Rows 3 .. h-2 and columns 3 .. w-3: the diagonal and vertical neighbours lie inside.
    for (int32_t r = 3; r <= h - 2; ++r) {
        const uint16_t* up = src.Row(r - 1);
        const uint16_t* mid = src.Row(r);
        const uint16_t* down = src.Row(r + 1);
        const uint16_t* tableUp = rows.Row(r - 1);
        uint16_t* out = rows.Row(r);
        for (int32_t px = 0; px < 2; ++px) {
            if (!g2[r & 1][px])
                continue;
            const int32_t first = 3 + ((px - 3) & 1); // the first column >= 3 of this parity
            for (int32_t c = first; c <= w - 3; c += 2) {
                const int32_t p = mid[c];
                const double t = q0 * double(p);
                const int32_t d1 = up[c - 1];
                const int32_t d2 = up[c + 1];
                const int32_t d3 = down[c - 1];
                const int32_t d4 = down[c + 1];
                const int32_t g1 = std::abs(d1 - d4);
                const int32_t g2Spread = std::abs(d2 - d3);
                double e1;
                double e2;
                if (g2Spread > g1) {
                    e1 = std::abs(p - d1);
                    e2 = std::abs(p - d4);
                } else if (g2Spread < g1) {
                    e1 = std::abs(p - d2);
                    e2 = std::abs(p - d3);
                } else {
                    e1 = (double(std::abs(p - d1)) + double(std::abs(p - d4))) / 2.0;
                    e2 = e1;
                }
                const double e3 = verticalCheck ? double(std::abs(int32_t(up[c]) - int32_t(down[c]))) : 0.0;
                const int32_t q = tableUp[c + 1];
                if (!(double(std::abs(p - q)) < t && q <= p && e1 < t && e2 < t && e3 < t))
                    continue;
                double m;
                if (g2Spread > g1)
                    m = (double(d1) + double(d4)) / 2.0;
                else if (g2Spread < g1)
                    m = (double(d2) + double(d3)) / 2.0;
                else
                    m = (double(d1) + double(d2) + double(d3) + double(d4)) / 4.0;
                out[c] = std::fabs(double(p) - m) < t ? static_cast<uint16_t>(m) : static_cast<uint16_t>(p);
            }
        }
    }
}

} // namespace engine
