// What the TIFF and HEIF module gives the codec module.
#include "TiffHeif.h"

extern "C" IMGLIB_API const crde::TiffHeifEntries* CRDE2001TiffHeifEntries()
{
    static constexpr crde::TiffHeifEntries kEntries{sizeof(crde::TiffHeifEntries), &crde::InfoTiff, &crde::ReadTiff,
                                                    &crde::InfoHeif, &crde::ReadHeif};
    return &kEntries;
}
