#!/usr/bin/env python3
"""Write the header of a Broadcast-WAV test file for the benchmarks.

Writes everything up to and including the "data" chunk header (ID and size);
the caller appends the audio (dd from /dev/urandom) or extends the file with
`truncate -s` for a sparse one. The layout is what recorders write: RIFF (or
RF64 with a ds64 chunk right after "WAVE"), fmt, bext with a TimeReference,
iXML with the time-reference tags, (JUNK with --align), data.

Usage: make-header.py OUT --audio-bytes N [--rf64] [--time-reference N]
                      [--rate 48000] [--channels 2] [--bits 24]
                      [--file-set UID,INDEX,TOTAL]   (one file of a take written as several)
                      [--align N]   (the audio on a multiple of N bytes, behind a JUNK chunk)
"""
import argparse
import struct
import sys


def chunk(cid: bytes, body: bytes) -> bytes:
    pad = b"\0" if len(body) % 2 else b""
    return cid + struct.pack("<I", len(body)) + body + pad


def main() -> int:
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("out")
    p.add_argument("--audio-bytes", type=int, required=True)
    p.add_argument("--rf64", action="store_true")
    p.add_argument("--time-reference", type=int, default=1_728_000_000)  # 10:00:00 at 48 kHz
    p.add_argument("--rate", type=int, default=48000)
    p.add_argument("--channels", type=int, default=2)
    p.add_argument("--bits", type=int, default=24)
    p.add_argument("--file-set", default="")
    p.add_argument("--align", type=int, default=0,
                   help="pad with a JUNK chunk so that the audio starts on a multiple of this, as recorders do")
    a = p.parse_args()

    block_align = a.channels * a.bits // 8
    if a.audio_bytes % block_align:
        print(f"audio bytes must be a multiple of {block_align}", file=sys.stderr)
        return 2

    fmt = struct.pack("<HHIIHH", 1, a.channels, a.rate, a.rate * block_align, block_align, a.bits)

    bext = bytearray(602)
    bext[0:23] = b"Keeptime benchmark file"  # Description
    bext[256:264] = b"keeptime"  # Originator
    bext[320:330] = b"2024-01-01"  # OriginationDate
    bext[330:338] = b"10:00:00"  # OriginationTime
    struct.pack_into("<Q", bext, 338, a.time_reference)  # TimeReference, low then high
    struct.pack_into("<H", bext, 346, 1)  # Version

    ixml = (
        '<?xml version="1.0" encoding="UTF-8"?>\n<BWFXML>\n'
        "<IXML_VERSION>1.5</IXML_VERSION>\n<PROJECT>bench</PROJECT>\n"
        + (
            "<FILE_SET><FAMILY_UID>{}</FAMILY_UID><FILE_SET_INDEX>{}</FILE_SET_INDEX>"
            "<TOTAL_FILES>{}</TOTAL_FILES></FILE_SET>\n".format(*a.file_set.split(","))
            if a.file_set
            else ""
        )
        + "<SPEED>\n"
        f"<TIMESTAMP_SAMPLES_SINCE_MIDNIGHT_HI>0</TIMESTAMP_SAMPLES_SINCE_MIDNIGHT_HI>\n"
        f"<TIMESTAMP_SAMPLES_SINCE_MIDNIGHT_LO>{a.time_reference}</TIMESTAMP_SAMPLES_SINCE_MIDNIGHT_LO>\n"
        f"<TIMESTAMP_SAMPLE_RATE>{a.rate}</TIMESTAMP_SAMPLE_RATE>\n"
        "</SPEED>\n</BWFXML>\n"
    ).encode()

    middle = chunk(b"fmt ", fmt) + chunk(b"bext", bytes(bext)) + chunk(b"iXML", ixml)
    frames = a.audio_bytes // block_align

    if a.align:
        before = 12 + (8 + 28 if a.rf64 else 0) + len(middle) + 8  # the audio's offset with no padding
        junk = (-(before + 8)) % a.align  # the JUNK chunk's body; its header is 8 bytes
        junk += a.align if junk % 2 else 0  # odd only for an odd alignment; a body of odd length would get a pad byte
        middle += chunk(b"JUNK", bytes(junk))

    if a.rf64:
        ds64_len = 8 + 28
        total = 12 + ds64_len + len(middle) + 8 + a.audio_bytes + (a.audio_bytes & 1)
        ds64 = chunk(b"ds64", struct.pack("<QQQI", total - 8, a.audio_bytes, frames, 0))
        head = b"RF64" + struct.pack("<I", 0xFFFFFFFF) + b"WAVE" + ds64 + middle
        data_size = 0xFFFFFFFF
    else:
        total = 12 + len(middle) + 8 + a.audio_bytes + (a.audio_bytes & 1)
        if total - 8 > 0xFFFFFFFF:
            print("too big for RIFF; use --rf64", file=sys.stderr)
            return 2
        head = b"RIFF" + struct.pack("<I", total - 8) + b"WAVE" + middle
        data_size = a.audio_bytes

    with open(a.out, "wb") as f:
        f.write(head + b"data" + struct.pack("<I", data_size))
    # The header length, for the caller: the audio starts right after it.
    print(len(head) + 8)
    return 0


if __name__ == "__main__":
    sys.exit(main())
