#!/usr/bin/env python3
"""Writes a seed corpus for the MIDI fuzzers into DIR: small valid files that
reach every kind of event the loader knows, and edge cases just beside each of
its refusals, so mutation starts next to every branch.

Usage: make_seeds.py DIR
"""
import os
import struct
import sys


def varlen(value):
    groups = [value & 0x7F]
    value >>= 7
    while value:
        groups.append((value & 0x7F) | 0x80)
        value >>= 7
    return bytes(reversed(groups))


def header(fmt, tracks, division, length=6, extra=b""):
    return b"MThd" + struct.pack(">IHHH", length, fmt, tracks, division) + extra


def chunk(data, ident=b"MTrk", length=None):
    return ident + struct.pack(">I", len(data) if length is None else length) + data


def meta(delta, kind, data):
    return varlen(delta) + bytes([0xFF, kind]) + varlen(len(data)) + data


def note(delta, length, channel, pitch, velocity=80):
    return (varlen(delta) + bytes([0x90 | channel, pitch, velocity])
            + varlen(length) + bytes([0x80 | channel, pitch, 0x40]))


END = b"\x00\xff\x2f\x00"


def smf(fmt, division, *tracks, count=None):
    body = b"".join(chunk(t) for t in tracks)
    return header(fmt, len(tracks) if count is None else count, division) + body


def seeds():
    conductor = (meta(0, 0x03, b"Song") + meta(0, 0x51, b"\x07\xa1\x20")
                 + meta(0, 0x58, b"\x03\x02\x18\x08") + meta(0, 0x59, b"\xfd\x00") + END)
    scale = b"".join(note(0, 120, 0, p) for p in (60, 62, 64, 65, 67, 69, 71, 72))
    piano = meta(0, 0x03, "Фортепиано".encode()) + meta(0, 0x04, b"Piano") + b"\x00\xc0\x00" + scale + END
    bass = meta(0, 0x03, b"\xc1\xe0\xf1") + b"".join(note(0, 240, 1, p) for p in (36, 43, 40, 38)) + END
    drums = b"".join(note(0, 60, 9, p) for p in (36, 38, 42, 46)) + END

    yield "format1-three-tracks.mid", smf(1, 480, conductor, piano, bass, drums)
    yield "format0-scale.mid", smf(0, 96, scale + END)
    yield "format2.mid", smf(2, 192, piano, bass)
    yield "no-tracks.mid", header(1, 0, 480)
    yield "ppqn-zero.mid", smf(0, 0, scale + END)
    yield "header-length-10.mid", header(0, 1, 96, length=10, extra=b"MTrk") + chunk(scale + END)
    yield "trailing-garbage.mid", smf(0, 96, scale + END) + b"\xde\xad\xbe\xef"
    yield "uncounted-chunk.mid", smf(1, 96, conductor, piano, b"\x00\x3c", count=2)

    # Pairing: repeated note-on, velocity-0 off, stray offs, a note never ended,
    # a note-on at the same tick, key and velocity bytes of 128 and more.
    pairing = (b"\x00\x90\x3c\x64" b"\x0a\x90\x3c\x32" b"\x0a\x80\x3c\x00" b"\x00\x80\x3c\x00"
               b"\x00\x90\x40\x50" b"\x00\x90\x40\x51" b"\x05\x90\x40\x00"
               b"\x00\x91\x80\x50" b"\x05\x81\x80\x00" b"\x00\x92\x3c\xc8" b"\x05\x82\x3c\x00"
               b"\x00\x93\x43\x40" + END)
    yield "pairing.mid", smf(0, 96, pairing)

    # Running status across a meta event, program changes, controllers, the
    # system bytes 0xF1..0xFE as two-data-byte events.
    running = (b"\x00\x90\x3c\x40" b"\x00\x3e\x40" b"\x00\xff\x01\x02hi" b"\x08\x3c\x00" b"\x00\x3e\x00"
               b"\x00\xc2\x07" b"\x00\x09" b"\x00\xb0\x07\x64" b"\x00\xe0\x00\x40" b"\x00\xa0\x3c\x10"
               b"\x00\xd0\x10" b"\x00\x20")
    for status in list(range(0xF1, 0xF7)) + list(range(0xF8, 0xFF)):
        running += bytes([0x00, status, 0x01, 0x02])
    yield "running-status-and-system-bytes.mid", smf(0, 96, running + END)
    yield "sysex.mid", smf(0, 96, b"\x00\xf0\x05\x7e\x7f\x09\x01\xf7" b"\x00\xf7\x02\x01\x02" + scale + END)

    # Meta events at their limits.
    metas = (meta(0, 0x51, b"\x07\xa1") + meta(0, 0x51, b"\x00\x00\x00") + meta(0, 0x51, b"\xff\xff\xff")
             + meta(0, 0x58, b"\x00\x1f\x18\x08") + meta(0, 0x58, b"\x07") + meta(0, 0x59, b"\x80\x02")
             + meta(0, 0x03, b"") + meta(0, 0x03, b" Bass \x00") + meta(0, 0x04, bytes(range(0x80, 0x100)))
             + meta(0, 0x7F, b"\x00\x00\x41") + scale + END)
    yield "meta-limits.mid", smf(0, 96, metas)
    yield "long-deltas.mid", smf(0, 96, meta(0x0FFFFFFF, 0x01, b"") * 4 + note(0x0FFFFFFF, 0x0FFFFFFF, 0, 60) + END)
    yield "after-end-of-track.mid", smf(0, 96, scale + END + b"\x00\x3c\x40\xff")
    yield "no-end-of-track.mid", smf(0, 96, scale + b"\x05")
    yield "tritone-tie.mid", smf(0, 480, note(0, 1, 0, 60) + note(0, 1, 0, 66) + END)

    # Next to each refusal.
    yield "too-short.mid", header(0, 0, 96)[:13]
    yield "not-midi.mid", b"RIFF\x10\x00\x00\x00RMIDdata"
    yield "header-length-5.mid", header(0, 0, 96, length=5)
    yield "smpte.mid", header(0, 1, 0xE728) + chunk(scale + END)
    yield "missing-track.mid", smf(1, 96, conductor, count=2)
    yield "other-chunk.mid", header(1, 2, 96) + chunk(b"junk", b"XFIH") + chunk(scale + END)
    yield "chunk-past-end.mid", header(0, 1, 96) + chunk(scale + END, length=len(scale) + 40)
    yield "varlen-cut.mid", smf(0, 96, b"\x00\x90\x3c\x40\x81")
    yield "varlen-five.mid", smf(0, 96, b"\x81\x80\x80\x80\x00\x90\x3c\x40")
    yield "running-status-none.mid", smf(0, 96, b"\x00\x3c\x40" + END)
    yield "running-status-after-sysex.mid", smf(0, 96, b"\x00\x90\x3c\x40\x00\xf0\x01\xf7\x00\x3c\x00" + END)
    yield "meta-cut.mid", smf(0, 96, b"\x00\xff")
    yield "meta-length.mid", smf(0, 96, b"\x00\xff\x03\x05ab")
    yield "sysex-length.mid", smf(0, 96, b"\x00\xf0\x05\x7e")
    yield "channel-event-cut.mid", smf(0, 96, b"\x00\x90\x3c")


def main(argv):
    if len(argv) != 2:
        sys.stderr.write("usage: make_seeds.py DIR\n")
        return 2
    folder = argv[1]
    os.makedirs(folder, exist_ok=True)
    for name, data in seeds():
        with open(os.path.join(folder, name), "wb") as out:
            out.write(data)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
