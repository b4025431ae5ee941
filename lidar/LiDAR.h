/*
 * LiDAR.h - shared LAS helpers of the Quillon LiDAR Utilities.
 *
 * Packed byte images of the LAS 1.0 / 1.1 / 1.2 public header block and of
 * point records of formats 0 to 3, plus the exported helper functions.
 * Every record mirrors the file byte for byte (little-endian), so a header
 * or a point is read and written as one raw block.
 */
#ifndef LIDAR_H
#define LIDAR_H

#include <stddef.h>
#include <stdint.h>

#if !defined(__BYTE_ORDER__) || __BYTE_ORDER__ != __ORDER_LITTLE_ENDIAN__
#error "the LAS records are raw little-endian images: a little-endian host is required"
#endif

#if defined(_WIN32)
#define LIDAR_API __declspec(dllexport)
#else
#define LIDAR_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
#define LIDAR_STATIC_ASSERT(cond, msg) static_assert(cond, msg)
extern "C" {
#else
#define LIDAR_STATIC_ASSERT(cond, msg) _Static_assert(cond, msg)
#endif

/* Records and declarations are laid out in columns, as the file is. */
/* clang-format off */
#pragma pack(push, 1)

typedef struct LAS10Header {
    char     LASF[4];
    uint32_t Reserved;
    uint32_t GUIDData1;
    uint16_t GUIDData2;
    uint16_t GUIDData3;
    uint8_t  GUIDData4[8];
    uint8_t  VersionMajor;
    uint8_t  VersionMinor;
    char     SystemIdentifier[32];
    char     GeneratingSoftware[32];
    uint16_t FlightDateJulian;
    uint16_t Year;
    uint16_t HeaderSize;
    uint32_t OffsetToData;
    uint32_t NumberOfVariableLengthRecords;
    uint8_t  PointDataFormatID;
    uint16_t PointDataRecordLength;
    uint32_t NumberOfPointReturns;
    uint32_t NumberOfPointsByReturn[5];
    double   XScaleFactor;
    double   YScaleFactor;
    double   ZScaleFactor;
    double   XOffset;
    double   YOffset;
    double   ZOffset;
    double   MaxX;
    double   MinX;
    double   MaxY;
    double   MinY;
    double   MaxZ;
    double   MinZ;
} LAS10Header;

typedef struct LAS11Header {
    char     LASF[4];
    uint16_t FileSourceID;
    uint16_t Reserved;
    uint32_t GUIDData1;
    uint16_t GUIDData2;
    uint16_t GUIDData3;
    uint8_t  GUIDData4[8];
    uint8_t  VersionMajor;
    uint8_t  VersionMinor;
    char     SystemIdentifier[32];
    char     GeneratingSoftware[32];
    uint16_t FileCreationDay;
    uint16_t FileCreationYear;
    uint16_t HeaderSize;
    uint32_t OffsetToData;
    uint32_t NumberOfVariableLengthRecords;
    uint8_t  PointDataFormatID;
    uint16_t PointDataRecordLength;
    uint32_t NumberOfPointReturns;
    uint32_t NumberOfPointsByReturn[5];
    double   XScaleFactor;
    double   YScaleFactor;
    double   ZScaleFactor;
    double   XOffset;
    double   YOffset;
    double   ZOffset;
    double   MaxX;
    double   MinX;
    double   MaxY;
    double   MinY;
    double   MaxZ;
    double   MinZ;
} LAS11Header;

typedef struct LAS12Header {
    char     LASF[4];
    uint16_t FileSourceID;
    uint16_t GlobalEncoding;
    uint32_t GUIDData1;
    uint16_t GUIDData2;
    uint16_t GUIDData3;
    uint8_t  GUIDData4[8];
    uint8_t  VersionMajor;
    uint8_t  VersionMinor;
    char     SystemIdentifier[32];
    char     GeneratingSoftware[32];
    uint16_t FileCreationDay;
    uint16_t FileCreationYear;
    uint16_t HeaderSize;
    uint32_t OffsetToData;
    uint32_t NumberOfVariableLengthRecords;
    uint8_t  PointDataFormatID;
    uint16_t PointDataRecordLength;
    uint32_t NumberOfPointReturns;
    uint32_t NumberOfPointsByReturn[5];
    double   XScaleFactor;
    double   YScaleFactor;
    double   ZScaleFactor;
    double   XOffset;
    double   YOffset;
    double   ZOffset;
    double   MaxX;
    double   MinX;
    double   MaxY;
    double   MinY;
    double   MaxZ;
    double   MinZ;
} LAS12Header;

/* Point data format 0: the fields common to every format. */
typedef struct LAS12fm0 {
    int32_t  X;
    int32_t  Y;
    int32_t  Z;
    uint16_t Intensity;
    int8_t   bitfield; /* bits 0-2: return number */
    uint8_t  Classification;
    uint8_t  ScanAngleRank;
    uint8_t  UserData;
    uint16_t PointSourceID;
} LAS12fm0;

typedef struct LAS12fm1 {
    int32_t  X;
    int32_t  Y;
    int32_t  Z;
    uint16_t Intensity;
    int8_t   bitfield;
    uint8_t  Classification;
    uint8_t  ScanAngleRank;
    uint8_t  UserData;
    uint16_t PointSourceID;
    double   GPSTime;
} LAS12fm1;

typedef struct LAS12fm2 {
    int32_t  X;
    int32_t  Y;
    int32_t  Z;
    uint16_t Intensity;
    int8_t   bitfield;
    uint8_t  Classification;
    uint8_t  ScanAngleRank;
    uint8_t  UserData;
    uint16_t PointSourceID;
    uint16_t Red;
    uint16_t Green;
    uint16_t Blue;
} LAS12fm2;

typedef struct LAS12fm3 {
    int32_t  X;
    int32_t  Y;
    int32_t  Z;
    uint16_t Intensity;
    int8_t   bitfield;
    uint8_t  Classification;
    uint8_t  ScanAngleRank;
    uint8_t  UserData;
    uint16_t PointSourceID;
    double   GPSTime;
    uint16_t Red;
    uint16_t Green;
    uint16_t Blue;
} LAS12fm3;

#pragma pack(pop)

/* The layouts are file images: any drift here silently corrupts files. */
LIDAR_STATIC_ASSERT(sizeof(LAS10Header) == 227, "LAS 1.0 header is 227 bytes");
LIDAR_STATIC_ASSERT(sizeof(LAS11Header) == 227, "LAS 1.1 header is 227 bytes");
LIDAR_STATIC_ASSERT(sizeof(LAS12Header) == 227, "LAS 1.2 header is 227 bytes");
LIDAR_STATIC_ASSERT(offsetof(LAS12Header, VersionMajor) == 24, "VersionMajor at 24");
LIDAR_STATIC_ASSERT(offsetof(LAS12Header, FileCreationDay) == 90, "FileCreationDay at 90");
LIDAR_STATIC_ASSERT(offsetof(LAS10Header, FlightDateJulian) == 90, "FlightDateJulian at 90");
LIDAR_STATIC_ASSERT(offsetof(LAS12Header, OffsetToData) == 96, "OffsetToData at 96");
LIDAR_STATIC_ASSERT(offsetof(LAS12Header, PointDataFormatID) == 104, "format at 104");
LIDAR_STATIC_ASSERT(offsetof(LAS12Header, PointDataRecordLength) == 105, "record length at 105");
LIDAR_STATIC_ASSERT(offsetof(LAS12Header, NumberOfPointReturns) == 107, "point count at 107");
LIDAR_STATIC_ASSERT(offsetof(LAS12Header, NumberOfPointsByReturn) == 111, "per-return counts at 111");
LIDAR_STATIC_ASSERT(offsetof(LAS12Header, XScaleFactor) == 131, "scale factors at 131");
LIDAR_STATIC_ASSERT(offsetof(LAS12Header, XOffset) == 155, "offsets at 155");
LIDAR_STATIC_ASSERT(offsetof(LAS12Header, MaxX) == 179, "bounds at 179");
LIDAR_STATIC_ASSERT(offsetof(LAS12Header, MinZ) == 219, "MinZ at 219");
LIDAR_STATIC_ASSERT(offsetof(LAS11Header, NumberOfPointReturns) == 107, "1.1 point count at 107");
LIDAR_STATIC_ASSERT(offsetof(LAS10Header, NumberOfPointReturns) == 107, "1.0 point count at 107");
LIDAR_STATIC_ASSERT(offsetof(LAS10Header, MaxX) == 179, "1.0 bounds at 179");
LIDAR_STATIC_ASSERT(offsetof(LAS11Header, MaxX) == 179, "1.1 bounds at 179");
LIDAR_STATIC_ASSERT(sizeof(LAS12fm0) == 20, "format 0 record is 20 bytes");
LIDAR_STATIC_ASSERT(sizeof(LAS12fm1) == 28, "format 1 record is 28 bytes");
LIDAR_STATIC_ASSERT(sizeof(LAS12fm2) == 26, "format 2 record is 26 bytes");
LIDAR_STATIC_ASSERT(sizeof(LAS12fm3) == 34, "format 3 record is 34 bytes");
LIDAR_STATIC_ASSERT(offsetof(LAS12fm0, bitfield) == 14, "bitfield at 14");
LIDAR_STATIC_ASSERT(offsetof(LAS12fm1, GPSTime) == 20, "GPSTime at 20");
LIDAR_STATIC_ASSERT(offsetof(LAS12fm2, Red) == 20, "format 2 colour at 20");
LIDAR_STATIC_ASSERT(offsetof(LAS12fm3, Red) == 28, "format 3 colour at 28");

/*
 * NULL arguments: a NULL name or text is an invalid argument, refused as an
 * empty one is and printed as an empty text in the message (error_msg
 * prints its message so; check_numeric_argument, which accepts an empty
 * text, refuses NULL; update_header(NULL) ends the process as for a missing
 * file). The initialisers and the sorts do nothing when given NULL.
 */

/* LAS file validation: statuses are 0 (or a LAS type code) and -1. check_las
 * says "File <name> does NOT exist" for a missing file and "File <name>
 * cannot be opened: <the system's reason>" for one it may not open. */
LIDAR_API int16_t file_access(const char *filename);
LIDAR_API int16_t check_file_extension(const char *filename, const char *extension);
LIDAR_API void    error_msg(int i, const char *text);
LIDAR_API int16_t check_las(const char *filename);

/* Rewrites a closed LAS file's point count, per-return counts and bounds;
 * ends the process with -1, the file unchanged, when it cannot (among others:
 * OffsetToData inside the header, more records than the 32-bit count holds). */
LIDAR_API void update_header(const char *filename);

/* Fill a caller's record with the values of a new, empty LAS file. */
LIDAR_API void initialize_header10(LAS10Header *ph);
LIDAR_API void initialize_header11(LAS11Header *ph);
LIDAR_API void initialize_header12(LAS12Header *ph);

/* Start-up checks of the tool family; the void ones end the process on refusal. */
LIDAR_API void    check_numeric_argument(const char *str);
LIDAR_API int16_t check_YN(const char *text);
LIDAR_API void    check_DEM(const char *str);
LIDAR_API void    credits(void);

/* In-place key-and-index quicksorts (middle pivot); p_ind rides along with the
 * keys. Equal keys can come out in another order than that quicksort's only
 * when its partitions of n keys would visit more than 8 n log2 n + 2^24
 * positions in all (inputs laid out against the middle pivot, such as organ
 * pipes of more than about 8,000 keys), because the ranges still unsorted then
 * are heapsorted, which keeps the time n log n. The parallel forms give the
 * plain result: `deep` changes nothing observable. */
LIDAR_API void l_qs(int32_t *p, int32_t left, int32_t right, int32_t *p_ind);
LIDAR_API void l_quicksort(int32_t *p, int32_t count, int32_t *p_ind);
LIDAR_API void d_qs(double *p, int32_t left, int32_t right, int32_t *p_ind);
LIDAR_API void d_quicksort(double *p, int32_t count, int32_t *p_ind);
LIDAR_API void l_parallel_qs(int32_t *p, int32_t left, int32_t right, int32_t *p_ind, int32_t deep);
LIDAR_API void l_parallel_quicksort(int32_t *p, int32_t count, int32_t *p_ind);
LIDAR_API void d_parallel_qs(double *p, int32_t left, int32_t right, int32_t *p_ind, int32_t deep);
LIDAR_API void d_parallel_quicksort(double *p, int32_t count, int32_t *p_ind);

/* clang-format on */

#ifdef __cplusplus
}
#endif

#endif /* LIDAR_H */
