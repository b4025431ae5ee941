/*
 * A plain C program built against the installed liblidar: it makes a small
 * LAS 1.2 file with the library's header initialiser, has the library check
 * and refresh it, and reads the result back. Exit status 0 when all agrees.
 *
 * Usage: lidar_consumer [scratch-file.las]
 */
#include <LiDAR.h>

#include <stdio.h>
#include <string.h>

static int failures = 0;

static void expect(int ok, const char *what)
{
    if (!ok) {
        printf("\nlidar_consumer: FAILED: %s\n", what);
        ++failures;
    }
}

int main(int argc, char **argv)
{
    const char *name = argc > 1 ? argv[1] : "lidar_consumer_scratch.las";
    LAS12Header h;
    LAS12fm0 p[3];
    FILE *f;
    int i;

    expect(check_file_extension("survey.las", "las") == 0, "survey.las has the extension las");
    expect(check_file_extension("survey.txt", "las") < 0, "survey.txt is refused as las");

    memset(&h, 0xFF, sizeof h);
    initialize_header12(&h);
    expect(memcmp(h.LASF, "LASF", 4) == 0, "signature LASF");
    expect(h.VersionMajor == 1 && h.VersionMinor == 2, "version 1.2");
    expect(h.HeaderSize == 227 && h.OffsetToData == 227, "header size and offset 227");
    expect(h.XScaleFactor == 1.0 && h.NumberOfPointReturns == 0, "scale 1, no points");
    expect(h.SystemIdentifier[1] == (char)0xFF, "bytes the initialiser leaves alone");

    /* Three format 0 points, returns 1, 1 and 2; the header's statistics
       are left for the library to fill in. */
    h.PointDataFormatID = 0;
    h.PointDataRecordLength = (uint16_t)sizeof(LAS12fm0);
    h.XScaleFactor = h.YScaleFactor = h.ZScaleFactor = 0.25; /* exact in binary */
    memset(p, 0, sizeof p);
    for (i = 0; i < 3; ++i) {
        p[i].X = 1000 * (i + 1);
        p[i].Y = -500 * i;
        p[i].Z = 250 + i;
        p[i].bitfield = (int8_t)(i < 2 ? 1 : 2);
    }
    f = fopen(name, "wb");
    if (f == NULL || fwrite(&h, sizeof h, 1, f) != 1 || fwrite(p, sizeof p, 1, f) != 1 || fclose(f) != 0) {
        printf("lidar_consumer: cannot write %s\n", name);
        return 1;
    }

    expect(check_las(name) == 5, "check_las: a LAS 1.2 format 0 file (type 5)");
    update_header(name);

    f = fopen(name, "rb");
    if (f == NULL || fread(&h, sizeof h, 1, f) != 1) {
        printf("lidar_consumer: cannot read %s back\n", name);
        return 1;
    }
    fclose(f);
    remove(name);
    expect(h.NumberOfPointReturns == 3, "point count 3");
    expect(h.NumberOfPointsByReturn[0] == 2 && h.NumberOfPointsByReturn[1] == 1, "per-return counts 2, 1");
    expect(h.MaxX == 750.0 && h.MinX == 250.0, "X bounds 250 .. 750");
    expect(h.MaxY == 0.0 && h.MinY == -250.0, "Y bounds -250 .. 0");
    expect(h.MaxZ == 63.0 && h.MinZ == 62.5, "Z bounds 62.5 .. 63");

    printf("\nlidar_consumer: %s\n", failures == 0 ? "ok" : "FAILED");
    return failures == 0 ? 0 : 1;
}
