// Header initialisers: the public header block of a new, empty LAS file.
//
// Only the 181 bytes that carry a value are stored. The tail of GUIDData4,
// SystemIdentifier after its terminator and the last eight bytes of
// GeneratingSoftware keep whatever the caller's record held, so a caller
// that wants every byte defined clears the record first.
#include "LiDAR.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace {

constexpr char kSoftware[] = "Quillon LiDAR Utilities";
static_assert(sizeof kSoftware == 24, "23 characters and their terminator");

constexpr uint16_t kHeaderBytes = 227;

// Fields with the same name and place in all three versions; bytes 4 to 7
// and 90 to 93 are named differently and are stored by the callers.
template <typename Header>
void fill_common(Header *ph, uint8_t minor)
{
    static_assert(sizeof(Header) == kHeaderBytes);
    std::memcpy(ph->LASF, "LASF", 4);
    ph->GUIDData1 = 0;
    ph->GUIDData2 = 0;
    ph->GUIDData3 = 0;
    ph->GUIDData4[0] = 0;
    ph->VersionMajor = 1;
    ph->VersionMinor = minor;
    ph->SystemIdentifier[0] = '\0';
    std::memcpy(ph->GeneratingSoftware, kSoftware, sizeof kSoftware);
    ph->HeaderSize = kHeaderBytes;
    ph->OffsetToData = kHeaderBytes;
    ph->NumberOfVariableLengthRecords = 0;
    ph->PointDataFormatID = 0;
    ph->PointDataRecordLength = 0;
    ph->NumberOfPointReturns = 0;
    // The array sits unaligned in the packed record: clear it as bytes.
    std::memset(reinterpret_cast<unsigned char *>(ph) + offsetof(Header, NumberOfPointsByReturn), 0,
                sizeof ph->NumberOfPointsByReturn);
    ph->XScaleFactor = 1.0;
    ph->YScaleFactor = 1.0;
    ph->ZScaleFactor = 1.0;
    ph->XOffset = 0.0;
    ph->YOffset = 0.0;
    ph->ZOffset = 0.0;
    ph->MaxX = 0.0;
    ph->MinX = 0.0;
    ph->MaxY = 0.0;
    ph->MinY = 0.0;
    ph->MaxZ = 0.0;
    ph->MinZ = 0.0;
}

}  // namespace

extern "C" {

void initialize_header10(LAS10Header *ph)
{
    if (ph == nullptr)
        return;
    fill_common(ph, 0);
    ph->Reserved = 0;
    ph->FlightDateJulian = 0;
    ph->Year = 0;
}

void initialize_header11(LAS11Header *ph)
{
    if (ph == nullptr)
        return;
    fill_common(ph, 1);
    ph->FileSourceID = 0;
    ph->Reserved = 0;
    ph->FileCreationDay = 0;
    ph->FileCreationYear = 0;
}

void initialize_header12(LAS12Header *ph)
{
    if (ph == nullptr)
        return;
    fill_common(ph, 2);
    ph->FileSourceID = 0;
    ph->GlobalEncoding = 0;
    ph->FileCreationDay = 0;
    ph->FileCreationYear = 0;
}

}  // extern "C"
