#pragma once

namespace VorkSupport {

// What a failure is, besides its message. A failure that names a status
// carries that status's code; the others say what went wrong without one,
// and the caller decides which status each of them reports.
enum class VorkFailureKind {
    // Nothing more is known than the message.
    Unspecified,
    // The failure names a status code of the caller's enumeration.
    Status,
    // A library could not allocate what it was asked to build.
    AllocationFailure,
    // What was looked for is not there.
    NotFound,
};

} // namespace VorkSupport
