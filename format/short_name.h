// short_name.h: which name components Windows' short (8.3) names can make
// one: the kinds of component the clash search (name_clash.h) holds apart
// within one folder.
//
// Windows (FAT, NTFS with short names on, and Wine always) gives a name that
// is not of the short-name form a second, generated one: a few of its
// characters, a '~' and a number or a hash, and up to three characters of
// its extension ("LONGFILENAME.TXT" -> "LONGFI~1.TXT"; under Wine
// "ABCDEFGHIJ.TXT" -> "ABCD~AUF.TXT"), and opens the file by it in any
// letter case. Which one a file gets depends on the system, the volume and
// what the folder held before, so it cannot be foretold; a file written
// under a name equal to it reaches the long-named file instead. So a
// component that could be a generated short name (short-name form, with a
// '~') and a component that gets one are never let into one folder.
//
// The short-name form, as Windows documents it: a base of 1 to 8
// characters, then, optionally, a dot and an extension of 1 to 3; every
// character from the short-name set: letters A-Z in either case (a
// lower-case "readme.txt" gets no short name of its own, and its name is
// matched in any case), digits 0-9 and ! # $ % & ' ( ) - @ ^ _ ` { } ~.
// A component gets a generated short name when it is not of that form: too
// long, more than one dot or a leading one, or a character outside the set
// (a space, + , ; = [ ], a non-ASCII character).
//
// Characters from U+0080 up are outside the set for a name that gets a short
// name (Windows' default, and Wine); but a volume may allow the code page's
// extended characters in generated short names, so they count as inside it
// for a name that could be one. A component can then be of both kinds.
#ifndef ZOBREL_FORMAT_SHORT_NAME_H
#define ZOBREL_FORMAT_SHORT_NAME_H

#include <stddef.h>

// True when Windows gives the component (`length` units, no backslash) a
// generated short name: it is not of the short-name form.
bool gets_generated_short_name(const char16_t *component, size_t length);

// True when the component could be a short name Windows generates for
// another: of the short-name form (extended characters admitted) and
// holding a '~'.
bool could_be_generated_short_name(const char16_t *component, size_t length);

#endif
