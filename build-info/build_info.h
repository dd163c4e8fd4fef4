// build_info.h: the constants a launcher image is built with. The packer
// generates their definitions (see packer/) for each packed application; the
// launcher only reads them and never changes them.
//
// All strings are NUL-terminated UTF-16. The payload blob holds the layout of
// payload/format.h and is decoded where it lies, never copied.
#ifndef ZOBREL_BUILD_INFO_H
#define ZOBREL_BUILD_INFO_H

extern "C" {
// Path specification of the unpack directory, such as {CACHE_DIR}\Company\Product\1.0.
extern const wchar_t zobrel_target_spec[];

// Product information, the values of the keys COMPANY, PRODUCT, VERSION,
// FILE_VERSION and PRODUCT_VERSION.
extern const wchar_t zobrel_company[];
extern const wchar_t zobrel_product[];
extern const wchar_t zobrel_version[];
extern const wchar_t zobrel_file_version[];
extern const wchar_t zobrel_product_version[];

// The payload blob and its length L in bytes, header and length record included.
extern const unsigned char zobrel_payload_blob[];
extern const unsigned long long zobrel_payload_length;
}

#endif
