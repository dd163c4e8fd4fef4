// name_check.h: refuses, before anything is written, an archive that holds
// two names this system takes for one file, a file and a name inside a
// folder of the file's name, or a name that could be the short (8.3) name
// Windows gives another in its folder (format/short_name.h), the launcher's
// own files that this build writes in the top folder counted among them.
// Unpacked, the first and the last would leave the application running over
// another file's content; the second would fail every start halfway. No
// packer stores any of them, so each is damage or made by hand.
//
// Names are compared as the system compares them: component by component,
// each with CompareStringOrdinal ignoring case, the system's own upper-case
// table (format/name_clash.h finds the clash after one sort, n log n
// comparisons, and one walk over the sorted names). Runs only where the launcher is about to unpack, never on
// a start that finds every file in place. Main thread only.
#ifndef ZOBREL_PAYLOAD_NAME_CHECK_H
#define ZOBREL_PAYLOAD_NAME_CHECK_H

#include "common/launch_shared.h"
#include "common/stage_result.h"
#include "payload/header.h"
#include "payload/payload_state.h"

// With a usable record index, checks its names, which the unpacker then
// holds the stream's to, record for record. Without one, reads the whole
// stream once for its names alone (opening the payload's reader on `input`
// and closing it again, so the unpacker reads it afresh from its start): a
// stream can only be read once, and a clash found only when its second name
// comes would come after the first was written. That costs a second decode,
// for archives that carry no usable index, which no packer makes.
//
// FAILURE_DECODE on a clash, or when the stream read for its names is
// damaged (a name too long, the stream ending early, decoded bytes after the
// end marker); FAILURE_MEMORY when the sort's bookkeeping, the names or the
// reader cannot be had. Writes nothing.
StageResult check_names_apart(const LaunchShared *launch, PayloadStage *payload, const PayloadInput &input);

#endif
