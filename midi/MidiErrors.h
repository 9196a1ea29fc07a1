// The errors of the MIDI rewriters, besides the loader's own EMidiError.

#pragma once

#include <stdexcept>

namespace korvalin {

// A malformed file refused by the rewriter or the playback preparer.
class EReadError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A value out of range: a tempo the rewriter will not write, or a note that a
// transposition would push outside MIDI's 0..127.
class ERangeError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A missing model or track handed to the part playback writer.
class EArgumentNilException : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

}  // namespace korvalin
