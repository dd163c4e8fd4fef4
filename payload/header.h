// header.h: the check of the payload blob's three-byte header.
#ifndef ZOBREL_PAYLOAD_HEADER_H
#define ZOBREL_PAYLOAD_HEADER_H

// Compares the three bytes at the payload cursor with "QJ" and "Y", byte for
// byte, and moves the cursor past them. A mismatch ends the launcher with
// "Error, couldn't find attached data header." and exit status 2.
void check_payload_header();

#endif
