#pragma once
#include "StatusCode.h"
#include "VorkException.h"

// The status a caught failure reports, by its kind: a failure that names a
// status reports it; an allocation failure reports an unknown exception (its
// text goes to the debug log with the report); a failure that names none
// reports what the caller falls back to.
namespace FailureStatus {

inline int of(const VorkSupport::VorkException& failure, int fallback) {
    using VorkSupport::VorkFailureKind;
    switch (failure.kind()) {
        case VorkFailureKind::Status: return failure.getCode();
        case VorkFailureKind::AllocationFailure: return StatusCode::UnknownException;
        case VorkFailureKind::NotFound:
        case VorkFailureKind::Unspecified: break;
    }
    return fallback;
}

} // namespace FailureStatus
