// stage_result.h: what a stage of the launch hands back: success, or what
// failed, the system's error code and the path or text it concerns. Stages
// only return results; launcher/failure_report.h alone turns one into a
// message and an exit status.
#ifndef ZOBREL_COMMON_STAGE_RESULT_H
#define ZOBREL_COMMON_STAGE_RESULT_H

enum FailureKind {
    FAILURE_NONE = 0,
    // The payload blob or the build constants are not in the image, or the
    // blob does not start with the payload header.
    FAILURE_HEADER,
    // The payload stream or the archive inside it does not hold: damage.
    FAILURE_DECODE,
    // The decode window or the decoder context cannot be allocated.
    FAILURE_MEMORY,
    // The console event handler cannot be registered.
    FAILURE_SIGNAL_HANDLER,
    // A target file cannot be created; detail: its full path.
    FAILURE_OPEN,
    // Writing a target file fails; code: the system error.
    FAILURE_WRITE,
    // The unpack directory's lock cannot be made or waited for; code.
    FAILURE_LOCK,
    // The child cannot be created or let run; code.
    FAILURE_LAUNCH,
    // A path specification cannot be expanded; detail: the specification,
    // unexpanded.
    FAILURE_EXPAND,
};

struct StageResult {
    FailureKind kind;
    // The system error code, for the kinds that carry one; else 0.
    unsigned long code;
    // The path or specification, for the kinds that carry one; else null.
    // Points into the launch (its shared part or a stage's state) or into
    // constant data: it stays valid as long as the launch it came from.
    const wchar_t *detail;
};

inline StageResult stage_succeeded()
{
    return StageResult{FAILURE_NONE, 0, nullptr};
}

inline StageResult stage_failed(FailureKind kind, unsigned long code = 0, const wchar_t *detail = nullptr)
{
    return StageResult{kind, code, detail};
}

inline bool failed(const StageResult &result)
{
    return result.kind != FAILURE_NONE;
}

#endif
