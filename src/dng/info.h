// The parsed structure of a DNG file: its container, the fields of every image directory, the
// shared DNG fields and EXIF, and which directory holds the main raw image.
#pragma once

#include "exif_info.h"
#include "ifd_info.h"
#include "shared_info.h"
#include "stream.h"
#include "tiff_container.h"

#include <cstdint>
#include <string>
#include <vector>

namespace dng {

class Host;

class Info {
public:
    // Reads the container and the fields of every directory. Throws kErrorBadFormat when the
    // structure cannot be read at all (no TIFF, broken directories, impossible tag values).
    void Parse(Host& host, const Stream& stream);
    // Chooses the main raw directory and settles defaults that depend on it.
    void PostParse(Host& host);
    // The validity rule: DNGVersion present and readable, a main raw directory with CFA or LinearRaw
    // photometric and a consistent layout, UniqueCameraModel present; and no damaged value (below).
    bool IsValidDNG() const;
    // Why IsValidDNG() is false (empty when it is true): the structure's problem, else the values'.
    std::string ValidityProblem() const;
    // Why the file is no DNG by its structure (no version, no usable main raw directory, no
    // model...); empty for a DNG, whether or not its values are sound.
    std::string StructureProblem() const;
    // Why a file that is a DNG by its structure is damaged: a value that DNG readers refuse or that
    // would corrupt a conversion (a zero denominator in a rational that is read, a colour filter
    // pattern without one of its colours, a scale that is not positive or gives an absurd size, an
    // opcode parameter out of its range, a lens warp without a source area). Empty when the values
    // are sound, and when the structure already fails (the file is then simply no valid DNG).
    std::string DamageProblem() const;

    const TiffContainer& Container() const { return fContainer; }
    const std::vector<IfdInfo>& Ifds() const { return fIfds; }
    int32_t MainIndex() const { return fMainIndex; }
    // Throws kErrorBadFormat when there is no main raw directory.
    const IfdInfo& MainIfd() const;
    // The same, for passes that change the geometry of the main image (the half-size passes).
    IfdInfo& MutableMainIfd();
    const SharedInfo& Shared() const { return fShared; }
    bool HasExif() const { return fHasExif; }
    const ExifInfo& Exif() const { return fExif; }
    uint64_t FileLength() const { return fFileLength; }

private:
    static IfdInfo ParseIfd(const TiffDirectory& dir);
    static SharedInfo ParseShared(const TiffDirectory& ifd0);
    static ExifInfo ParseExif(const TiffDirectory& ifd0, const TiffDirectory* exif, const SharedInfo& shared);

    TiffContainer fContainer;
    std::vector<IfdInfo> fIfds;
    int32_t fMainIndex = -1;
    SharedInfo fShared;
    ExifInfo fExif;
    bool fHasExif = false;
    uint64_t fFileLength = 0;
};

} // namespace dng
