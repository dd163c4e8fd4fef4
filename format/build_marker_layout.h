// build_marker_layout.h: the layout of the build marker (BUILD_MARKER_NAME,
// archive_name.h), the small file a launcher of a build that keeps a number
// of builds writes in the top of its unpack folder: which product's launcher
// made the folder, and under which name. The one reader and the one writer,
// for the launcher and the tests.
//
// All integers little-endian:
//
//   offset  size  content
//   0       8     magic "ZOBBUIL2"
//   8       8     the product's identity (build_marker_identity)
//   16      4     N, the units of the folder's name: 1 to BUILD_MARKER_FOLDER_NAME_LIMIT
//   20      2N    the name of the folder the marker was written in, UTF-16,
//                 exactly as the file system gave it
//   20+2N   4     CRC-32 (zlib's polynomial) of all before it
//
// Nothing may follow. The name is what keeps a copy of a build's folder (a
// backup beside it, Explorer's "... - Copy", a folder renamed by hand) from
// being taken for the build: its marker names another folder.
//
// The earlier marker was 16 bytes: the magic "ZOBBUILD" and the identity.
// It names no folder, so a folder that holds one could be a copy of any
// build: it is told apart (BUILD_MARKER_EARLIER) only so that nothing takes
// it for a build.
#ifndef ZOBREL_FORMAT_BUILD_MARKER_LAYOUT_H
#define ZOBREL_FORMAT_BUILD_MARKER_LAYOUT_H

#include <stddef.h>
#include <stdint.h>

// Units of a folder's name a marker can hold: a name NTFS accepts.
static const uint32_t BUILD_MARKER_FOLDER_NAME_LIMIT = 255;

// Bytes before the name, and the bytes of the largest marker.
static const size_t BUILD_MARKER_HEADER_SIZE = 20;
static const size_t BUILD_MARKER_CAPACITY = BUILD_MARKER_HEADER_SIZE + 2 * BUILD_MARKER_FOLDER_NAME_LIMIT + 4;

// Bytes of the earlier marker.
static const size_t EARLIER_BUILD_MARKER_SIZE = 16;

// The product a build belongs to: 64-bit FNV-1a over its company's UTF-16
// units, a 0 unit and its product's (both NUL-terminated), exactly as built:
// letter case counts, so another spelling is another product, never touched.
uint64_t build_marker_identity(const char16_t *company, const char16_t *product);

enum BuildMarkerForm {
    // Not a marker: another file, damaged, cut short or longer.
    BUILD_MARKER_NONE,
    // The earlier 16-byte marker.
    BUILD_MARKER_EARLIER,
    // A whole marker of this layout.
    BUILD_MARKER_WHOLE,
};

// What a marker says; the name points into the bytes it was read from.
struct BuildMarkerView {
    uint64_t identity;
    const unsigned char *folder_name;  // folder_name_length little-endian units
    uint32_t folder_name_length;
};

// Reads `size` bytes as a marker. For BUILD_MARKER_WHOLE the view holds all
// it says; for BUILD_MARKER_EARLIER its identity and no name; for
// BUILD_MARKER_NONE it is zeroed.
BuildMarkerForm check_build_marker(const unsigned char *bytes, size_t size, BuildMarkerView *view);

// True when a whole marker's view names exactly this folder (`length`
// units, compared unit for unit: a name the file system gives back is the
// name it was given, and any other spelling is taken for another folder).
bool build_marker_names_folder(const BuildMarkerView &view, const char16_t *name, size_t length);

// Writes the marker of that identity and folder name into out (`capacity`
// bytes; BUILD_MARKER_CAPACITY always suffices). Returns its size, or 0,
// writing nothing, when the name is empty or longer than
// BUILD_MARKER_FOLDER_NAME_LIMIT or the marker does not fit.
size_t write_build_marker(uint64_t identity, const char16_t *folder_name, size_t length, unsigned char *out,
                          size_t capacity);

#endif
